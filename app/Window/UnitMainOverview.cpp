// TfrmMain: the overview in the play screen's place. It shows the whole file with the position
// and the marks; a click seeks, a dragged handle moves its mark under the same rules as the
// window's keys, and W switches to the player's live waveform and back.
#include "UnitMain.h"

#include "AnchorLayout.h"
#include "OverviewView.h"
#include "PlayScreen.h"
#include "UnitConst.h"

#include "MyUtils.h"

#include <QAction>
#include <QFrame>
#include <QPushButton>

namespace {
constexpr const char* kKeyToggleOverview = "W";
constexpr const char* kHintOverview =
    "Click to go there, drag a handle to move its mark, wheel or + and - to "
    "zoom, 0 for the whole file, Shift+wheel or drag to scroll "
    "(W: the live waveform)";
} // namespace

void TfrmMain::CreateOverview() {
    memOverview = new TOverviewView(this);
    memOverview->setGeometry(memPlayScreen->geometry());
    memOverview->setToolTip(QString::fromUtf8(kHintOverview));
    FLayout->Add(memOverview, akGrowWidth | akGrowHeight);
    memPlayScreen->hide();   // the player draws into it all the same
    panInformation->raise(); // over both screens while no file is open
    connect(memOverview, &TOverviewView::seekRequested, this, [this](qint64 us) {
        if (bbPlay->isEnabled()) MoveTo(us);
    });
    connect(memOverview, &TOverviewView::markDragged, this,
            [this](int mark, qint64 ms) { OverviewMarkDragged(mark == TOverviewView::mkStart, ms); });

    actToggleOverview = new QAction(this);
    actToggleOverview->setObjectName("actToggleOverview");
    actToggleOverview->setShortcut(QKeySequence::fromString(kKeyToggleOverview));
    actToggleOverview->setShortcutContext(Qt::WindowShortcut);
    connect(actToggleOverview, &QAction::triggered, this, &TfrmMain::actToggleOverviewExecute);
    addAction(actToggleOverview);
    CreateZoomKeys();
}

void TfrmMain::actToggleOverviewExecute() {
    bool overview = !memOverview->isVisible();
    memOverview->setVisible(overview);
    memPlayScreen->setVisible(!overview);
}

// A handle moves within what the keys would accept: the start stays before the end mark, the end
// after the start, both inside the file. A drag never asks the user anything.
void TfrmMain::OverviewMarkDragged(bool start, int64_t ms) {
    if (!bbCutStartTime->isEnabled()) return; // no file, or a save runs
    int64_t total = FTimeInfo.TotalTime > 0 ? FTimeInfo.TotalTime / 1000 : INT64_MAX;
    ms = std::clamp<int64_t>(ms, 0, total);
    if (start) {
        if (FTimeInfo.EndMark > 0) ms = std::min(ms, FTimeInfo.EndMark - 1);
        if (ms != FTimeInfo.StartMark) SetStartMark(std::max<int64_t>(ms, 0));
        return;
    }
    ms = std::max(ms, FTimeInfo.StartMark + 1);
    if (ms > total || ms == FTimeInfo.EndMark) return;
    SetEndMark(ms);
    SetControlEnabled(bbSelectAudio, true);
    SetControlEnabled(bbDeleteAudio, true);
    UpdateModeButtons();
}

void TfrmMain::SyncOverview() {
    if (!memOverview) return;
    memOverview->SetMarks(FTimeInfo.StartMark, FTimeInfo.EndMark > 0 ? FTimeInfo.EndMark : -1);
    memOverview->SetDeleteMode(FSaveControl.TrimMode == 2);
}
