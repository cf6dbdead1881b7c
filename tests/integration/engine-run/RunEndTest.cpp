// How a run ends ("t", "shortest", a stop request, decode errors with and without "xerror", a
// full disk, damaged inputs) and what it reports on the way (progress values, text lines and
// the summary).
#include "EngineRunSupport.h"

#include <atomic>
#include <climits>

using RunEnd = EngineRunTest;

namespace {

struct TReport {
    int32_t FrameNumber, Fps, Duration;
    float Quality, BitRate;
    int64_t Size;
    int32_t Total;
};

} // namespace

TEST_F(RunEnd, RecordingTimeEndsTheRunAtTheSample) {
    const std::string out = OutputPath("one-second.wav");
    OpenInput(TestMediaFile({TMediaFormat::Wav16, 3.0, 44100, 2}));
    Engine.FRecordingTime = 1000000;
    OpenOutput(out);
    ASSERT_TRUE(Convert()) << Engine.ExceptionMessage();
    EXPECT_FALSE(Engine.ExceptionRaised());
    EXPECT_EQ(DecodeAudioFile(out).Frames(), 44100);
}

TEST_F(RunEnd, ShortestEndsWithTheFirstInputToEnd) {
    const std::string longer = TestMediaFile({TMediaFormat::Wav16, 2.0, 44100, 2});
    const std::string shorter = TestMediaFile({TMediaFormat::Wav16, 1.0, 44100, 2});
    for (bool shortest : {false, true}) {
        Engine.Reset();
        const std::string out = OutputPath(shortest ? "shortest.mka" : "all.mka");
        OpenInput(longer);
        OpenInput(shorter);
        OpenOutput(out, "pcm_s16le");
        Engine.FAudioCodecName = "pcm_s16le";
        Engine.NewAudioStream(Engine.FOutputFiles[0].get());
        Engine.FStreamMaps[0] = {0, 0, 0, 0}; // the longer input into the first stream
        Engine.FStreamMaps[1] = {1, 0, 1, 0};
        Engine.FStreamMapCount = 2;
        Engine.FShortest = shortest;
        ASSERT_TRUE(Convert()) << Engine.ExceptionMessage();
        double seconds = DecodeAudioFile(out).Seconds();
        if (shortest)
            EXPECT_LT(seconds, 1.2);
        else
            EXPECT_DOUBLE_EQ(seconds, 2.0);
    }
}

TEST_F(RunEnd, StopRequestEndsUnfinishedWithACompleteFile) {
    const std::string out = OutputPath("stopped.mp3");
    OpenInput(TestMediaFile({TMediaFormat::Wav16, 3.0, 44100, 2}));
    OpenOutput(out, "libmp3lame");
    Engine.FReportInterval = 0; // a report after every packet
    int reports = 0;
    Engine.FProgressCallback = [&](TCustomFFmpeg* sender, int32_t, int32_t, int32_t, float, float, int64_t,
                                   int32_t) {
        if (++reports == 20) sender->BreakConvert(false);
    };
    EXPECT_FALSE(Convert());
    EXPECT_FALSE(Engine.ExceptionRaised());
    double seconds = DecodeAudioFile(out).Seconds(); // the trailer was written: it decodes
    EXPECT_GT(seconds, 0.1);
    EXPECT_LT(seconds, 2.0);
}

TEST_F(RunEnd, ThreadedRunStopsOnRequestFromTheMainThread) {
    const std::string out = OutputPath("threaded.mp3");
    OpenInput(TestMediaFile({TMediaFormat::Wav16, 5.0, 44100, 2}));
    OpenOutput(out, "libmp3lame");
    Engine.FReportInterval = 0;
    std::atomic<int> reports{0};
    std::atomic<bool> terminated{false};
    Engine.FProgressCallback = [&](TCustomFFmpeg*, int32_t, int32_t, int32_t, float, float, int64_t,
                                   int32_t) { ++reports; };
    Engine.FTerminateCallback = [&](TCustomFFmpeg*) { terminated = true; };
    TConvertThread* thread = Engine.BeginConvert(true);
    ASSERT_NE(thread, nullptr);
    thread->Start();
    WaitUntil([&] { return reports >= 5 || terminated; }); // serves the run's log calls meanwhile
    Engine.BreakConvert(true);
    EXPECT_TRUE(terminated);
    EXPECT_FALSE(Engine.Finished());
    EXPECT_FALSE(Engine.ExceptionRaised()) << Engine.ExceptionMessage();
    EXPECT_TRUE(Logged("Stream mapping:"));
    EXPECT_LT(DecodeAudioFile(out).Seconds(), 4.5);
}

