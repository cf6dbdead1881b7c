// The player component: settings, library loading and the commands Open, Pause, Resume, Seek
// and Stop, with the opening and closing of a playback.
#include "FFPlay.h"

#include "AVProbe.h"
#include "FFmpegLoader.h"
#include "FFmpegLogger.h"
#include "MediaApi.h"
#include "PlayThreads.h"
#include "Playback.h"
#include "PlayerTexts.h"
#include "Positions.h"

#include <new>
#include <system_error>

using namespace PlayerTexts;

namespace {
const char kFlushText[] = "FLUSH";
} // namespace

std::mutex& SDLStateLock() {
    static std::mutex* lock = new std::mutex(); // lives to the process's end
    return *lock;
}

TCustomPlayer::TCustomPlayer() : FProbe(std::make_unique<TAVProbe>()), FLastPosition(AV_NOPTS_VALUE) {
    // The flush marker is recognised by its data pointer only; it never reaches the libraries.
    FFlushPacket = new AVPacket();
    FFlushPacket->data = reinterpret_cast<uint8_t*>(const_cast<char*>(kFlushText));
    FFlushPacket->size = 0;
    SetDefaults();
    ResetOpenState();
}

TCustomPlayer::~TCustomPlayer() {
    {
        std::lock_guard<std::mutex> guard(FEventLock);
        OnPosition = nullptr;
        OnState = nullptr;
    }
    Stop(true);
    // A play thread that a stop gave up on still refers to this player until it ends.
    WaitUntil([this] { return FLivePlayThreads.load() == 0; });
    delete FFlushPacket;
}

const char* TCustomPlayer::Version() {
    return kVersion;
}

void TCustomPlayer::SetDefaults() {
    FWorkaroundBugs = 1;   // detect encoder bugs automatically
    FErrorConcealment = 3; // guess motion vectors and deblock (video decoders)
    FSeekFlags = kSeekAny;
}

void TCustomPlayer::ResetOpenState() {
    FWantedAudio = 0;
    FLastPosition = AV_NOPTS_VALUE;
}

void TCustomPlayer::SetAudioVolume(TAudioVolume volume) {
    FAudioVolume = Clip(volume, 0, SDL_MIX_MAXVOLUME);
}

void TCustomPlayer::SetSeekFlag(int bit, bool on) {
    int flags = FSeekFlags.load();
    while (!FSeekFlags.compare_exchange_weak(flags, on ? (flags | bit) : (flags & ~bit))) {
    }
}

void TCustomPlayer::SetAspectRatio(float ratio) {
    if (ratio == FAspectRatio) return;
    FAspectRatio = ratio;
    if (std::shared_ptr<TPlayback> playback = CurrentPlayback())
        PostPlayerEvent(PlayerEvents().Redraw, playback->Serial);
}

void TCustomPlayer::ReportError(const std::string& text, bool store) {
    if (store) LastErrMsg = text;
    FFLogger().Log(this, llError, text);
}

std::shared_ptr<TPlayback> TCustomPlayer::CurrentPlayback() const {
    std::lock_guard<std::mutex> guard(FPlaybackLock);
    return FPlayback;
}

bool TCustomPlayer::HasPlayback() const {
    return CurrentPlayback() != nullptr;
}

bool TCustomPlayer::LoadAVLib(const std::string& folder) {
    FFLoader().SetLibPath(folder);
    bool loaded = FFLoader().LoadLibs(PlayerLibs);
    if (!loaded) LastErrMsg = FFLoader().LastErrMsg();
    return loaded;
}

// ---- SDL ------------------------------------------------------------------------------------

bool TCustomPlayer::InitSDL() {
    std::string failure;
    bool dummy = false;
    {
        std::lock_guard<std::mutex> guard(SDLStateLock());
        // SDL would otherwise take over SIGINT and SIGTERM from the program.
        sdl::SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        if (sdl::SDL_InitSubSystem(SDL_INIT_TIMER | SDL_INIT_EVENTS) < 0) {
            failure = sdl::SDL_GetError();
        } else if (sdl::SDL_InitSubSystem(SDL_INIT_AUDIO) < 0) {
            // No sound system at all: play on through the silent dummy driver, at real-time pace.
            failure = sdl::SDL_GetError();
            sdl::SDL_SetHintWithPriority(SDL_HINT_AUDIODRIVER, "dummy", SDL_HINT_OVERRIDE);
            int rc = sdl::SDL_InitSubSystem(SDL_INIT_AUDIO);
            sdl::SDL_ResetHint(SDL_HINT_AUDIODRIVER);
            if (rc < 0)
                sdl::SDL_QuitSubSystem(SDL_INIT_TIMER | SDL_INIT_EVENTS);
            else
                dummy = true;
        }
    }
    if (dummy) {
        FFLogger().Log(this, llWarning, kSDLInitFailed + failure);
        FFLogger().Log(this, llWarning, kDummyAudio);
        return true;
    }
    if (!failure.empty()) {
        ReportError(kSDLInitFailed + failure, true);
        return false;
    }
    return true;
}

