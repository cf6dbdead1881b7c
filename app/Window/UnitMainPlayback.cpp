// TfrmMain: file intake, playback control, the position bar, the marks and the trim modes.
#include "UnitMain.h"

#include "PlayScreen.h"
#include "TrackBar.h"
#include "UnitConst.h"
#include "UnitFunction.h"

#include <QAction>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>

using namespace UnitConst;

namespace {
void SetLabel(QLabel* label, const QString& text) {
    label->setText(text);
    label->adjustSize();
}
} // namespace

// ---- Player events ----------------------------------------------------------------------------

void TfrmMain::FFPlayerFileOpen(int64_t ADuration, int, int, int&, int&) {
    FTimeInfo.TotalTime = ADuration;
    SetLabel(labTotalTime, QString::fromStdString(FormatMediaTime(ADuration)));
    stbPosition->SetMax(int(ADuration / 1000000));
    stbPosition->SetSelStart(0);
    stbPosition->SetSelEnd(0);
    FControl.SeekLock = true;
    struct TUnlock {
        bool& Lock;
        ~TUnlock() { Lock = false; }
    } unlock{FControl.SeekLock};
    stbPosition->SetPosition(0);
}

void TfrmMain::FFPlayerPosition(int64_t APTS) {
    FTimeInfo.PlayTime = APTS;
    SetLabel(labRunTime, QString::fromStdString(FormatMediaTime(APTS)));
    if (APTS > 0 && FTimeInfo.TotalTime > 0 && FControl.Following)
        stbPosition->SetPosition(int(int64_t(stbPosition->Max()) * APTS / FTimeInfo.TotalTime));
}

void TfrmMain::FFPlayerState(int AState) {
    FControl.PlayState = AState;
}

bool TfrmMain::IsMouseButtonDown() {
    return QGuiApplication::mouseButtons() & Qt::LeftButton;
}

// ---- Marks and modes ------------------------------------------------------------------------

void TfrmMain::actCutStartTimeExecute() {
    stbPosition->SetSelStart(stbPosition->Position());
    FTimeInfo.StartMark = FTimeInfo.PlayTime / 1000;
    SetLabel(labTimeS, labRunTime->text());
}

void TfrmMain::actCutEndTimeExecute() {
    stbPosition->SetSelEnd(stbPosition->Position());
    FTimeInfo.EndMark = FTimeInfo.PlayTime / 1000;
    if (stbPosition->SelEnd() < stbPosition->SelStart()) {
        SetLabel(labTimeE, kZeroTime);
        stbPosition->SetSelEnd(0);
        FTimeInfo.EndMark = 0;
        ShowWarning(kEndBeforeStart);
    } else {
        SetLabel(labTimeE, labRunTime->text());
        SetControlEnabled(bbSelectAudio, true);
        SetControlEnabled(bbDeleteAudio, true);
    }
}

void TfrmMain::actSelectAudioExecute() {
    FControl.TrimMode = 1;
    SetControlEnabled(bbSelectAudio, false);
    SetControlEnabled(bbDeleteAudio, true);
    SetControlEnabled(bbSaveFile, true);
}

void TfrmMain::actDeleteAudioExecute() {
    FControl.TrimMode = 2;
    SetControlEnabled(bbSelectAudio, true);
    SetControlEnabled(bbDeleteAudio, false);
    SetControlEnabled(bbSaveFile, true);
}

// ---- Waiting for the player ------------------------------------------------------------------

void TfrmMain::actAddRemoveFileExecute() {}
void TfrmMain::bbPlayClick() {}
void TfrmMain::bbStopClick() {}
void TfrmMain::actGotoFirstExecute() {}
void TfrmMain::actGotoEndExecute() {}
void TfrmMain::stbPositionMouseDown() {}
void TfrmMain::stbPositionMouseUp() {}
