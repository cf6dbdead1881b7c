// Position and state reporting: the facts of an opened file, the refresh timer of the play
// thread, the position check with its end detection, and the waveform frame for the host.
#include "Positions.h"

#include "FFPlay.h"
#include "MediaApi.h"
#include "Playback.h"

#include <cmath>
#include <cstdlib>

namespace {

Uint32 RefreshTimerFired(Uint32 /*interval*/, void* param) {
    PostPlayerEvent(PlayerEvents().Refresh, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(param)));
    return 0; // each timer fires once
}

constexpr int kDefaultScreenWidth = 640;
constexpr int kDefaultScreenHeight = 480;

} // namespace

void ScheduleRefresh(const TPlayback& playback, int delayMs) {
    sdl::SDL_AddTimer(delayMs > 0 ? delayMs : 1, RefreshTimerFired,
                      reinterpret_cast<void*>(uintptr_t(playback.Serial)));
}

bool PositionChanged(int64_t last, int64_t position) {
    return last == AV_NOPTS_VALUE || std::llabs(position - last) > kPositionThreshold;
}

TTickResult EvaluatePositionTick(const TTickFacts& facts, int64_t& lastPosition) {
    TTickResult result;
    if (!facts.HasAudio) return result;
    int64_t pos = std::llround(facts.MasterClock * 1000000.0) - facts.StartTime;
    // The audio has ended before the container's end: report the end.
    if (facts.AudioStreamDuration > 0 && facts.AudioStreamDuration <= pos && pos < facts.Duration)
        pos = facts.Duration;
    bool playedOut =
        facts.QueuedPackets == 0 && facts.AudioPlayedOut && facts.ReadEnded && !facts.CaptureDevice;
    if (playedOut && !facts.Reading && facts.Duration > 0) pos = facts.Duration;
    if (facts.Duration > 0 && pos >= facts.Duration) {
        pos = facts.Duration;
        // The final position is reported even when it is close to the last report.
        if (lastPosition != pos) lastPosition = 0;
    }
    result.HasPosition = true;
    result.Position = pos;
    if (PositionChanged(lastPosition, pos)) {
        lastPosition = pos;
        result.Report = true;
    }
    result.Ended = playedOut && (!facts.Reading || pos == facts.Duration);
    return result;
}

// ---- The player's side ----------------------------------------------------------------------

void TCustomPlayer::DoFileOpen() {
    std::shared_ptr<TPlayback> playback = CurrentPlayback();
    if (playback && OnFileOpen) {
        // This player has no video path: there is never a decoded frame size.
        int frameWidth = -1, frameHeight = -1;
        playback->StartTime = playback->ContainerStartTime;
        playback->Duration = playback->ContainerDuration;
        int64_t duration = playback->ImageSequence ? 0 : playback->Duration;
        int screenWidth = ScreenWidth(), screenHeight = ScreenHeight();
        OnFileOpen(this, duration, frameWidth, frameHeight, screenWidth, screenHeight);
        SetScreenWidth(screenWidth);
        SetScreenHeight(screenHeight);
    }
    if (FHost && (ScreenWidth() == 0 || ScreenHeight() == 0)) {
        int width = 0, height = 0;
        FHost->GetClientSize(width, height);
        SetScreenWidth(width);
        SetScreenHeight(height);
    }
}

void TCustomPlayer::RefreshTimer(TPlayback& playback) {
    if (playback.AudioIndex.load() >= 0) {
        ScheduleRefresh(playback, 40);
        DrawWaveform(playback);
        PositionTick(playback);
    } else {
        ScheduleRefresh(playback, 100);
    }
}

void TCustomPlayer::PositionTick(TPlayback& playback) {
    if (playback.ImageSequence) return;
    TTickFacts facts;
    facts.HasAudio = playback.AudioIndex.load() >= 0;
    facts.MasterClock = playback.GetMasterClock();
    facts.StartTime = playback.StartTime;
    facts.Duration = playback.Duration;
    facts.AudioStreamDuration = playback.AudioStreamDuration;
    facts.QueuedPackets = playback.AudioQueue.Count();
    facts.Reading = playback.Reading;
    facts.CaptureDevice = playback.CaptureDevice;
    facts.ReadEnded = playback.ReadEnded;
    facts.AudioPlayedOut = playback.AudioPlayedOut();

    int64_t last = FLastPosition;
    TTickResult tick = EvaluatePositionTick(facts, last);
    if (!tick.HasPosition) return;
    FLastPosition = last;
    if (tick.Report) {
        bool assigned;
        {
            std::lock_guard<std::mutex> guard(FEventLock);
            assigned = static_cast<bool>(OnPosition);
        }
        if (assigned) DoPosition(tick.Position);
    }
    if (tick.Ended) DoState(psEnd);
}

void TCustomPlayer::DoPosition(int64_t position) {
    // The play thread waits until the handler has run on the main thread.
    CallInMainThread([this, position] {
        if (OnPosition) OnPosition(this, position);
    });
}

void TCustomPlayer::DoState(TPlayState state) {
    TPlayStateEvent handler;
    {
        std::lock_guard<std::mutex> guard(FEventLock);
        handler = OnState;
    }
    if (handler) handler(this, state);
}

void TCustomPlayer::DrawWaveform(TPlayback& playback) {
    if (!playback.WaveformOn || !FHost || playback.Channels <= 0) return;
    int width = ScreenWidth(), height = ScreenHeight();
    if (width <= 0) {
        width = kDefaultScreenWidth;
        height = kDefaultScreenHeight;
    }
    if (height <= 0) return;

    int start = playback.LastWaveStart;
    if (!playback.Paused) {
        // The sample being heard: what the device has not been given yet, less what it has
        // played since the last callback.
        // Before the first callback there is no device time yet; a stalled device has played at
        // most one buffer since, so a second bounds the product below.
        int64_t callbackTime = playback.AudioCallbackTime();
        int64_t elapsed = callbackTime == 0 ? 0 : Clip<int64_t>(av::av_gettime() - callbackTime, 0, 1000000);
        int64_t delay = playback.UnplayedFrames() - elapsed * playback.SampleRate / 1000000;
        if (delay < 0) delay = 0;
        start = WaveformStart(playback.SampleRing(), playback.Channels, width, static_cast<int>(delay));
        playback.LastWaveStart = start;
    }
    playback.Frame.resize(size_t(width) * height);
    DrawWaveformFrame(playback.SampleRing(), start, playback.Channels, playback.Frame.data(), width, height);
    FHost->PresentFrame(playback.Frame.data(), width, height);
}