void TCustomPlayer::QuitSDL() {
    std::lock_guard<std::mutex> guard(SDLStateLock());
    sdl::SDL_QuitSubSystem(SDL_INIT_AUDIO);
    sdl::SDL_QuitSubSystem(SDL_INIT_TIMER | SDL_INIT_EVENTS);
}

// ---- Commands -------------------------------------------------------------------------------

bool TCustomPlayer::Open(const std::string& fileName, IPlayerHost* host) {
    if (!FFLoader().AllLoaded(PlayerLibs)) {
        ReportError(kNotLoaded, true);
        return false;
    }
    Stop(true);
    PlayerEvents(); // registered before any thread posts one
    if (!InitSDL()) return false;
    if (DisableDisplay) DisableVideo = true;

    FHost = host;
    if (!OpenPlayback(fileName)) {
        QuitSDL();
        return false;
    }
    FFileName = fileName;
    CallInMainThread([this] { DoFileOpen(); });
    return StartPlayThread();
}

bool TCustomPlayer::OpenPlayback(const std::string& fileName) {
    Assert(!CurrentPlayback(), kSource);
    std::shared_ptr<TPlayback> playback;
    try {
        playback = std::make_shared<TPlayback>(*this, FNextSerial++);
    } catch (const std::bad_alloc&) {
        ReportError(kAllocFailed, true);
        return false;
    }
    playback->FileName = fileName;
    ScheduleRefresh(*playback, 40);
    if (!playback->StartReadThread()) {
        ReportError(kThreadFailed, true);
        return false;
    }
    // Serves the calls that the read thread hands to the main thread (log lines) meanwhile.
    WaitUntil([&] {
        int status = playback->OpenStatus.load();
        return status != 0 && status != -1;
    });
    if (playback->OpenStatus.load() == 1) {
        std::lock_guard<std::mutex> guard(FPlaybackLock);
        FPlayback = playback;
        return true;
    }
    playback->ClosePlayback();
    ResetOpenState();
    return false;
}

bool TCustomPlayer::StartPlayThread() {
    std::shared_ptr<TPlayback> playback = CurrentPlayback();
    if (!playback) { // the OnFileOpen handler stopped it already
        QuitSDL();
        return true;
    }
    auto* thread = new TPlayThread(*this, playback);
    ++FLivePlayThreads;
    FPlayThread = thread;
    try {
        thread->Start();
    } catch (const std::exception&) {
        FPlayThread = nullptr;
        --FLivePlayThreads;
        delete thread;
        ReportError(kThreadFailed, true);
        ExitPlayback(playback.get());
        QuitSDL();
        return false;
    }
    return true;
}

void TCustomPlayer::ExitPlayback(const TPlayback* only) {
    std::shared_ptr<TPlayback> playback;
    {
        std::lock_guard<std::mutex> guard(FPlaybackLock);
        if (!FPlayback || (only && FPlayback.get() != only)) return;
        playback = std::move(FPlayback);
        FPlayback.reset();
    }
    playback->ClosePlayback();
    ResetOpenState();
}

void TCustomPlayer::Pause() {
    std::shared_ptr<TPlayback> playback = CurrentPlayback();
    if (!playback || playback->Paused) return;
    TogglePause(playback);
    DoState(psPause);
}

void TCustomPlayer::Resume() {
    std::shared_ptr<TPlayback> playback = CurrentPlayback();
    if (!playback || !playback->Paused) return;
    TogglePause(playback);
    DoState(psResume);
}

void TCustomPlayer::TogglePause(const std::shared_ptr<TPlayback>& playback) {
    if (!playback->Paused) {
        // Lets a pending seek be carried out first (at most about a second).
        try {
            TPauseThread waiter(*this, playback);
            waiter.Start();
            waiter.WaitFor();
        } catch (const std::system_error&) {
            // No thread to wait with: pause at once.
        }
    }
    playback->Paused = !playback->Paused;
}

void TCustomPlayer::Seek(int64_t position) {
    std::shared_ptr<TPlayback> playback = CurrentPlayback();
    if (!playback) return;
    // Duration and start time are 0 when no OnFileOpen handler recorded them: no clamping then.
    if (playback->Duration > 0 && playback->Duration < position) position = playback->Duration;
    position += playback->StartTime;
    playback->RequestSeek(position, 0);
}

void TCustomPlayer::Stop(bool wait) {
    std::shared_ptr<TPlayback> playback = CurrentPlayback();
    if (playback) PostPlayerEvent(PlayerEvents().Quit, playback->Serial);
    if (!wait || (!playback && !FPlayThread.load())) return;
    try {
        TStopThread stopper(*this, playback);
        stopper.Start();
        stopper.WaitFor();
    } catch (const std::system_error&) {
        ExitPlayback(); // no thread to wait with: close the playback from here
    }
}
