// Whole conversions through the component with the records the window fills in, checked on the
// decoded output; and bad input, which must fail setup cleanly.
#include "ConverterFixture.h"
#include "TestMedia.h"

namespace {

class ConverterEndToEnd : public ConverterFixture {
protected:
    void SetUp() override {
        ConverterFixture::SetUp();
        FLog.Attach(FComponent);
    }

    // The input record of the window: the file, "vn=1" for the extensions that get it.
    static TInputOptions WindowInput(const std::string& fileName, int32_t startMs = -1) {
        TInputOptions in;
        in.FileName = fileName;
        in.StartTimeMs = startMs;
        if (std::string(".aac.ac3.mp2.mp3.wav.wma").find(ExtractFileExt(fileName)) != std::string::npos)
            in.ExtOptions = "vn=1";
        return in;
    }

    // The output record of the window, with the audio parameters of `model` as the probe gives them.
    TOutputOptions WindowOutput(const std::string& outputName, const std::string& encoder,
                                const std::string& model) {
        TOutputOptions out;
        EXPECT_TRUE(FComponent.AVProbe().LoadFile(model, "")) << FComponent.AVProbe().LastErrMsg;
        TAudioStreamInfo info;
        FComponent.AVProbe().GetAudioStreamInfo(info);
        FComponent.AVProbe().Close();
        out.DisableVideo = true;
        out.FileExt = ExtractFileExt(outputName);
        out.AudioCodec = encoder;
        out.AudioChannels = info.Channels;
        out.AudioSampleRate = info.SampleRate;
        out.AudioBitrate = info.BitRate;
        return out;
    }

    // Starts the task on one thread as the window does and waits for the final event; the task's
    // own termination must report a finished run.
    void RunAndExpectFinished() {
        FComponent.ThreadPriority = tpNormal;
        FComponent.StartConvert(1);
        ASSERT_TRUE(WaitMain([&] { return FLog.Terminations().size() == 2; }));
        for (const auto& event : FLog.Terminations()) {
            if (event.Index == 0) {
                EXPECT_TRUE(event.Finished && !event.Exception) << event.Message;
            }
        }
    }

    ZEVuzuzAVE FComponent;
    TEventLog FLog;
};

} // namespace

TEST_F(ConverterEndToEnd, SelectSegmentOfWavIsSampleExact) {
    const std::string input = TestMediaFile({TMediaFormat::Wav16, 6.0, 44100, 2});
    const std::string output = OutPath("select.wav");
    FComponent.ClearTasks();
    TInputOptions in = WindowInput(input, 2500);
    ASSERT_EQ(FComponent.AddTask(input, &in), 0) << FComponent.LastErrMsg;
    TOutputOptions out = WindowOutput(output, "pcm_s16le", input);
    out.DurationMs = 5000 - 2500;
    ASSERT_TRUE(FComponent.SetOutput(0, output, &out)) << FComponent.LastErrMsg;
    RunAndExpectFinished();

    const TDecodedAudio piece = DecodeAudioFile(output);
    ASSERT_EQ(piece.Channels, 2);
    ASSERT_EQ(piece.Frames(), 110250);
    EXPECT_EQ(RampIndexOf(piece.At(0, 0), 110250, 0), 110250);
    EXPECT_EQ(RampIndexOf(piece.At(0, 1), 110250, 1), 110250);
    EXPECT_EQ(RampIndexOf(piece.At(piece.Frames() - 1, 0), 220499, 0), 220499);
}

TEST_F(ConverterEndToEnd, SelectSegmentOfMp3StartsAtTheMark) {
    const TMediaSpec spec{TMediaFormat::Mp3Cbr, 6.0, 44100, 2, 128000};
    const std::string input = TestMediaFile(spec);
    const std::string output = OutPath("select.mp3");
    TInputOptions in = WindowInput(input, 2000);
    ASSERT_EQ(FComponent.AddTask(input, &in), 0) << FComponent.LastErrMsg;
    TOutputOptions out = WindowOutput(output, "libmp3lame", input);
    out.DurationMs = 3000;
    ASSERT_TRUE(FComponent.SetOutput(0, output, &out)) << FComponent.LastErrMsg;
    RunAndExpectFinished();

    const TDecodedAudio source = DecodeAudioFile(input);
    const TDecodedAudio piece = DecodeAudioFile(output);
    EXPECT_EQ(piece.SampleRate, 44100);
    EXPECT_EQ(piece.Channels, 2);
    EXPECT_NEAR(piece.Seconds(), 3.0, 0.03);
    // 3 ms at most between the mark and where the piece begins.
    EXPECT_NEAR(double(FindOffsetInSource(source, piece, 4096, 88200, 4410)), 88200.0, 132.0);
}

