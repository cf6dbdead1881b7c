// TfrmMain: the trim marks, taken at the play position or typed over their labels, and the trim
// modes. Both marks are kept in milliseconds; the bar's selection shows them at its resolution.
#include "UnitMain.h"

#include "TrackBar.h"
#include "UnitConst.h"
#include "UnitFunction.h"

#include "MyUtils.h"

#include <QAction>
#include <QEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using namespace UnitConst;

// ---- Marks from the play position -------------------------------------------------------------

// Trim Left. A start at or after the end mark would leave nothing between them: it is refused
// with the same warning as an end before the start, and the start mark is cleared.
void TfrmMain::actCutStartTimeExecute() {
    int64_t ms = FTimeInfo.PlayTime / 1000;
    if (FTimeInfo.EndMark > 0 && ms >= FTimeInfo.EndMark) {
        SetStartMark(0);
        ShowWarning(kEndBeforeStart);
        return;
    }
    SetStartMark(ms);
    SetLabel(labTimeS, labRunTime->text());
}

// Trim Right. Checked against the start mark in milliseconds: a whole second on the bar would
// accept an end before the start within the same second.
void TfrmMain::actCutEndTimeExecute() {
    int64_t ms = FTimeInfo.PlayTime / 1000;
    if (ms <= FTimeInfo.StartMark) {
        SetEndMark(0);
        ShowWarning(kEndBeforeStart);
        return;
    }
    SetEndMark(ms);
    SetLabel(labTimeE, labRunTime->text());
    SetControlEnabled(bbSelectAudio, true);
    SetControlEnabled(bbDeleteAudio, true);
    UpdateModeButtons();
}

void TfrmMain::SetStartMark(int64_t ms) {
    FTimeInfo.StartMark = ms;
    stbPosition->SetSelStart(BarValue(ms * 1000));
    SetLabel(labTimeS, QString::fromStdString(FormatMediaTime(ms * 1000)));
    UpdateModeButtons();
}

void TfrmMain::SetEndMark(int64_t ms) {
    FTimeInfo.EndMark = ms;
    stbPosition->SetSelEnd(BarValue(ms * 1000));
    SetLabel(labTimeE, QString::fromStdString(FormatMediaTime(ms * 1000)));
    UpdateModeButtons();
}

// ---- Modes --------------------------------------------------------------------------------------

void TfrmMain::actSelectAudioExecute() {
    FSaveControl.TrimMode = 1;
    SetControlEnabled(bbSelectAudio, false);
    SetControlEnabled(bbDeleteAudio, true);
    SetControlEnabled(bbSaveFile, true);
    UpdateModeButtons();
}

void TfrmMain::actDeleteAudioExecute() {
    FSaveControl.TrimMode = 2;
    SetControlEnabled(bbSelectAudio, true);
    SetControlEnabled(bbDeleteAudio, false);
    SetControlEnabled(bbSaveFile, true);
    UpdateModeButtons();
}

// The chosen mode's button stays pressed, also after a save has enabled both. Prelisten needs a
// selection to play.
void TfrmMain::UpdateModeButtons() {
    bbSelectAudio->setChecked(FSaveControl.TrimMode == 1);
    bbDeleteAudio->setChecked(FSaveControl.TrimMode == 2);
    bool selection = FTimeInfo.EndMark > FTimeInfo.StartMark;
    actPrelisten->setEnabled(selection && bbCutEndTime->isEnabled());
    SyncOverview();
}

// ---- Typed marks ------------------------------------------------------------------------------

namespace {

// The editor of a mark time: Enter applies, Esc cancels, and so does leaving it for another
// control. Leaving it for a message box (the refusal of what was typed) keeps it open.
class TMarkEdit : public QLineEdit {
public:
    TMarkEdit(QWidget* parent, std::function<void(bool apply)> done) : QLineEdit(parent), FDone(std::move(done)) {
        connect(this, &QLineEdit::returnPressed, this, [this] { FDone(true); });
    }

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Escape) {
            FDone(false);
            return;
        }
        QLineEdit::keyPressEvent(event);
    }
    void focusOutEvent(QFocusEvent* event) override {
        QLineEdit::focusOutEvent(event);
        Qt::FocusReason reason = event->reason();
        if (isVisible() && reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            FDone(false);
    }

private:
    std::function<void(bool apply)> FDone;
};

} // namespace

void TfrmMain::CreateMarkEditors() {
    auto make = [this](const char* name, QLabel* label, bool start) {
        auto* edit = new TMarkEdit(this, [this, start](bool apply) { MarkEditDone(start, apply); });
        edit->setObjectName(name);
        edit->setFont(label->font());
        edit->hide();
        label->setToolTip(QString::fromUtf8(kHintEditMark));
        label->setCursor(Qt::IBeamCursor);
        label->installEventFilter(this);
        return edit;
    };
    edtTimeS = make("edtTimeS", labTimeS, true);
    edtTimeE = make("edtTimeE", labTimeE, false);
}

void TfrmMain::EditMark(bool start) {
    // Marks belong to an open file, and stay as they are while a save runs.
    if (!bbCutStartTime->isEnabled()) return;
    QLabel* label = start ? labTimeS : labTimeE;
    QLineEdit* edit = start ? edtTimeS : edtTimeE;
    QRect r = label->geometry();
    edit->setGeometry(r.x() - 3, r.y() - 3, std::max(r.width() + 8, 80), r.height() + 6);
    edit->setText(label->text());
    edit->selectAll();
    edit->show();
    edit->raise();
    edit->setFocus(Qt::OtherFocusReason);
}

void TfrmMain::MarkEditDone(bool start, bool apply) {
    QLineEdit* edit = start ? edtTimeS : edtTimeE;
    if (!edit || !edit->isVisible()) return;
    if (apply && !ApplyTypedMark(start, edit->text().toStdString())) {
        edit->selectAll();
        edit->setFocus(Qt::OtherFocusReason);
        return;
    }
    edit->hide();
    if (isActiveWindow()) setFocus(Qt::OtherFocusReason); // the window's keys work again
}

// The same rules as the marks taken at the play position, and the same warning; a refused time
// leaves both marks as they were.
bool TfrmMain::ApplyTypedMark(bool start, const std::string& text) {
    int64_t ms = 0;
    if (!ParseMediaTime(text, ms)) {
        ShowWarning(kBadTypedTime);
        return false;
    }
    if (FTimeInfo.TotalTime > 0 && ms > FTimeInfo.TotalTime / 1000) {
        ShowWarning(Format(kTimeAfterEnd, FormatMediaTime(ms * 1000).c_str(),
                           FormatMediaTime(FTimeInfo.TotalTime).c_str()));
        return false;
    }
    bool valid = start ? FTimeInfo.EndMark == 0 || ms < FTimeInfo.EndMark : ms > FTimeInfo.StartMark;
    if (!valid) {
        ShowWarning(kEndBeforeStart);
        return false;
    }
    if (start) {
        SetStartMark(ms);
    } else {
        SetEndMark(ms);
        SetControlEnabled(bbSelectAudio, true);
        SetControlEnabled(bbDeleteAudio, true);
    }
    return true;
}
