// The player: plays the sound of one media file at a time through SDL, draws its waveform for a
// host window, and reports the file's duration, the playing position and state changes.
//
// Threads: every command runs on the main thread. Each open file has a play thread (SDL event
// loop, refresh timer, drawing, position checks), a read thread (demuxing into the packet queue)
// and SDL's audio thread (decoding and output). OnFileOpen and OnPosition are delivered on the
// main thread through CallInMainThread; OnState on the thread that reports the state (psPlay,
// psEnd and psStop on the play thread, psPause and psResume on the caller's).
#pragma once

#include "HostWindow.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

struct AVPacket;
class TPlayback;
class TPlayThread;
class TAVProbe;
class TCustomPlayer;

enum TPlayState { psPlay, psPause, psResume, psStep, psStop, psEnd }; // psStep is never reported

// Times are microseconds. The handler may choose the drawing size through the last two arguments.
using TFileOpenEvent = std::function<void(TCustomPlayer* sender, int64_t duration, int frameWidth,
                                          int frameHeight, int& screenWidth, int& screenHeight)>;
using TPositionEvent = std::function<void(TCustomPlayer* sender, int64_t pts)>;
using TPlayStateEvent = std::function<void(TCustomPlayer* sender, TPlayState state)>;

using TAudioVolume = int; // 0..128, 128 = unchanged

class TCustomPlayer {
public:
    TCustomPlayer();
    virtual ~TCustomPlayer();
    TCustomPlayer(const TCustomPlayer&) = delete;
    TCustomPlayer& operator=(const TCustomPlayer&) = delete;

    // Loads the player's library set from `folder`; on failure LastErrMsg holds the loader's text.
    bool LoadAVLib(const std::string& folder);

    // Stops what plays, opens `fileName` and starts playing it. `host` (may be null) receives the
    // waveform frames and must outlive the playback. On failure LastErrMsg says why.
    bool Open(const std::string& fileName, IPlayerHost* host);
    void Pause();
    void Resume();
    // `position` in microseconds from the start of the file; carried out later by the read thread.
    void Seek(int64_t position);
    // Asks the playback to end; with `wait` also waits for it (about a second at most).
    void Stop(bool wait);

    // ---- Properties ----
    TAudioVolume AudioVolume() const { return FAudioVolume.load(std::memory_order_relaxed); }
    void SetAudioVolume(TAudioVolume volume); // clipped to 0..128
    bool Mute() const { return FMute.load(std::memory_order_relaxed); }
    void SetMute(bool mute) { FMute.store(mute, std::memory_order_relaxed); }

    float AspectRatio() const { return FAspectRatio; }
    void SetAspectRatio(float ratio); // a change while a file is open redraws

    int ScreenWidth() const { return FScreenWidth.load(std::memory_order_relaxed); }
    int ScreenHeight() const { return FScreenHeight.load(std::memory_order_relaxed); }
    void SetScreenWidth(int width) { FScreenWidth.store(width, std::memory_order_relaxed); }
    void SetScreenHeight(int height) { FScreenHeight.store(height, std::memory_order_relaxed); }

    // The seek flags are one bit set handed to the format library unchanged.
    int SeekFlags() const { return FSeekFlags.load(std::memory_order_relaxed); }
    bool SeekBackware() const { return SeekFlag(kSeekBackward); }
    bool SeekByByte() const { return SeekFlag(kSeekByte); }
    bool SeekToAny() const { return SeekFlag(kSeekAny); }
    bool SeekByFrame() const { return SeekFlag(kSeekFrame); }
    void SetSeekBackware(bool on) { SetSeekFlag(kSeekBackward, on); }
    void SetSeekByByte(bool on) { SetSeekFlag(kSeekByte, on); }
    void SetSeekToAny(bool on) { SetSeekFlag(kSeekAny, on); }
    void SetSeekByFrame(bool on) { SetSeekFlag(kSeekFrame, on); }

