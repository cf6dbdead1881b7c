// Run setup: which input stream feeds each output stream (by type, by map, in join mode), the
// checks and their texts, resampling decisions, codec opening and the mapping log; and what a
// run leaves behind when it stops at once or fails before writing anything.
#include "EngineRunSupport.h"

#include "FFPtr.h"
#include "UnicodeProtocol.h"

using RunSetup = EngineRunTest;

namespace {

// Runs the setup and returns its failure text ("" when it succeeded).
std::string SetupFailure(TRunEngine& engine) {
    try {
        engine.SetupRun();
    } catch (const FFmpegException& e) {
        engine.ReleaseRunTables();
        return e.what();
    }
    return "";
}

} // namespace

TEST_F(RunSetup, OneAudioInputFeedsTheOutputByType) {
    OpenInput(TestMediaFile({TMediaFormat::Wav16, 1.0, 44100, 2}));
    OpenOutput(OutputPath("out.mp3"), "libmp3lame");
    ASSERT_EQ(SetupFailure(Engine), "");
    TRunState& run = Engine.State();
    ASSERT_EQ(run.OutputStreams.size(), 1u);
    const TOutputStreamState& ost = *run.OutputStreams[0];
    EXPECT_EQ(ost.SourceIndex, 0);
    EXPECT_EQ(ost.SyncSource, 0);
    EXPECT_TRUE(ost.Encode);
    EXPECT_FALSE(ost.NeedsResample);
    EXPECT_TRUE(run.InputStreams[0]->Decode);
    EXPECT_FALSE(run.InputStreams[0]->Discarded);
    EXPECT_EQ(run.OpenedEncoders.size(), 1u);
    EXPECT_EQ(run.OpenedDecoders.size(), 1u);
    EXPECT_TRUE(Logged("Stream mapping:"));
    EXPECT_TRUE(Logged("  Stream #0.0 -> #0.0 (Audio)"));
}

TEST_F(RunSetup, MapsChooseSourceAndSyncStream) {
    OpenInput(TestMediaFile({TMediaFormat::Wav16, 1.0, 44100, 2}));
    OpenInput(TestMediaFile({TMediaFormat::Wav16, 2.0, 44100, 2}));
    OpenOutput(OutputPath("out.wav"));
    Engine.FStreamMaps[0] = {1, 0, 0, 0};
    Engine.FStreamMapCount = 1;
    ASSERT_EQ(SetupFailure(Engine), "");
    const TOutputStreamState& ost = *Engine.State().OutputStreams[0];
    EXPECT_EQ(ost.SourceIndex, 1);
    EXPECT_EQ(ost.SyncSource, 0);
    EXPECT_FALSE(Engine.State().InputStreams[1]->Discarded);
    EXPECT_TRUE(Engine.State().InputStreams[0]->Discarded); // a sync stream is not a source
    EXPECT_TRUE(Logged("  Stream #1.0 -> #0.0 (Audio)"));
    EXPECT_TRUE(Logged(" [sync #0.0 (Audio)]"));
}

TEST_F(RunSetup, EveryMappingFailureHasItsText) {
    std::string wav = TestMediaFile({TMediaFormat::Wav16, 1.0, 44100, 2});
    struct TCase {
        std::vector<TStreamMapEntry> Maps;
        std::string Text;
    };
    const TCase cases[] = {
        {{{0, 0, 0, 0}, {0, 0, 0, 0}}, "Number of stream maps must match number of output streams"},
        {{{3, 0, 3, 0}}, "Could not find input stream #3.0"},
        {{{0, 1, 0, 1}}, "Could not find input stream #0.1"},
        {{{0, 0, 0, 5}}, "Could not find sync stream #0.5"},
    };
    for (const TCase& c : cases) {
        Engine.Reset();
        OpenInput(wav);
        OpenOutput(OutputPath("out.wav"));
        for (const TStreamMapEntry& map : c.Maps)
            Engine.FStreamMaps[Engine.FStreamMapCount++] = map;
        EXPECT_EQ(SetupFailure(Engine), c.Text);
    }

    // An output entry without streams is refused before anything is opened.
    Engine.Reset();
    OpenInput(wav);
    Engine.FAudioDisabled = true;
    OpenOutput(OutputPath("empty.wav"));
    EXPECT_EQ(SetupFailure(Engine), "Output file #0 does not contain any stream");

    // A map to a stream of another kind.
    Engine.Reset();
    OpenInput(VideoStreamFile());
    Engine.FVideoDisabled = true;
    OpenOutput(OutputPath("out.mp3"));
    Engine.FStreamMaps[Engine.FStreamMapCount++] = {0, 0, 0, 0};
    EXPECT_EQ(SetupFailure(Engine), "Codec type mismatch for mapping #0.0 (Video) -> #0.0 (Audio)");

    // An audio output made before a video-only input was opened finds nothing to take.
    std::string videoOnly = OutputPath("video-only.mkv");
    Engine.Reset();
    OpenInput(VideoStreamFile());
    Engine.FVideoStreamCopy = true;
    Engine.FAudioDisabled = true;
    OpenOutput(videoOnly);
    ASSERT_TRUE(Convert()) << Engine.ExceptionMessage();
    Engine.Reset();
    OpenOutput(OutputPath("out.wav"));
    OpenInput(videoOnly);
    EXPECT_EQ(SetupFailure(Engine), "Could not find input stream matching output stream #0.0 (Audio)");
}

