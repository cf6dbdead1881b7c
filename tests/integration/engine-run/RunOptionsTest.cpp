// Run options that change what reaches the output: audio sync against timestamps ("async" with
// "itsoffset" and "itsscale"), the size and frame limits, rate emulation, bitstream filters.
#include "EngineRunSupport.h"

#include <chrono>

using RunOptions = EngineRunTest;

TEST_F(RunOptions, AudioSyncFillsAGapBeforeTheFirstBlockWithSilence) {
    const std::string source = TestMediaFile({TMediaFormat::Wav16, 1.0, 44100, 2});
    TDecodedAudio in = DecodeAudioFile(source);
    for (int async : {0, 1}) {
        Engine.Reset();
        const std::string out = OutputPath("async" + std::to_string(async) + ".wav");
        Engine.FInputTsOffset = 500000; // the input's audio begins half a second into the output
        OpenInput(source);
        Engine.FAudioSyncMethod = async;
        OpenOutput(out);
        ASSERT_TRUE(Convert()) << Engine.ExceptionMessage();
        TDecodedAudio result = DecodeAudioFile(out);
        const int64_t gap = async ? 22050 : 0; // without sync the samples just follow each other
        ASSERT_EQ(result.Frames(), in.Frames() + gap);
        for (int64_t i = 0; i < gap * 2; ++i)
            ASSERT_EQ(result.Samples[i], 0.0f) << i;
        EXPECT_TRUE(std::equal(in.Samples.begin(), in.Samples.end(), result.Samples.begin() + gap * 2));
    }
}

TEST_F(RunOptions, DriftCompensationFollowsStretchedTimestamps) {
    const std::string source = TestMediaFile({TMediaFormat::Wav16, 2.0, 44100, 2});
    for (int async : {0, 1000}) {
        Engine.Reset();
        const std::string out = OutputPath("drift" + std::to_string(async) + ".wav");
        Engine.FInputTsScales[0][0] = 1.01; // the timestamps claim 2.02 s
        OpenInput(source);
        Engine.FAudioSyncMethod = async;
        OpenOutput(out);
        ASSERT_TRUE(Convert()) << Engine.ExceptionMessage();
        int64_t frames = DecodeAudioFile(out).Frames();
        if (async == 0) {
            EXPECT_EQ(frames, 88200);
        } else { // stretched by the resampler toward 2.02 s, a little behind the drift
            EXPECT_GT(frames, 88200 + 400);
            EXPECT_LE(frames, 89082 + 100);
        }
    }
}

TEST_F(RunOptions, SizeAndFrameLimitsEndTheRunFinished) {
    const std::string source = TestMediaFile({TMediaFormat::Wav16, 3.0, 44100, 2});
    const std::string sized = OutputPath("sized.wav");
    OpenInput(source);
    Engine.FLimitFileSize = 100000;
    OpenOutput(sized);
    ASSERT_TRUE(Convert()) << Engine.ExceptionMessage();
    EXPECT_GE(GetFileSize64(sized), 100000);
    EXPECT_LT(GetFileSize64(sized), 140000);

    Engine.Reset();
    const std::string framed = OutputPath("framed.mp3");
    OpenInput(source);
    Engine.FMaxFrames[AVMEDIA_TYPE_AUDIO] = 10;
    OpenOutput(framed, "libmp3lame");
    ASSERT_TRUE(Convert()) << Engine.ExceptionMessage();
    EXPECT_LT(DecodeAudioFile(framed).Seconds(), 0.6); // about ten frames of 26 ms, and the flush
}

TEST_F(RunOptions, RateEmulationReadsAtNativeSpeed) {
    OpenInput(TestMediaFile({TMediaFormat::Wav16, 0.5, 44100, 2}));
    Engine.FRateEmulation = true;
    OpenOutput(OutputPath("paced.wav"));
    auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(Convert()) << Engine.ExceptionMessage();
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(400));
}

TEST_F(RunOptions, BitstreamFiltersFilterCopiedPackets) {
    const std::string source = TestMediaFile({TMediaFormat::Mp3Cbr, 1.0, 44100, 2});
    const std::string out = OutputPath("filtered.mp3");
    OpenInput(source);
    Engine.FAudioBsfChain = {av::av_bsf_get_by_name("null"), av::av_bsf_get_by_name("null")};
    OpenOutput(out, "copy");
    ASSERT_TRUE(Convert()) << Engine.ExceptionMessage();
    EXPECT_NEAR(DecodeAudioFile(out).Seconds(), 1.0, 0.03);

    // A filter for another codec cannot be set up: the run fails before anything is written.
    Engine.Reset();
    OpenInput(source);
    Engine.FAudioBsfChain = {av::av_bsf_get_by_name("aac_adtstoasc")};
    OpenOutput(OutputPath("refused.mp3"), "copy");
    EXPECT_FALSE(Convert());
    EXPECT_EQ(Engine.ExceptionMessage(), "aac_adtstoasc: cannot set up the bitstream filter for stream 0");
    EXPECT_FALSE(FileExists(OutputPath("refused.mp3")));
}
