// TfrmMain: file intake, playback control, the position bar, the marks and the trim modes.
#include "UnitMain.h"

#include "OverviewView.h"
#include "PlayScreen.h"
#include "TrackBar.h"
#include "UnitConst.h"
#include "UnitFunction.h"

#include "MyUtils.h"

#include <QAction>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <utility>

using namespace UnitConst;

// ---- Adding a file ----------------------------------------------------------------------------

void TfrmMain::actAddRemoveFileExecute() {
    bool fileWasOpen = Tag(bbAddRemoveFile) != 0;
    if (fileWasOpen) FFPlayer->Pause();
    if (!FDialogs->ExecuteOpen(this, odInputFile)) {
        if (fileWasOpen) FFPlayer->Resume();
        return;
    }
    OpenInputFile(odInputFile.FileName);
}

bool TfrmMain::OpenInputFile(const std::string& FileName) {
    bool fileWasOpen = Tag(bbAddRemoveFile) != 0;
    StopPrelisten();
    if (fileWasOpen) FFPlayer->Pause();
    // A refused file leaves the open one paused, and saves keep reading the open one.
    if (!CheckInputFile(FileName)) return false;
    if (!FFPlayer->Open(FileName, memPlayScreen)) {
        // The player has closed what was open: back to the state without a file.
        ShowMessage(FFPlayer->LastErrMsg);
        FWorkflow->InputFile.clear();
        memPlayScreen->ClearFrame();
        memOverview->CloseFile();
        ResetControls(0);
        panInformation->show();
        bbAddRemoveFile->setProperty("Tag", 0);
        UpdateTitle();
        return false;
    }
    FWorkflow->InputFile = FileName;
    memOverview->OpenFile(FileName, FTimeInfo.TotalTime);
    odInputFile.FileName = FileName; // the next open dialog starts beside it
    ResetControls(1);
    FControl.Following = true;
    if (!fileWasOpen) bbAddRemoveFile->setProperty("Tag", Tag(bbAddRemoveFile) + 1);
    UpdateTitle();
    return true;
}

// ---- Player events ----------------------------------------------------------------------------

void TfrmMain::FFPlayerFileOpen(int64_t ADuration, int, int, int&, int&) {
    FTimeInfo.TotalTime = ADuration;
    SetLabel(labTotalTime, QString::fromStdString(FormatMediaTime(ADuration)));
    // Milliseconds, so that a mark or a seek on the bar is as exact as the time shown; -1: no
    // duration known.
    stbPosition->SetMax(int(std::clamp<int64_t>(ADuration / 1000, 0, INT32_MAX)));
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
    // Reported before the window placed the position itself while paused.
    if (FControl.HoldPosition) return;
    FTimeInfo.PlayTime = APTS;
    SetLabel(labRunTime, QString::fromStdString(FormatMediaTime(APTS)));
    if (APTS > 0 && FTimeInfo.TotalTime > 0 && FControl.Following) stbPosition->SetPosition(BarValue(APTS));
    memOverview->SetPosition(APTS);
    if (FPrelisten != TPrelisten::Off) PrelistenPosition(APTS);
}

void TfrmMain::FFPlayerState(int AState) {
    FControl.PlayState = AState;
    if (AState == 0 || AState == 4) FControl.HoldPosition = false; // playing: reports are current
}

int TfrmMain::BarValue(int64_t t) const {
    if (FTimeInfo.TotalTime <= 0) return 0;
    t = std::clamp<int64_t>(t, 0, FTimeInfo.TotalTime);
    return int(int64_t(stbPosition->Max()) * t / FTimeInfo.TotalTime);
}

void TfrmMain::ShowPosition(int64_t t) {
    FTimeInfo.PlayTime = t;
    SetLabel(labRunTime, QString::fromStdString(FormatMediaTime(t)));
    stbPosition->SetPosition(BarValue(t));
    memOverview->SetPosition(t);
}

// While paused the player reports nothing until it plays again, so the window shows the place.
void TfrmMain::MoveTo(int64_t t) {
    t = std::clamp<int64_t>(t, 0, std::max<int64_t>(0, FTimeInfo.TotalTime));
    SeekPlayer(t);
    FControl.HoldPosition = FControl.PlayState != 0 && FControl.PlayState != 4;
    ShowPosition(t);
}

// The player takes one seek request at a time: one made while the last is still pending is
// dropped. Requests therefore go out at most every kSeekSpacing ms, the latest target winning,
// so that quick keys and clicks still end where the window shows.
void TfrmMain::SeekPlayer(int64_t t, std::function<void()> then) {
    FSeekTarget = t;
    FAfterSeek = std::move(then);
    if (FSeekTimer->isActive()) {
        FSeekDeferred = true;
        return;
    }
    IssueSeek();
}

void TfrmMain::IssueSeek() {
    FSeekDeferred = false;
    FFPlayer->Seek(FSeekTarget);
    FSeekTimer->start();
    if (std::function<void()> then = std::exchange(FAfterSeek, nullptr)) then();
}

bool TfrmMain::AtEnd() const {
    return FTimeInfo.TotalTime > 0 && FTimeInfo.PlayTime >= FTimeInfo.TotalTime;
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
    StopPrelisten();
    // Ended, or placed at the end by Go To End: play from the beginning, as after a natural end.
    // A place the window set while paused wins over an end reported before it was set.
    bool ended = (FControl.PlayState == 3 && !FControl.HoldPosition) || AtEnd();
    FControl.Following = true;
    FFPlayer->Resume();
    // After the end the file is opened again, which plays it from the beginning. It is the same
    // file, so the marks stay on the bar as they stay in the labels and in milliseconds.
    if (ended && !FWorkflow->InputFile.empty()) {
        int selStart = stbPosition->SelStart(), selEnd = stbPosition->SelEnd();
        if (FFPlayer->Open(FWorkflow->InputFile, memPlayScreen)) {
            stbPosition->SetSelStart(selStart);
            stbPosition->SetSelEnd(selEnd);
        }
    }
}

// Pauses: Play continues from the same place.
void TfrmMain::bbStopClick() {
    StopPrelisten();
    FFPlayer->Pause();
}

// Both go-to actions leave the player paused exactly at the place they show, so that a mark
// taken there is the file's start (0) or its end (the duration). The bar stops following
// playback until Play is pressed.
void TfrmMain::actGotoFirstExecute() {
    StopPrelisten();
    FControl.Following = false;
    FFPlayer->Pause();
    MoveTo(0);
}

void TfrmMain::actGotoEndExecute() {
    StopPrelisten();
    FControl.Following = false;
    FFPlayer->Pause();
    MoveTo(FTimeInfo.TotalTime);
    stbPosition->SetPosition(stbPosition->Max());
}

void TfrmMain::stbPositionMouseDown() {
    StopPrelisten();
    FFPlayer->Pause();
}

void TfrmMain::stbPositionMouseUp() {
    if (!FControl.SeekLock && !IsMouseButtonDown()) {
        if (stbPosition->Max() != 0)
            SeekPlayer(FTimeInfo.TotalTime * stbPosition->Position() / stbPosition->Max());
    }
    FFPlayer->Resume();
}

// ---- Intake ---------------------------------------------------------------------------------

// The workflow's check: extension, probe, a single audio stream (cover art allowed). It shows its
// own refusal and fills FStreamInfo.
bool TfrmMain::CheckInputFile(const std::string& FileName) {
    return FWorkflow->CheckInputFile(FileName);
}