TEST_F(RunEnd, DecodeErrorsAreLoggedAndSkippedUnlessTheyEndTheRun) {
    const std::string corrupt = CorruptMiddleMp3();
    const std::string text = "Error while decoding stream #0.0 (Audio)";

    OpenInput(corrupt);
    OpenOutput(OutputPath("repaired.wav"));
    ASSERT_TRUE(Convert()) << Engine.ExceptionMessage();
    EXPECT_TRUE(Logged(text));
    EXPECT_GT(DecodeAudioFile(OutputPath("repaired.wav")).Seconds(), 3.5); // what decodes is kept

    Engine.Reset();
    Log.clear();
    OpenInput(corrupt);
    Engine.FExitOnError = true;
    OpenOutput(OutputPath("stopped.wav"));
    EXPECT_FALSE(Convert());
    EXPECT_TRUE(Engine.ExceptionRaised());
    EXPECT_EQ(Engine.ExceptionMessage(), text);
}

TEST_F(RunEnd, TruncatedInputConvertsWhatCanBeDecoded) {
    const std::string out = OutputPath("truncated.wav");
    OpenInput(TruncatedMp3());
    OpenOutput(out);
    ASSERT_TRUE(Convert()) << Engine.ExceptionMessage();
    EXPECT_NEAR(DecodeAudioFile(out).Seconds(), 1.2, 0.1); // 60 % of 2 s
}

TEST_F(RunEnd, FullDiskEndsWithTheWriteErrorText) {
    OpenInput(TestMediaFile({TMediaFormat::Wav16, 3.0, 44100, 2}));
    Engine.FForcedOutputFormat = av::av_guess_format("wav", nullptr, nullptr);
    ASSERT_GT(Engine.OpenOutputFile("/dev/full", false), 0) << Engine.LastError();
    EXPECT_FALSE(Convert());
    EXPECT_TRUE(Engine.ExceptionRaised());
    const std::string& message = Engine.ExceptionMessage();
    EXPECT_TRUE(message.rfind("av_interleaved_write_frame(): ", 0) == 0 ||
                message.rfind("av_write_trailer(): ", 0) == 0)
        << message;
    EXPECT_TRUE(LoggedPart("No space left on device"));
}

TEST_F(RunEnd, ProgressRisesToTheOutputLengthAndEndsWithTheSummary) {
    const std::string out = OutputPath("progress.wav");
    OpenInput(TestMediaFile({TMediaFormat::Wav16, 3.0, 44100, 2}));
    Engine.FRecordingTime = 1500000;
    Engine.FTotalDuration = 1500; // as "t" sets it
    OpenOutput(out);
    Engine.FReportInterval = 0;
    std::vector<TReport> reports;
    Engine.FProgressCallback = [&](TCustomFFmpeg*, int32_t frame, int32_t fps, int32_t duration,
                                   float quality, float bitRate, int64_t size, int32_t total) {
        reports.push_back({frame, fps, duration, quality, bitRate, size, total});
    };
    ASSERT_TRUE(Convert()) << Engine.ExceptionMessage();

    ASSERT_GT(reports.size(), 10u);
    int32_t previous = 0;
    for (const TReport& r : reports) {
        EXPECT_EQ(r.FrameNumber, -1); // audio only
        EXPECT_EQ(r.Fps, -1);
        EXPECT_EQ(r.Quality, -1.0f);
        EXPECT_EQ(r.Total, 1500);
        EXPECT_GE(r.Duration, previous);
        previous = r.Duration;
    }
    EXPECT_EQ(reports.back().Duration, 1500);
    EXPECT_EQ(reports.back().Size, GetFileSize64(out));
    EXPECT_NEAR(reports.back().BitRate, 44100 * 2 * 16 / 1000.0, 5.0); // 16-bit stereo PCM
    // With a callback the lines are not logged; the summary is.
    EXPECT_FALSE(LoggedPart("size="));
    EXPECT_TRUE(LoggedPart("video:0kB audio:258kB global headers:0kB muxing overhead "));
}

TEST_F(RunEnd, WithoutCallbackTheReportIsATextLine) {
    OpenInput(TestMediaFile({TMediaFormat::Wav16, 1.0, 44100, 2}));
    OpenOutput(OutputPath("text.wav"));
    ASSERT_TRUE(Convert()) << Engine.ExceptionMessage();
    EXPECT_TRUE(LoggedPart("kB time=1.00 bitrate="));
}

TEST_F(RunEnd, NothingProducedReportsZero) {
    OpenInput(TestMediaFile({TMediaFormat::Wav16, 1.0, 44100, 2}));
    OpenOutput(OutputPath("empty.wav"));
    ASSERT_NO_THROW(Engine.SetupRun());
    std::vector<TReport> reports;
    Engine.FProgressCallback = [&](TCustomFFmpeg*, int32_t frame, int32_t fps, int32_t duration,
                                   float quality, float bitRate, int64_t size, int32_t total) {
        reports.push_back({frame, fps, duration, quality, bitRate, size, total});
    };
    Engine.ReportProgress(true);
    Engine.ReleaseRunTables();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].Duration, 0);
    EXPECT_EQ(reports[0].BitRate, 0.0f);
    EXPECT_TRUE(LoggedPart("muxing overhead 0.000000%"));
}
