// TfrmMain: the program's only window. It owns the conversion component and the player, the
// controls through which the user adds a file, plays it, sets the marks, picks a trim mode and
// saves, and the state records these steps share.
#pragma once

#include "Dialogs.h"
#include "FFPlay.h"

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

// Times of the open file.
struct rTimeInfo {
    int64_t TotalTime = 0; // µs, duration reported by the player
    int64_t PlayTime = 0;  // µs, last position reported
    int64_t StartMark = 0; // ms
    int64_t EndMark = 0;   // ms
};

// The audio stream of the added file, copied into every output.
struct rInputStreamInfo {
    std::string CodecName; // decoder name ("mp3", "pcm_s16le" ...)
    int64_t Channels = 0;
    int64_t SampleRate = 0; // Hz
    int64_t BitRate = 0;    // bit/s
};

// Flags of the workflow. Fields written by other threads are atomic.
struct rControl {
    bool SeekLock = false;             // the file-open handler itself moves the bar
    std::atomic<int32_t> PlayState{0}; // last player state: 0 play, 1 pause, 2 stop, 3 end, 4 resume, 5 step
    bool Following = false;            // the bar follows the play position
    int32_t TrimMode = 0;              // 0 none, 1 select, 2 delete
    std::atomic<bool> Terminated{false}; // the conversion component reported that all tasks ended
    bool Stopped = false;                // the user pressed Stop during a conversion
    int32_t ProgressBase = 0;            // percent completed before the running conversion
    int32_t ProgressWeight = 0;          // percent share of the running conversion
    std::string OutputPath;              // folder of the chosen output, with a trailing "/"
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
    TDialogs& Dialogs() { return *FDialogs; }

    // The Tag of a control (0 unless set).
    static int Tag(const QObject* control);

    // ---- Components -------------------------------------------------------------------------
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
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateControls();
    void CreateComponents();
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
    rTimeInfo FTimeInfo;
    rInputStreamInfo FStreamInfo;
    rControl FControl;
    bool FShown = false;    // FormShow ran
    std::string FInputFile; // the file open in the player (the one saves read)
};
