// The position check of the play thread: the 10 ms reporting threshold, the offset by the start
// time, clamping to the duration with the final report, the jump to the end when the audio ends
// before the container, and the end detection that drives psEnd.
#include "MediaApi.h"
#include "Positions.h"

#include <gtest/gtest.h>

namespace {

TTickFacts PlayingAt(double seconds) {
    TTickFacts facts;
    facts.HasAudio = true;
    facts.MasterClock = seconds;
    facts.Duration = 60000000;
    facts.QueuedPackets = 12;
    facts.ReadEnded = false;
    facts.AudioPlayedOut = false;
    return facts;
}

TEST(PlayerPositions, OnlyChangesOfMoreThanTenMillisecondsAreReported) {
    EXPECT_TRUE(PositionChanged(AV_NOPTS_VALUE, 0)) << "the first position is always reported";
    EXPECT_FALSE(PositionChanged(1000000, 1000000));
    EXPECT_FALSE(PositionChanged(1000000, 1010000)) << "exactly 10 ms is not enough";
    EXPECT_TRUE(PositionChanged(1000000, 1010001));
    EXPECT_FALSE(PositionChanged(1000000, 990000));
    EXPECT_TRUE(PositionChanged(1000000, 989999)) << "backwards counts too (a seek)";

    int64_t last = AV_NOPTS_VALUE;
    TTickResult tick = EvaluatePositionTick(PlayingAt(1.0), last);
    EXPECT_TRUE(tick.Report);
    EXPECT_EQ(last, 1000000);
    tick = EvaluatePositionTick(PlayingAt(1.010), last);
    EXPECT_FALSE(tick.Report);
    EXPECT_EQ(last, 1000000) << "an unreported position does not move the reference";
    tick = EvaluatePositionTick(PlayingAt(1.0100011), last);
    EXPECT_TRUE(tick.Report);
    EXPECT_EQ(tick.Position, 1010001);
}

TEST(PlayerPositions, PositionsCountFromTheContainerStart) {
    TTickFacts facts = PlayingAt(10.5);
    facts.StartTime = 500000;
    int64_t last = AV_NOPTS_VALUE;
    EXPECT_EQ(EvaluatePositionTick(facts, last).Position, 10000000);
    facts.MasterClock = 0.5;
    EXPECT_EQ(EvaluatePositionTick(facts, last).Position, 0);
}

TEST(PlayerPositions, TheEndIsClampedToTheDurationAndAlwaysReported) {
    int64_t last = 59995000; // within 10 ms of the end
    TTickFacts facts = PlayingAt(60.2);
    TTickResult tick = EvaluatePositionTick(facts, last);
    EXPECT_EQ(tick.Position, 60000000);
    EXPECT_TRUE(tick.Report) << "the duration itself is the last position reported";
    EXPECT_EQ(last, 60000000);
    tick = EvaluatePositionTick(facts, last);
    EXPECT_FALSE(tick.Report) << "and only once";

    // Without a known duration (no OnFileOpen handler) the raw clock is reported.
    facts.Duration = 0;
    last = AV_NOPTS_VALUE;
    EXPECT_EQ(EvaluatePositionTick(facts, last).Position, 60200000);
}

TEST(PlayerPositions, AudioEndingBeforeTheContainerJumpsToTheEnd) {
    TTickFacts facts = PlayingAt(3.9);
    facts.Duration = 5000000;
    facts.AudioStreamDuration = 4000000;
    int64_t last = AV_NOPTS_VALUE;
    EXPECT_EQ(EvaluatePositionTick(facts, last).Position, 3900000);
    facts.MasterClock = 4.0;
    EXPECT_EQ(EvaluatePositionTick(facts, last).Position, 5000000);
}

TEST(PlayerPositions, EndIsDetectedOnlyWhenEverythingHasBeenPlayed) {
    int64_t last = AV_NOPTS_VALUE;
    TTickFacts facts = PlayingAt(59.0);
    facts.ReadEnded = true;
    EXPECT_FALSE(EvaluatePositionTick(facts, last).Ended) << "packets are still queued";

    facts.QueuedPackets = 0;
    EXPECT_FALSE(EvaluatePositionTick(facts, last).Ended) << "the decoder still has sound to hand over";

    facts.AudioPlayedOut = true;
    facts.ReadEnded = false;
    EXPECT_FALSE(EvaluatePositionTick(facts, last).Ended)
        << "the read thread has not met the end: a starved start";

    facts.ReadEnded = true;
    TTickResult tick = EvaluatePositionTick(facts, last);
    EXPECT_TRUE(tick.Ended);
    EXPECT_EQ(tick.Position, 60000000) << "a played-out file stands at its duration, even an estimated one";
    EXPECT_TRUE(EvaluatePositionTick(facts, last).Ended) << "psEnd repeats on every check";

    facts.Reading = true; // the read thread may still deliver packets
    tick = EvaluatePositionTick(facts, last);
    EXPECT_FALSE(tick.Ended);
    EXPECT_EQ(tick.Position, 59000000);
    facts.MasterClock = 60.0;
    EXPECT_TRUE(EvaluatePositionTick(facts, last).Ended) << "unless the position is the end";

    facts.Reading = false;
    facts.CaptureDevice = true;
    EXPECT_FALSE(EvaluatePositionTick(facts, last).Ended) << "a capture device never ends";

    TTickFacts silent;
    EXPECT_FALSE(EvaluatePositionTick(silent, last).HasPosition) << "no clock without an audio stream";
}

} // namespace