TEST_F(RunSetup, CopyRefusesVolumeAndVideoIsOnlyCopied) {
    OpenInput(TestMediaFile({TMediaFormat::Mp3Cbr, 1.0, 44100, 2}));
    OpenOutput(OutputPath("copy.mp3"), "copy");
    Engine.FAudioVolume = 512;
    EXPECT_EQ(SetupFailure(Engine), "-acodec copy and -vol are incompatible (frames are not decoded)");

    Engine.Reset();
    OpenInput(VideoStreamFile());
    OpenOutput(OutputPath("video.mkv")); // the format's default video encoder
    EXPECT_EQ(SetupFailure(Engine), "Video and subtitle encoding are not supported");
}

TEST_F(RunSetup, ResamplingIsNeededForAnotherRateOrDriftCompensation) {
    std::string wav = TestMediaFile({TMediaFormat::Wav16, 1.0, 44100, 2});
    struct TCase {
        int Rate;
        int Async;
        bool Needs;
    };
    for (TCase c :
         {TCase{44100, 0, false}, TCase{48000, 0, true}, TCase{44100, 1, false}, TCase{44100, 2, true}}) {
        Engine.Reset();
        OpenInput(wav);
        Engine.FAudioSampleRate = c.Rate;
        Engine.FAudioSyncMethod = c.Async;
        OpenOutput(OutputPath("out.wav"));
        ASSERT_EQ(SetupFailure(Engine), "");
        EXPECT_EQ(Engine.State().OutputStreams[0]->NeedsResample, c.Needs) << c.Rate << " " << c.Async;
    }
}

TEST_F(RunSetup, TwoAudioOutputsShareTheOnlyAudioInput) {
    OpenInput(TestMediaFile({TMediaFormat::Wav16, 1.0, 44100, 2}));
    OpenOutput(OutputPath("two.mka"), "pcm_s16le");
    Engine.FAudioCodecName = "pcm_s16le";
    Engine.NewAudioStream(Engine.FOutputFiles[0].get());
    ASSERT_EQ(SetupFailure(Engine), "");
    ASSERT_EQ(Engine.State().OutputStreams.size(), 2u);
    EXPECT_EQ(Engine.State().OutputStreams[0]->SourceIndex, 0);
    EXPECT_EQ(Engine.State().OutputStreams[1]->SourceIndex, 0); // the last audio input, used or not
    EXPECT_TRUE(Logged("  Stream #0.0 -> #0.1 (Audio)"));
}

TEST_F(RunSetup, JoinFeedsOneGroupPerInputThroughOneEncoder) {
    OpenInput(TestMediaFile({TMediaFormat::Wav16, 1.0, 44100, 2}));
    OpenInput(TestMediaFile({TMediaFormat::Wav16, 2.0, 44100, 2}));
    OpenOutput(OutputPath("joined.mp3"), "libmp3lame", true);
    ASSERT_EQ(SetupFailure(Engine), "");
    TRunState& run = Engine.State();
    EXPECT_EQ(run.GroupSize, 1);
    ASSERT_EQ(run.OutputStreams.size(), 2u);
    EXPECT_EQ(run.OutputStreams[0]->SourceIndex, 0);
    EXPECT_EQ(run.OutputStreams[1]->SourceIndex, 1);
    EXPECT_EQ(run.OutputStreams[0]->Writer, run.OutputStreams[1]->Writer);
    EXPECT_EQ(run.OpenedEncoders.size(), 1u);
    EXPECT_EQ(run.OpenedDecoders.size(), 2u);
    EXPECT_TRUE(Logged("  Stream #0.0 -> #0.0 (Audio)"));
    EXPECT_TRUE(Logged("  Stream #1.0 -> #0.0 (Audio)"));
}

TEST_F(RunSetup, ImmediateStopWritesACompleteFileAndClosesEveryCodec) {
    std::string out = OutputPath("stopped.wav");
    OpenInput(TestMediaFile({TMediaFormat::Mp3Cbr, 1.0, 44100, 2}));
    OpenOutput(out);
    Engine.FStopRequested = true;
    Engine.RunConversion();
    EXPECT_FALSE(Engine.Finished());
    EXPECT_TRUE(Engine.State().OpenedEncoders.empty());
    EXPECT_TRUE(Engine.State().OpenedDecoders.empty());
    EXPECT_TRUE(Engine.State().OutputStreams.empty()); // tables released
    Engine.Reset();
    // Header and trailer: a WAV file whose sizes are filled in, holding no audio.
    AVFormatContext* ic = nullptr;
    ASSERT_EQ(OpenMediaInput(&ic, MediaFileName(out), nullptr, nullptr), 0);
    TInputContextPtr owner(ic);
    EXPECT_STREQ(ic->iformat->name, "wav");
    EXPECT_GE(GetFileSize64(out), 44);
    EXPECT_EQ(DecodeAudioFile(out).Frames(), 0);
}

TEST_F(RunSetup, RunFailingBeforeTheHeaderLeavesNoFile) {
    std::string out = OutputPath("failed.wav");
    OpenInput(TestMediaFile({TMediaFormat::Wav16, 1.0, 44100, 2}));
    OpenOutput(out);
    Engine.FStreamMaps[Engine.FStreamMapCount++] = {5, 0, 5, 0};
    ASSERT_TRUE(FileExists(out));
    EXPECT_FALSE(Convert());
    EXPECT_TRUE(Engine.ExceptionRaised());
    EXPECT_EQ(Engine.ExceptionMessage(), "Could not find input stream #5.0");
    EXPECT_FALSE(FileExists(out)); // the empty output is deleted
}
