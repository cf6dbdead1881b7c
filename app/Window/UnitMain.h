// TfrmMain: the program's only window. It owns the conversion component and the player, the
// controls through which the user adds a file, plays it, sets the marks, picks a trim mode and
// saves, and the state records these steps share.
#pragma once

#include "Dialogs.h"
#include "FFPlay.h"
#include "RAzevaVUV.h"
#include "SaveWorkflow.h"

#include <QWidget>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QAction;
class QCheckBox;
class QFrame;
class QLineEdit;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QToolBar;
class QTimer;
class QToolButton;
class TAnchorLayout;
class TPlayScreen;
class TOverviewView;
class TTrackBar;

// The times of the open file (rTimeInfo), its audio stream (rInputStreamInfo) and the save flags
// (rSaveControl) live in the save workflow, which reads them; the window keeps its own flags here.
struct rControl {
    bool SeekLock = false;             // the file-open handler itself moves the bar
    std::atomic<int32_t> PlayState{0}; // last player state (PlayStateNumber); set on player threads
    bool Following = false;            // the bar follows the play position
    // The window placed the position while the player is paused (go-to, arrow keys): reports
    // that were under way then are stale. Cleared when the player plays again (a player thread).
    std::atomic<bool> HoldPosition{false};
};

// Prelistening what a save would write: the player runs through these phases on its own positions.
enum class TPrelisten {
    Off,
    Selection,  // select mode: from the start mark, pausing at the end mark
    BeforeSeam, // delete mode: the 2 s before the start mark, then on from the end mark
    AfterSeam,  // delete mode: the 2 s after the end mark
};

class TfrmMain : public QWidget {
    Q_OBJECT

public:
    // `dialogs` shows messages and file dialogs; null means real Qt dialogs.
    explicit TfrmMain(std::unique_ptr<TDialogs> dialogs = nullptr, QWidget* parent = nullptr);
    ~TfrmMain() override;

    // ---- Handlers and routines ------------------------------------------------------------
    void FormCreate();
    void FormShow();
    void ResetControls(int Mode);
    void SetBusy(int Mode);
    void tbContactMouseDown(Qt::MouseButton Button, QPoint pos);
    void pmOurSiteClick();
    void pmEmailClick();
    void pmNewsClick();

    void actAddRemoveFileExecute();
    bool CheckInputFile(const std::string& FileName);
    void FFPlayerFileOpen(int64_t ADuration, int AFrameWidth, int AFrameHeight, int& AScreenWidth,
                          int& AScreenHeight);
    void FFPlayerPosition(int64_t APTS);
    void FFPlayerState(int AState);
    void bbPlayClick();
    void bbStopClick();
    void actGotoFirstExecute();
    void actGotoEndExecute();
    void stbPositionMouseDown();
    void stbPositionMouseUp();
    static bool IsMouseButtonDown();

    void actCutStartTimeExecute();
    void actCutEndTimeExecute();
    void actSelectAudioExecute();
    void actDeleteAudioExecute();

    void bbSaveFileClick();

    // ---- Beyond the buttons: keys, typed marks, files from outside, prelisten ----------------
    // Opens a file chosen, dropped or named on the command line, with Add File's checks. A file
    // that is refused leaves the open one as it was (paused).
    bool OpenInputFile(const std::string& FileName);
    // A file to open once the window has started (the command line's argument).
    void OpenAtStart(const std::string& FileName) { FStartupFile = FileName; }
    // Space: pauses while playing, else plays.
    void actPlayPauseExecute();
    // Arrow keys: moves the position by `deltaUs`, within the file; works while paused.
    void StepPosition(int64_t deltaUs);
    // P and its button: plays what the chosen mode would save (select mode when none is chosen).
    void actPrelistenExecute();
    // Ctrl+S saves when not busy; Esc stops a running save.
    void actSaveFileExecute();
    void actStopSaveExecute();
    // Typed mark times (display time, "m:ss.zzz" or milliseconds): true when applied; a refusal
    // shows why. `start` picks the start mark.
    bool ApplyTypedMark(bool start, const std::string& text);
    void actToggleOverviewExecute();
    // Opens the editor over labTimeS (start) or labTimeE.
    void EditMark(bool start);
    TPrelisten Prelisten() const { return FPrelisten; }

    // ---- State (read by tests) -------------------------------------------------------------
    const rTimeInfo& TimeInfo() const { return FTimeInfo; }
    const rInputStreamInfo& StreamInfo() const { return FStreamInfo; }
    const rControl& Control() const { return FControl; }
    const rSaveControl& SaveControl() const { return FSaveControl; }
    TSaveWorkflow& Workflow() { return *FWorkflow; }
    TDialogs& Dialogs() { return *FDialogs; }

    // The Tag of a control (0 unless set).
    static int Tag(const QObject* control);

    // ---- Components (created with the window, freed before its controls) ---------------------
    std::unique_ptr<ZEVuzuzAVE> FFConverter;
    std::unique_ptr<TFFPlayer> FFPlayer;

