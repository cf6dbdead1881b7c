// The player's threads: the play thread with its SDL event loop, and the two helpers the main
// thread waits for while a stop or a pause takes effect.
#pragma once

#include "FFPlay.h"
#include "MediaApi.h"
#include "MyUtils.h"

#include <memory>
#include <string>

class TPlayback;

// A thread of one playback of a player.
class TPlaybackThread : public TThread {
protected:
    TPlaybackThread(std::string name, TCustomPlayer& owner, std::shared_ptr<TPlayback> playback)
        : TThread(std::move(name)), FOwner(owner), FPlayback(std::move(playback)) {}

    TCustomPlayer& FOwner;
    std::shared_ptr<TPlayback> FPlayback;
};

// Reports psPlay, runs the event loop of one playback until it is told to quit, releases SDL and
// reports psStop. Frees itself when it ends.
class TPlayThread : public TPlaybackThread {
public:
    TPlayThread(TCustomPlayer& owner, std::shared_ptr<TPlayback> playback);

protected:
    void Execute() override;

private:
    void EventLoop();
    // Re-posts an event that belongs to the current playback of the player.
    void PassOn(SDL_Event& event);
};

// Posts the quit request and waits for the play thread to end: at most about a second, or about
// 0.2 s while the read thread is inside a read; then closes the playback itself if it still exists.
class TStopThread : public TPlaybackThread {
public:
    // `playback` is the one to stop (may be null when only a play thread is still ending).
    TStopThread(TCustomPlayer& owner, std::shared_ptr<TPlayback> playback);

protected:
    void Execute() override;
};

// Waits until a pending seek has been carried out (at most about a second, or 0.2 s while the
// read thread is inside a read).
class TPauseThread : public TPlaybackThread {
public:
    TPauseThread(TCustomPlayer& owner, std::shared_ptr<TPlayback> playback);

protected:
    void Execute() override;
};