// Delete mode's join: float WAV parts, one task with the parts as inputs, encoded once.
TEST_F(ConverterEndToEnd, JoinOfThreePartsIsSeamless) {
    const int64_t lengths[3] = {44100, 22050, 30870};
    const std::string output = OutPath("joined.wav");
    std::string model;
    for (int64_t frames : lengths) {
        const std::string part = TestMediaFile({TMediaFormat::WavFloat, double(frames) / 44100, 44100, 2});
        model = part;
        TInputOptions in = WindowInput(part);
        if (FComponent.TaskCount() == 0)
            ASSERT_EQ(FComponent.AddTask(part, &in), 0) << FComponent.LastErrMsg;
        else
            ASSERT_TRUE(FComponent.AddInput(0, part, &in)) << FComponent.LastErrMsg;
    }
    TOutputOptions out = WindowOutput(output, "pcm_s16le", model);
    out.Join = true;
    ASSERT_TRUE(FComponent.SetOutput(0, output, &out)) << FComponent.LastErrMsg;
    RunAndExpectFinished();

    const TDecodedAudio joined = DecodeAudioFile(output);
    ASSERT_EQ(joined.Frames(), lengths[0] + lengths[1] + lengths[2]);
    int64_t at = 0;
    for (int64_t frames : lengths) {
        SCOPED_TRACE(at);
        EXPECT_EQ(RampIndexOf(joined.At(at, 0), 0, 0), 0); // each part starts over
        EXPECT_EQ(RampIndexOf(joined.At(at + frames - 1, 1), frames - 1, 1), frames - 1);
        at += frames;
    }
}

TEST_F(ConverterEndToEnd, BadInputFailsSetupAndLeavesNothingRunning) {
    const std::string wav = TestMediaFile({TMediaFormat::Wav16, 1.0, 44100, 2});
    const std::string missing = OutPath("missing.wav");
    EXPECT_EQ(FComponent.AddTask(missing), -1);
    EXPECT_EQ(FComponent.LastErrMsg.rfind(missing + ": ", 0), 0u) << FComponent.LastErrMsg;
    TInputOptions in;
    in.ExtOptions = "vn=1\nar=abc";
    EXPECT_EQ(FComponent.AddTask(wav, &in), -1);
    EXPECT_EQ(FComponent.LastErrMsg, "'abc' is not a valid integer value");
    ResetInputOptions(in);
    in.ForceFormat = "nosuchformat";
    EXPECT_EQ(FComponent.AddTask(wav, &in), -1);
    EXPECT_EQ(FComponent.LastErrMsg, "Unknown input format: nosuchformat");
    EXPECT_EQ(FComponent.TaskCount(), 0);

    ASSERT_EQ(FComponent.AddTask(wav), 0) << FComponent.LastErrMsg;
    EXPECT_FALSE(FComponent.AddInput(0, missing));
    EXPECT_EQ(FComponent.LastErrMsg.rfind(missing + ": ", 0), 0u) << FComponent.LastErrMsg;
    TOutputOptions out;
    out.ForceFormat = "nosuchformat";
    EXPECT_FALSE(FComponent.SetOutput(0, OutPath("bad1.wav"), &out));
    EXPECT_EQ(FComponent.LastErrMsg, "Unknown output format: nosuchformat");
    ResetOutputOptions(out);
    out.ExtOptions = "ac=two";
    EXPECT_FALSE(FComponent.SetOutput(0, OutPath("bad2.wav"), &out));
    EXPECT_EQ(FComponent.LastErrMsg, "'two' is not a valid integer value");
    EXPECT_FALSE(FComponent.SetOutput(0, OutPath("bad3.nosuchext")));
    EXPECT_FALSE(FComponent.LastErrMsg.empty());
    EXPECT_EQ(FComponent.Task(0)->FOutputFileCount, 0);

    // The task has no output: starting it reports the failure and the final event.
    FComponent.StartConvert(1);
    ASSERT_TRUE(WaitMain([&] { return FLog.Terminations().size() == 2; }));
    for (const auto& event : FLog.Terminations()) {
        if (event.Index == -1) continue;
        EXPECT_EQ(event.Index, 0);
        EXPECT_FALSE(event.Finished);
        EXPECT_TRUE(event.Exception);
        EXPECT_EQ(event.Message, "At least one output file must be specified");
    }
    EXPECT_FALSE(FComponent.Task(0)->Converting());
    FComponent.ClearTasks();
    EXPECT_EQ(FComponent.TaskCount(), 0);
    EXPECT_TRUE(FComponent.LastErrMsg.empty());
}
