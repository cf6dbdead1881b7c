// The arithmetic of one position check, apart from the threads that feed it.
#pragma once

#include <cstdint>

class TPlayback;

// The refresh timer of a playback: posts one refresh event after `delayMs` (1 when 0).
void ScheduleRefresh(const TPlayback& playback, int delayMs);

// Smallest change of position (µs) worth reporting: a change must be strictly larger.
constexpr int64_t kPositionThreshold = 10000;

// True when `position` should be reported after `last` (the no-value marker: nothing reported).
bool PositionChanged(int64_t last, int64_t position);

// What a position check sees of a playback.
struct TTickFacts {
    bool HasAudio = false;
    double MasterClock = 0;           // s
    int64_t StartTime = 0;            // µs, container start
    int64_t Duration = 0;             // µs, container duration (<= 0: unknown)
    int64_t AudioStreamDuration = -1; // µs, the audio stream's own (<= 0: unknown)
    int QueuedPackets = 0;
    bool Reading = false;
    bool CaptureDevice = false;
    bool ReadEnded = true;      // the read thread has met the end (or an error) and read nothing since
    bool AudioPlayedOut = true; // the decoder's output has been handed to the device in full
};

struct TTickResult {
    bool HasPosition = false;
    int64_t Position = 0; // µs from the start of the file
    bool Report = false;  // report Position (lastPosition has been updated)
    bool Ended = false;   // everything has been played: report psEnd
};

// One position check; `lastPosition` is the last position reported (updated when reporting).
// Once everything has been played, the position is the duration: a container's duration may be
// an estimate that the sound never reaches exactly.
TTickResult EvaluatePositionTick(const TTickFacts& facts, int64_t& lastPosition);
