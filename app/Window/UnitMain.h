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
#include <memory>
#include <string>

class QAction;
class QFrame;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QToolBar;
class QToolButton;
class TPlayScreen;
class TTrackBar;

// The times of the open file (rTimeInfo), its audio stream (rInputStreamInfo) and the save flags
// (rSaveControl) live in the save workflow, which reads them; the window keeps its own flags here.
struct rControl {
    bool SeekLock = false;             // the file-open handler itself moves the bar
    std::atomic<int32_t> PlayState{0}; // last player state (PlayStateNumber); set on player threads
    bool Following = false;            // the bar follows the play position
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
    QPushButton* bbAddRemoveFile = nullptr;
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

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateControls();
    void CreateComponents();
    void ConnectWorkflow();
    // Conversion thread: the progress display, carried to the UI thread.
    void FFConverterProgress(int32_t position, const std::string& text);
    // The player's states as the window numbers them: play 0, pause 1, stop 2, end 3, resume 4, step 5.
    static int PlayStateNumber(TPlayState state);
    // Waits `ms` milliseconds while serving the calls that workers hand to the main thread.
    static void Delay(int ms);
    void CreateActions();
    // Enables a control; a button linked to an action enables the action, which it follows.
    void SetControlEnabled(QWidget* control, bool enabled);
    void ShowMessage(const std::string& text);
    void ShowWarning(const std::string& text);

    std::unique_ptr<TDialogs> FDialogs;
    std::unique_ptr<TSaveWorkflow> FWorkflow; // over FFConverter; holds the file's state records
    rTimeInfo& FTimeInfo;                     // of FWorkflow
    rInputStreamInfo& FStreamInfo;            // of FWorkflow
    rSaveControl& FSaveControl;               // of FWorkflow; its InputFile is the open file
    rControl FControl;
    bool FShown = false; // FormShow ran
};
