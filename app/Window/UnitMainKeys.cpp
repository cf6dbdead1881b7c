// TfrmMain: the window's keys. They are shortcuts of the window, not of the focused control, and
// run the same handlers as the buttons; the tool tips name them.
#include "UnitMain.h"

#include "OverviewView.h"
#include "TrackBar.h"
#include "UnitConst.h"

#include <QAction>
#include <QKeySequence>
#include <QPushButton>
#include <QStringList>

using namespace UnitConst;

namespace {

// "I;[" as the key sequences I and [.
QList<QKeySequence> KeyList(const char* keys) {
    QList<QKeySequence> list;
    for (const QString& key : QString::fromUtf8(keys).split(';'))
        list << QKeySequence::fromString(key, QKeySequence::PortableText);
    return list;
}

// A hint with its keys: "Trim Left (I or [)".
QString HintWithKeys(const char* hint, const char* keys) {
    QStringList names;
    for (const QKeySequence& key : KeyList(keys))
        names << key.toString(QKeySequence::NativeText);
    return QString("%1 (%2)").arg(QString::fromUtf8(hint), names.join(" or "));
}

void SetHint(QWidget* control, QAction* action, const char* hint, const char* keys) {
    control->setToolTip(HintWithKeys(hint, keys));
    if (action) action->setToolTip(control->toolTip());
}

constexpr double kZoomPerKey = 2.0;

// The zoom keys: + (or = on the same key) in, - out, 0 the whole file.
struct TZoomKey {
    const char* Name;
    const char* Keys;
    double Factor; // 0: the whole file
};
constexpr TZoomKey kZoomKeys[] = {
    {"actZoomIn", "+;=", kZoomPerKey}, {"actZoomOut", "-", 1 / kZoomPerKey}, {"actZoomAll", "0", 0}};

} // namespace

void TfrmMain::CreateKeys() {
    const std::pair<QAction*, const char*> keys[] = {
        {actPlayPause, kKeyPlayPause},     {actGotoFirst, kKeyGotoFirst}, {actGotoEnd, kKeyGotoEnd},
        {actCutStartTime, kKeysCutStart},  {actCutEndTime, kKeysCutEnd},  {actSelectAudio, kKeySelectAudio},
        {actDeleteAudio, kKeyDeleteAudio}, {actPrelisten, kKeyPrelisten}, {actAddRemoveFile, kKeyAddFile},
        {actSaveFile, kKeySaveFile},       {actStopSave, kKeyStopSave},
    };
    for (auto [action, key] : keys) {
        action->setShortcuts(KeyList(key));
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action);
    }
    actStopSave->setEnabled(false); // only while saving

    // The arrows move the position: 1 s, with Shift 10 s, with Ctrl 10 ms.
    const std::pair<Qt::KeyboardModifiers, int64_t> steps[] = {
        {Qt::NoModifier, kStepPlain}, {Qt::ShiftModifier, kStepShift}, {Qt::ControlModifier, kStepCtrl}};
    for (auto [modifiers, step] : steps)
        for (auto [key, sign] : {std::pair{Qt::Key_Left, -1}, std::pair{Qt::Key_Right, 1}}) {
            auto* action = new QAction(this);
            action->setObjectName(QString("actStep%1%2").arg(sign < 0 ? "Back" : "On").arg(step));
            action->setShortcut(QKeySequence(modifiers | key));
            action->setShortcutContext(Qt::WindowShortcut);
            int64_t delta = sign * step;
            connect(action, &QAction::triggered, this, [this, delta] { StepPosition(delta); });
            addAction(action);
        }

    SetHint(bbPlay, nullptr, kHintPlay, kKeyPlayPause);
    SetHint(bbStop, nullptr, kHintStop, kKeyPlayPause);
    SetHint(bbGotoFirst, actGotoFirst, kHintGotoFirst, kKeyGotoFirst);
    SetHint(bbGotoEnd, actGotoEnd, kHintGotoEnd, kKeyGotoEnd);
    SetHint(bbCutStartTime, actCutStartTime, kHintCutStart, kKeysCutStart);
    SetHint(bbCutEndTime, actCutEndTime, kHintCutEnd, kKeysCutEnd);
    SetHint(bbSelectAudio, actSelectAudio, kHintSelectAudio, kKeySelectAudio);
    SetHint(bbDeleteAudio, actDeleteAudio, kHintDeleteAudio, kKeyDeleteAudio);
    SetHint(bbPrelisten, actPrelisten, kHintPrelisten, kKeyPrelisten);
    SetHint(bbAddRemoveFile, actAddRemoveFile, kHintAddFile, kKeyAddFile);
    bbSaveFile->setToolTip(HintWithKeys(kHintSaveFile, kKeySaveFile) + ", " +
                           HintWithKeys(kStop, kKeyStopSave).replace(")", " while saving)"));
}

void TfrmMain::actPlayPauseExecute() {
    if (!bbPlay->isEnabled()) return;
    bool playing = (FControl.PlayState == 0 || FControl.PlayState == 4) && !FControl.HoldPosition;
    if (playing)
        bbStopClick();
    else
        bbPlayClick();
}

void TfrmMain::StepPosition(int64_t deltaUs) {
    if (!stbPosition->isEnabled() || FTimeInfo.TotalTime <= 0) return;
    StopPrelisten();
    MoveTo(FTimeInfo.PlayTime + deltaUs);
}

void TfrmMain::actSaveFileExecute() {
    if (Tag(bbSaveFile) == 0 && bbSaveFile->isEnabled()) bbSaveFileClick();
}

void TfrmMain::actStopSaveExecute() {
    if (Tag(bbSaveFile) == 1) bbSaveFileClick();
}

// The overview's zoom keys, around the play position.
void TfrmMain::CreateZoomKeys() {
    for (const TZoomKey& zoom : kZoomKeys) {
        auto* action = new QAction(this);
        action->setObjectName(zoom.Name);
        action->setShortcuts(KeyList(zoom.Keys));
        action->setShortcutContext(Qt::WindowShortcut);
        double factor = zoom.Factor;
        connect(action, &QAction::triggered, this, [this, factor] {
            if (!memOverview || !memOverview->isVisible()) return;
            if (factor > 0)
                memOverview->ZoomAroundPosition(factor);
            else
                memOverview->ShowAll();
        });
        addAction(action);
    }
}