    // ---- Controls --------------------------------------------------------------------------
    TPlayScreen* memPlayScreen = nullptr;
    TOverviewView* memOverview = nullptr; // in the play screen's place; W switches
    QFrame* panInformation = nullptr;
    QLabel* labOne = nullptr;
    QLabel* labStartTime = nullptr;
    QLabel* labTimeS = nullptr;
    QLabel* labS = nullptr;
    QLabel* labTimeE = nullptr;
    QLabel* labEndTime = nullptr;
    QLabel* labRunTime = nullptr;
    QLabel* labSS = nullptr;
    QLabel* labTotalTime = nullptr;
    TTrackBar* stbPosition = nullptr;
    QPushButton* bbPlay = nullptr;
    QPushButton* bbStop = nullptr;
    QPushButton* bbGotoFirst = nullptr;
    QPushButton* bbGotoEnd = nullptr;
    QPushButton* bbCutStartTime = nullptr;
    QPushButton* bbCutEndTime = nullptr;
    QPushButton* bbSelectAudio = nullptr;
    QPushButton* bbDeleteAudio = nullptr;
    QPushButton* bbPrelisten = nullptr;
    QPushButton* bbAddRemoveFile = nullptr;
    QCheckBox* cbLossless = nullptr; // the save copies the frames instead of re-encoding
    QFrame* Bevel1 = nullptr;
    QProgressBar* pbProgress = nullptr;
    QLabel* labProgress = nullptr;
    QPushButton* bbSaveFile = nullptr;
    QToolBar* tbMenu = nullptr;
    QToolButton* tbContact = nullptr;
    QMenu* pmContact = nullptr;
    QAction* pmOurSite = nullptr;
    QAction* pmEmail = nullptr;
    QAction* pmNews = nullptr;
    QLineEdit* edtTimeS = nullptr; // editors of the mark times, shown over their labels
    QLineEdit* edtTimeE = nullptr;
    TFileDialog odInputFile;
    TFileDialog sdOutputFile;

    // The action list.
    QAction* actAddRemoveFile = nullptr;
    QAction* actCutStartTime = nullptr;
    QAction* actCutEndTime = nullptr;
    QAction* actSelectAudio = nullptr;
    QAction* actDeleteAudio = nullptr;
    QAction* actGotoFirst = nullptr;
    QAction* actGotoEnd = nullptr;
    // Window keys without a control of their own.
    QAction* actPlayPause = nullptr;
    QAction* actPrelisten = nullptr;
    QAction* actSaveFile = nullptr;
    QAction* actStopSave = nullptr;
    QAction* actToggleOverview = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void CreateControls();
    void CreateComponents();
    void ConnectWorkflow();
    // Conversion thread: the progress display, carried to the UI thread.
    void FFConverterProgress(int32_t position, const std::string& text);
    // The player's states as the window numbers them: play 0, pause 1, stop 2, end 3, resume 4, step 5.
    static int PlayStateNumber(TPlayState state);
    void CreateActions();
    void CreateKeys();
    void CreateMarkEditors();
    void AnchorControls();
    void CreateOverview();
    void SyncOverview(); // the marks and the mode to the overview
    void OverviewMarkDragged(bool start, int64_t ms);
    // The position shown (label and bar) and kept as PlayTime; MoveTo also seeks the player there.
    void ShowPosition(int64_t t);
    void MoveTo(int64_t t);
    // Seeks the player; `then` runs once the request has been handed over.
    void SeekPlayer(int64_t t, std::function<void()> then = nullptr);
    void IssueSeek();
    // A value of the position bar for a media time (µs).
    int BarValue(int64_t t) const;
    bool AtEnd() const;
    // The marks after a change: labels, the bar's selection, the buttons that depend on them.
    void SetStartMark(int64_t ms);
    void SetEndMark(int64_t ms);
    void UpdateModeButtons();
    void UpdateTitle();
    void StopPrelisten();
    // Called with each reported position while prelistening.
    void PrelistenPosition(int64_t APTS);
    void StartPrelistenPhase(TPrelisten phase, int64_t from);
    void MarkEditDone(bool start, bool apply);
    void OpenFolderOnDesktop(const std::string& folder);
    // Enables a control; a button linked to an action enables the action, which it follows.
    void SetControlEnabled(QWidget* control, bool enabled);
    // Sets a label's text and fits the label to it.
    static void SetLabel(QLabel* label, const QString& text);
    void CreateLosslessToggle();
    void CreateZoomKeys();
    void ShowMessage(const std::string& text);
    void ShowWarning(const std::string& text);

    std::unique_ptr<TDialogs> FDialogs;
    std::unique_ptr<TSaveWorkflow> FWorkflow; // over FFConverter; holds the file's state records
    rTimeInfo& FTimeInfo;                     // of FWorkflow
    rInputStreamInfo& FStreamInfo;            // of FWorkflow
    rSaveControl& FSaveControl;               // of FWorkflow; its InputFile is the open file
    rControl FControl;
    bool FShown = false; // FormShow ran
    bool FLibsLoaded = false; // both library sets loaded at start-up
    std::unique_ptr<TAnchorLayout> FLayout;
    std::string FStartupFile;
    TPrelisten FPrelisten = TPrelisten::Off;
    int64_t FPrelistenFrom = 0;   // µs, where the running phase started playing
    bool FPrelistenArmed = false; // a position near FPrelistenFrom has been reported
    // Seeks handed to the player, spaced (see SeekPlayer).
    QTimer* FSeekTimer = nullptr;
    int64_t FSeekTarget = 0;
    bool FSeekDeferred = false;
    std::function<void()> FAfterSeek;
};
