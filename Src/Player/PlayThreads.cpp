#include "PlayThreads.h"

#include "MediaApi.h"
#include "Playback.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

void Sleep10ms() {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

} // namespace

const TPlayerEvents& PlayerEvents() {
    static const TPlayerEvents events = [] {
        uint32_t base = sdl::SDL_RegisterEvents(4);
        if (base == static_cast<uint32_t>(-1)) base = SDL_USEREVENT; // every user event number taken
        return TPlayerEvents{base, base + 1, base + 2, base + 3};
    }();
    return events;
}

void ReleaseSDLThreadState() {
    sdl::SDL_TLSCleanup();
}

// SDL_WaitEvent polls its queue every millisecond when SDL runs without a video subsystem,
// which alone would cost a few percent of a core while a file plays. The play thread sleeps on
// this signal instead: every post of one of the player's events bumps it.
namespace {

struct TEventSignal {
    std::mutex Lock;                // guards Posts
    std::condition_variable Posted; // waited on by the play threads
    uint64_t Posts = 0;
};

TEventSignal& EventSignal() {
    static TEventSignal* signal = new TEventSignal(); // lives to the process's end
    return *signal;
}

void PushEvent(SDL_Event& event) {
    sdl::SDL_PushEvent(&event);
    TEventSignal& signal = EventSignal();
    {
        std::lock_guard<std::mutex> guard(signal.Lock);
        ++signal.Posts;
    }
    signal.Posted.notify_all();
}

// Events that SDL queues of its own (device changes) are taken at the latest after this long.
constexpr auto kEventPollInterval = std::chrono::milliseconds(100);

} // namespace

void PostPlayerEvent(uint32_t type, uint32_t serial) {
    SDL_Event event{};
    event.type = type;
    event.user.code = static_cast<Sint32>(serial);
    PushEvent(event);
}

bool WaitPlayerEvent(SDL_Event& event) {
    TEventSignal& signal = EventSignal();
    for (;;) {
        uint64_t seen;
        {
            std::lock_guard<std::mutex> guard(signal.Lock);
            seen = signal.Posts;
        }
        if (sdl::SDL_PollEvent(&event)) return true;
        std::unique_lock<std::mutex> lock(signal.Lock);
        signal.Posted.wait_for(lock, kEventPollInterval, [&] { return signal.Posts != seen; });
        // A timeout without any event also returns, so that a loop whose playback was closed by
        // another thread notices it.
        if (signal.Posts == seen) {
            lock.unlock();
            return sdl::SDL_PollEvent(&event) != 0;
        }
    }
}

// ---- Play thread ------------------------------------------------------------------------------

TPlayThread::TPlayThread(TCustomPlayer& owner, std::shared_ptr<TPlayback> playback)
    : TPlaybackThread("play", owner, std::move(playback)) {
    FreeOnTerminate = true;
}

void TPlayThread::Execute() {
    FOwner.DoState(psPlay);
    EventLoop();
    FPlayback->ReportAudioErrors();
    FPlayback.reset();
    FOwner.QuitSDL();
    ReleaseSDLThreadState();
    FOwner.DoState(psStop);
    // Only now may a waiting stop return: psStop has been reported and SDL released.
    TPlayThread* self = this;
    FOwner.FPlayThread.compare_exchange_strong(self, nullptr);
    FOwner.FLivePlayThreads.fetch_sub(1);
    WakeMainThread();
}

void TPlayThread::EventLoop() {
    const TPlayerEvents& events = PlayerEvents();
    TPlayback& playback = *FPlayback;
    SDL_Event event;
    for (;;) {
        if (!WaitPlayerEvent(event)) {
            event.type = SDL_FIRSTEVENT; // nothing arrived: only check whether this playback lives
            event.user.code = 0;
        }
        bool mine = event.type >= SDL_USEREVENT && static_cast<uint32_t>(event.user.code) == playback.Serial;
        if (FOwner.CurrentPlayback().get() != &playback) {
            // Another thread closed this playback (a stop that gave up waiting for this loop),
            // and another playback may run already: hand its event back before leaving.
            if (!mine) PassOn(event);
            return;
        }
        if (event.type == SDL_QUIT) {
            FOwner.ExitPlayback(&playback);
            return;
        }
        // Events of an earlier playback may still be queued; other SDL events are ignored.
        if (!mine) continue;
        if (event.type == events.Quit) {
            FOwner.ExitPlayback(&playback);
            return;
        }
        if (event.type == events.Refresh) {
            playback.ReportAudioErrors();
            FOwner.RefreshTimer(playback);
        }
        else if (event.type == events.Redraw)
            FOwner.DrawWaveform(playback);
    }
}

void TPlayThread::PassOn(SDL_Event& event) {
    std::shared_ptr<TPlayback> current = FOwner.CurrentPlayback();
    if (current && event.type >= SDL_USEREVENT && static_cast<uint32_t>(event.user.code) == current->Serial)
        PushEvent(event);
}

// ---- Stop and pause helpers ---------------------------------------------------------------

TStopThread::TStopThread(TCustomPlayer& owner, std::shared_ptr<TPlayback> playback)
    : TPlaybackThread("stop", owner, std::move(playback)) {}

void TStopThread::Execute() {
    const uint32_t quit = PlayerEvents().Quit;
    const uint32_t serial = FPlayback ? FPlayback->Serial : 0;
    PostPlayerEvent(quit, serial);
    int i = 0;
    while (FOwner.FPlayThread.load()) {
        // A read that the interrupt callback cannot cut short (a pipe, a hung network file
        // system) holds the play thread inside its close: stop waiting after 0.2 s then.
        if (FPlayback && FPlayback->Reading && i > 20) break;
        Sleep10ms();
        if (++i > 100) break;
        if (i % 20 == 0) PostPlayerEvent(quit, serial);
    }
    // The event loop did not take the request (it may be waiting for the main thread): close the
    // playback from here. The loop notices and ends on its own later.
    FOwner.ExitPlayback();
    ReleaseSDLThreadState();
}

TPauseThread::TPauseThread(TCustomPlayer& owner, std::shared_ptr<TPlayback> playback)
    : TPlaybackThread("pause", owner, std::move(playback)) {}

void TPauseThread::Execute() {
    for (int i = 0; i <= 100; ++i) {
        if (FOwner.CurrentPlayback() != FPlayback) break;
        if (!FPlayback->SeekRequest.load()) break;
        if (FPlayback->Reading && i > 20) break;
        Sleep10ms();
    }
}
