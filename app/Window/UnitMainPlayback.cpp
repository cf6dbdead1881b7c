// TfrmMain: file intake, playback control, the position bar, the marks and the trim modes.
#include "UnitMain.h"

#include "PlayScreen.h"
#include "TrackBar.h"
#include "UnitConst.h"
#include "UnitFunction.h"

#include "MyUtils.h"

#include <QAction>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <algorithm>
#include <chrono>

using namespace UnitConst;

namespace {
void SetLabel(QLabel* label, const QString& text) {
    label->setText(text);
    label->adjustSize();
}
} // namespace

// ---- Adding a file ----------------------------------------------------------------------------

void TfrmMain::actAddRemoveFileExecute() {
    bool fileWasOpen = Tag(bbAddRemoveFile) != 0;
    if (fileWasOpen) FFPlayer->Pause();
    if (!FDialogs->ExecuteOpen(this, odInputFile)) {
        if (fileWasOpen) FFPlayer->Resume();
        return;
    }
    std::string name = odInputFile.FileName;
    // A refused file leaves the open one paused, and saves keep reading the open one.
    if (!CheckInputFile(name)) return;
    if (!FFPlayer->Open(name, memPlayScreen)) {
        // The player has closed what was open: back to the state without a file.
        ShowMessage(FFPlayer->LastErrMsg);
        FWorkflow->InputFile.clear();
        memPlayScreen->ClearFrame();
        ResetControls(0);
        panInformation->show();
        bbAddRemoveFile->setProperty("Tag", 0);
        return;
    }
    FWorkflow->InputFile = name;
    ResetControls(1);
    FControl.Following = true;
    if (!fileWasOpen) bbAddRemoveFile->setProperty("Tag", Tag(bbAddRemoveFile) + 1);
}

// ---- Player events ----------------------------------------------------------------------------

void TfrmMain::FFPlayerFileOpen(int64_t ADuration, int, int, int&, int&) {
    FTimeInfo.TotalTime = ADuration;
    SetLabel(labTotalTime, QString::fromStdString(FormatMediaTime(ADuration)));
    stbPosition->SetMax(int(std::max<int64_t>(0, ADuration / 1000000))); // -1: no duration known
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

int TfrmMain::PlayStateNumber(TPlayState state) {
    switch (state) {
    case psPlay:
        return 0;
    case psPause:
        return 1;
    case psStop:
        return 2;
    case psEnd:
        return 3;
    case psResume:
        return 4;
    case psStep:
        return 5;
    }
    return 0;
}

// ---- Playback control -----------------------------------------------------------------------

void TfrmMain::bbPlayClick() {
    FControl.Following = true;
    FFPlayer->Resume();
    // After the end the file is opened again, which plays it from the beginning. It is the same
    // file, so the marks stay on the bar as they stay in the labels and in milliseconds.
    if (FControl.PlayState == 3 && !FWorkflow->InputFile.empty()) {
        int selStart = stbPosition->SelStart(), selEnd = stbPosition->SelEnd();
        if (FFPlayer->Open(FWorkflow->InputFile, memPlayScreen)) {
            stbPosition->SetSelStart(selStart);
            stbPosition->SetSelEnd(selEnd);
        }
    }
}

// Pauses: Play continues from the same place.
void TfrmMain::bbStopClick() {
    FFPlayer->Pause();
}

void TfrmMain::Delay(int ms) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    WaitUntil([until] { return std::chrono::steady_clock::now() >= until; });
}

// The bar stops following playback until Play is pressed.
void TfrmMain::actGotoFirstExecute() {
    FControl.Following = false;
    FFPlayer->Pause();
    FFPlayer->Seek(0);
    FFPlayer->Resume();
    Delay(100); // lets the player show the new place
    FFPlayer->Pause();
    stbPosition->SetPosition(0);
}

void TfrmMain::actGotoEndExecute() {
    FControl.Following = false;
    FFPlayer->Pause();
    // The duration cut down to a whole multiple of 10 seconds.
    FFPlayer->Seek(FTimeInfo.TotalTime / 10000000 * 10000000);
    FFPlayer->Resume();
    Delay(100);
    FFPlayer->Pause();
    stbPosition->SetPosition(stbPosition->Max());
}

void TfrmMain::stbPositionMouseDown() {
    FFPlayer->Pause();
}

void TfrmMain::stbPositionMouseUp() {
    if (!FControl.SeekLock && !IsMouseButtonDown()) {
        if (stbPosition->Max() != 0)
            FFPlayer->Seek(FTimeInfo.TotalTime * stbPosition->Position() / stbPosition->Max());
    }
    FFPlayer->Resume();
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
    FSaveControl.TrimMode = 1;
    SetControlEnabled(bbSelectAudio, false);
    SetControlEnabled(bbDeleteAudio, true);
    SetControlEnabled(bbSaveFile, true);
}

void TfrmMain::actDeleteAudioExecute() {
    FSaveControl.TrimMode = 2;
    SetControlEnabled(bbSelectAudio, true);
    SetControlEnabled(bbDeleteAudio, false);
    SetControlEnabled(bbSaveFile, true);
}

// ---- Intake ---------------------------------------------------------------------------------

// The workflow's check: extension, probe, a single audio stream (cover art allowed). It shows its
// own refusal and fills FStreamInfo.
bool TfrmMain::CheckInputFile(const std::string& FileName) {
    return FWorkflow->CheckInputFile(FileName);
}