    // Set before Open.
    bool DisableAudio = false;   // select no audio stream
    bool DisableVideo = false;   // select no video or subtitle stream
    bool DisableDisplay = false; // no waveform; Open then also sets DisableVideo
    int FrameWidth = 0;          // frame size asked of raw video inputs when both are > 0
    int FrameHeight = 0;
    bool Hook = false; // video frame hook; this player has no video path

    std::string About;
    static const char* Version();

    TFileOpenEvent OnFileOpen; // main thread
    TPositionEvent OnPosition; // main thread
    TPlayStateEvent OnState;   // the reporting thread; assign before Open

    std::string LastErrMsg; // text of the last failure; read it on the main thread

    // ---- Observation ----
    bool HasPlayback() const;
    const std::string& FileName() const { return FFileName; }
    int64_t LastPosition() const { return FLastPosition.load(); }

protected:
    friend class TPlayback;
    friend class TPlayThread;
    friend class TStopThread;
    friend class TPauseThread;

    static constexpr int kSeekBackward = 1, kSeekByte = 2, kSeekAny = 4, kSeekFrame = 8;
    bool SeekFlag(int bit) const { return (SeekFlags() & bit) != 0; }
    void SetSeekFlag(int bit, bool on);

    void SetDefaults();
    void ResetOpenState();
    void ReportError(const std::string& text, bool store);

    bool InitSDL();
    void QuitSDL();
    bool OpenPlayback(const std::string& fileName);
    // Closes the current playback (only when it is `only`, if given), from whichever thread gets
    // there first.
    void ExitPlayback(const TPlayback* only = nullptr);
    bool StartPlayThread();
    void TogglePause(const std::shared_ptr<TPlayback>& playback);
    std::shared_ptr<TPlayback> CurrentPlayback() const;

    // Positions and states (Positions.cpp).
    void DoFileOpen();
    void RefreshTimer(TPlayback& playback);
    void PositionTick(TPlayback& playback);
    void DoPosition(int64_t position);
    void DoState(TPlayState state);
    void DrawWaveform(TPlayback& playback);

    // Fixed decoder settings (SetDefaults). The audio is always the master clock.
    int FWorkaroundBugs = 1;
    int FErrorConcealment = 3;

    // The wanted audio stream, counted down while streams are chosen: 0 = the first one. (This
    // player has no video path, so no video or subtitle stream is ever wanted.)
    int FWantedAudio = 0;

    std::atomic<int> FAudioVolume{128};
    std::atomic<bool> FMute{false};
    std::atomic<int> FSeekFlags{kSeekAny};
    std::atomic<int> FScreenWidth{0};
    std::atomic<int> FScreenHeight{0};
    float FAspectRatio = 0;

    std::string FFileName;            // main thread
    IPlayerHost* FHost = nullptr;     // set by Open before the play thread starts
    AVPacket* FFlushPacket = nullptr; // the flush marker; data points at the text "FLUSH"
    // Describes the open file: attached by the read thread while Open waits for it, detached by
    // the read thread before it closes the file.
    std::unique_ptr<TAVProbe> FProbe; // guarded by FProbeLock
    std::mutex FProbeLock;

    mutable std::mutex FPlaybackLock;               // guards FPlayback; never held while waiting for anything
    std::shared_ptr<TPlayback> FPlayback;           // the open file; every thread that uses it holds a copy
    std::atomic<TPlayThread*> FPlayThread{nullptr}; // the running play thread (frees itself)
    std::atomic<int> FLivePlayThreads{0};           // play threads not yet finished
    std::atomic<int64_t> FLastPosition;             // µs; no-value marker after every open

    std::mutex FEventLock;    // guards OnState while the destructor clears it
    uint32_t FNextSerial = 1; // main thread: identifies the next playback's SDL events
};

// The component as the window uses it.
class TFFPlayer : public TCustomPlayer {
public:
    using TCustomPlayer::TCustomPlayer;
};
