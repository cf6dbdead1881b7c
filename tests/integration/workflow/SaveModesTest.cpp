// Both save modes end to end: each format's select, the delete sequence with its progress shares,
// the output name's extension, the encoder per format, Stop and the replace question.
#include "WorkflowHarness.h"
#include "TestFiles.h"

#include "MyUtils.h"

#include <fstream>
#include <sstream>

using namespace WorkflowText;

namespace {

struct TFormatCase {
    TMediaFormat Format;
    const char* Encoder; // chosen for the output
    const char* Decoder; // what the output decodes with
    bool VideoOff;       // the input gets "vn=1"
};

std::string ProbeCodec(ZEVuzuzAVE& converter, const std::string& file) {
    TAVProbe& probe = converter.AVProbe();
    if (!probe.LoadFile(file, "")) return "(" + probe.LastErrMsg + ")";
    TAudioStreamInfo info;
    probe.GetAudioStreamInfo(info);
    probe.Close();
    return CodecNameFromDescription(info.Codec);
}


class WorkflowSelectFormat : public WorkflowTest, public ::testing::WithParamInterface<TFormatCase> {};

std::string FormatCaseName(const ::testing::TestParamInfo<TFormatCase>& info) {
    static const char* const kNames[] = {"Mp3Cbr", "Mp3Vbr", "Aac", "Wav16", "WavFloat", "Wma", "Ogg"};
    return kNames[int(info.param.Format)];
}

} // namespace

// 2.5 s to 5.0 s of every format: one task with start 2500 ms and duration 2500 ms, the input's
// extension, its encoder, and 2.5 s of audio taken from 2.5 s on.
TEST_P(WorkflowSelectFormat, SelectsTwoAndAHalfSeconds) {
    SKIP_WITHOUT_CONVERSIONS();
    const TFormatCase& c = GetParam();
    TMediaSpec spec{c.Format, 6.0, 44100, 2, 128000};
    std::string input = TestMediaFile(spec);
    Open(input, 1, 2500, 5000);
    ASSERT_EQ(SaveAs("cut.dat"), TSaveResult::Done) << FWorkflow->LastMessage();

    std::string ext = MediaFormatExt(c.Format);
    std::string output = Scratch("cut" + ext);
    EXPECT_EQ(FWorkflow->OutputFile(), output);
    EXPECT_EQ(ScratchEntries(), std::vector<std::string>{"cut" + ext}); // no hidden file left
    ASSERT_EQ(FSteps.size(), 1u);
    const TRecordedStep& step = FSteps[0];
    EXPECT_EQ(step.Step.Kind, TStepKind::Segment);
    EXPECT_EQ(step.Inputs.at(0).StartTimeMs, 2500);
    EXPECT_EQ(step.Inputs.at(0).ExtOptions, c.VideoOff ? "vn=1" : "");
    EXPECT_EQ(step.Output.DurationMs, 2500);
    EXPECT_EQ(step.Output.FileExt, ext);
    EXPECT_EQ(step.Output.AudioCodec, c.Encoder);
    EXPECT_TRUE(step.Output.DisableVideo);
    EXPECT_EQ(step.Output.AudioChannels, 2);
    EXPECT_EQ(step.Output.AudioSampleRate, 44100);
    EXPECT_EQ(ProbeCodec(FConverter, output), c.Decoder);

    EXPECT_TRUE(FMessages.empty());
    EXPECT_EQ(FQuestions, std::vector<std::string>{kOpenFolderQuestion});
    EXPECT_EQ(FOpenedFolders, std::vector<std::string>{Scratch()});
    EXPECT_EQ(FBusy, (std::vector<int>{0, 1}));
    for (const TRecordedProgress& p : Progress()) {
        EXPECT_GE(p.Position, 0);
        EXPECT_LE(p.Position, 100);
    }

    // Where the audio came from. ADTS AAC and WMA keep their encoder priming (their containers
    // cannot signal it), so only they get a loose bound here; exactness is AccuracyTest's.
    TDecodedAudio source = DecodeAudioFile(input);
    TDecodedAudio cut = DecodeAudioFile(output);
    bool loose = c.Format == TMediaFormat::Aac || c.Format == TMediaFormat::Wma;
    int64_t tolerance = IsPcmFormat(c.Format) ? 0 : loose ? 4096 : 44;
    EXPECT_NEAR(double(cut.Frames()), 110250.0, double(tolerance));
    int64_t offset = FindOffsetInSource(source, cut, 4096, 110250, 8820);
    EXPECT_NEAR(double(offset), 110250.0, double(tolerance));
}

INSTANTIATE_TEST_SUITE_P(EachFormat, WorkflowSelectFormat,
                         ::testing::Values(TFormatCase{TMediaFormat::Wav16, "pcm_s16le", "pcm_s16le", true},
                                           TFormatCase{TMediaFormat::WavFloat, "pcm_f32le", "pcm_f32le",
                                                       true},
                                           TFormatCase{TMediaFormat::Mp3Cbr, "libmp3lame", "mp3float", true},
                                           TFormatCase{TMediaFormat::Mp3Vbr, "libmp3lame", "mp3float", true},
                                           TFormatCase{TMediaFormat::Aac, "aac", "aac", true},
                                           TFormatCase{TMediaFormat::Wma, "wmav2", "wmav2", true},
                                           TFormatCase{TMediaFormat::Ogg, "libvorbis", "vorbis", false}),
                         FormatCaseName);

// A 100-second file, marks at 20 s and 70 s: two lossless float parts with the shares 20 and 30 (base
// 20), then the join with base 50 and share 50; the result is the input without exactly the
// marked samples.
TEST_F(WorkflowTest, DeleteModeHundredSecondExample) {
    SKIP_WITHOUT_CONVERSIONS();
    std::string input = TestMediaFile(TMediaSpec{TMediaFormat::Wav16, 100.0, 22050, 2});
    Open(input, 2, 20000, 70000);
    FWorkflow->FTimeInfo.TotalTime = 100000000;
    ASSERT_EQ(SaveAs("rest.wav"), TSaveResult::Done) << FWorkflow->LastMessage();

    ASSERT_EQ(FSteps.size(), 3u);
    const TRecordedStep& first = FSteps[0];
    const TRecordedStep& second = FSteps[1];
    const TRecordedStep& join = FSteps[2];
    EXPECT_EQ(first.Step.Kind, TStepKind::Part);
    EXPECT_EQ(first.Step.ProgressBase, 0);
    EXPECT_EQ(first.Step.ProgressWeight, 20);
    EXPECT_EQ(ExtractFileName(first.Step.Output), "Movies1.wav");
    EXPECT_EQ(ExtractFilePath(first.Step.Output), Scratch("TemAudio/"));
    EXPECT_EQ(first.Output.DurationMs, 20000);
    EXPECT_EQ(first.Output.AudioCodec, "pcm_f32le");
    EXPECT_EQ(first.Output.FileExt, ".wav");
    EXPECT_EQ(first.Output.ExtOptions, "rf64=auto"); // parts over 4 GiB stay valid
    EXPECT_EQ(first.Output.AudioSampleRate, 22050);
    EXPECT_EQ(first.Output.AudioChannels, 2);

    EXPECT_EQ(second.Step.Kind, TStepKind::Part);
    EXPECT_EQ(second.Step.ProgressBase, 20);
    EXPECT_EQ(second.Step.ProgressWeight, 30);
    EXPECT_EQ(ExtractFileName(second.Step.Output), "Movies2.wav");
    EXPECT_EQ(second.Inputs.at(0).StartTimeMs, 70000);
    EXPECT_LE(second.Output.DurationMs, 0); // to the real end of the input
    EXPECT_EQ(second.Output.AudioCodec, "pcm_f32le");

    EXPECT_EQ(join.Step.Kind, TStepKind::Join);
    EXPECT_EQ(join.Step.ProgressBase, 50);
    EXPECT_EQ(join.Step.ProgressWeight, 50);
    EXPECT_EQ(join.Step.Inputs, (std::vector<std::string>{first.Step.Output, second.Step.Output}));
    EXPECT_TRUE(join.Output.Join);
    EXPECT_EQ(join.Output.AudioCodec, "pcm_s16le");

    for (const TRecordedProgress& p : Progress()) {
        ASSERT_GE(p.StepIndex, 0);
        const TConversionStep& s = FSteps[size_t(p.StepIndex)].Step;
        EXPECT_GE(p.Position, s.ProgressBase) << p.Text;
        EXPECT_LE(p.Position, s.ProgressBase + s.ProgressWeight) << p.Text;
    }
    EXPECT_EQ(ScratchEntries(), std::vector<std::string>{"rest.wav"}); // temporary folder gone

    TDecodedAudio rest = DecodeAudioFile(Scratch("rest.wav"));
    ASSERT_EQ(rest.Frames(), 50 * 22050);
    for (int channel = 0; channel < 2; ++channel) {
        EXPECT_EQ(
            FirstRampMismatch(rest, channel, [](int64_t i) { return i < 20 * 22050 ? i : i + 50 * 22050; }),
            -1)
            << "channel " << channel;
    }
}

// An input named with an upper-case .WMA, saved under a name ending in .dat: the output ends in
// .wma, is encoded with wmav2, and the input gets no "vn=1" (that test is case-sensitive).
TEST_F(WorkflowTest, UpperCaseWmaSavedAsDatBecomesWma) {
    SKIP_WITHOUT_CONVERSIONS();
    std::string input = CopyIn(TestMediaFile(TMediaSpec{TMediaFormat::Wma, 4.0}), "Song.WMA");
    Open(input, 1, 1000, 3000);
    ASSERT_EQ(SaveAs("take.dat"), TSaveResult::Done) << FWorkflow->LastMessage();
    EXPECT_TRUE(FileExists(Scratch("take.wma")));
    EXPECT_FALSE(FileExists(Scratch("take.dat")));
    ASSERT_EQ(FSteps.size(), 1u);
    EXPECT_EQ(FSteps[0].Inputs.at(0).ExtOptions, "");
    EXPECT_EQ(FSteps[0].Output.AudioCodec, "wmav2");
    EXPECT_EQ(FSteps[0].Output.FileExt, ".wma");
    EXPECT_EQ(ProbeCodec(FConverter, Scratch("take.wma")), "wmav2");
}

// Stop pressed during the second part: Movies2 is deleted, no join runs, no open-folder prompt,
// the temporary folder is removed and the controls are restored; an existing target stays.
TEST_F(WorkflowTest, StopDuringTheSecondPart) {
    SKIP_WITHOUT_CONVERSIONS();
    std::string input = TestMediaFile(TMediaSpec{TMediaFormat::Wav16, 6.0});
    { std::ofstream(Scratch("out.wav")) << "previous"; }
    Open(input, 2, 1000, 2000);
    FOnWait = [this](int index) {
        if (index == 1) FWorkflow->Stop();
    };
    EXPECT_EQ(SaveAs("out.wav"), TSaveResult::Stopped);
    EXPECT_EQ(FSteps.size(), 2u);
    EXPECT_EQ(FQuestions, std::vector<std::string>{kReplaceQuestion});
    EXPECT_TRUE(FMessages.empty());
    EXPECT_EQ(FBusy, (std::vector<int>{0, 1}));
    EXPECT_FALSE(FWorkflow->Busy());
    EXPECT_EQ(ScratchEntries(), std::vector<std::string>{"out.wav"});
    EXPECT_EQ(ReadAll(Scratch("out.wav")), "previous");
}

// Stop in each other phase: the select's only conversion, the first part, the join.
TEST_F(WorkflowTest, StopInEveryPhaseLeavesNothing) {
    SKIP_WITHOUT_CONVERSIONS();
    std::string input = TestMediaFile(TMediaSpec{TMediaFormat::Wav16, 6.0});
    struct TCase {
        int32_t Mode;
        int StopAt;
        size_t Steps;
    };
    for (TCase c : {TCase{1, 0, 1}, TCase{2, 0, 1}, TCase{2, 2, 3}}) {
        FSteps.clear();
        FQuestions.clear();
        Open(input, c.Mode, 1000, 2000);
        FOnWait = [this, c](int index) {
            if (index == int(c.StopAt)) FWorkflow->Stop();
        };
        EXPECT_EQ(SaveAs("out.wav"), TSaveResult::Stopped) << "mode " << c.Mode << " stop at " << c.StopAt;
        EXPECT_EQ(FSteps.size(), c.Steps);
        EXPECT_TRUE(FQuestions.empty());
        EXPECT_TRUE(ScratchEntries().empty()) << ::testing::PrintToString(ScratchEntries());
        FOnWait = nullptr;
    }
    // The workflow is usable again after a stop.
    Open(input, 1, 1000, 2000);
    EXPECT_EQ(SaveAs("out.wav"), TSaveResult::Done);
}

// No to the replace question: nothing changes; Yes: the file is replaced.
TEST_F(WorkflowTest, ReplaceQuestion) {
    SKIP_WITHOUT_CONVERSIONS();
    std::string input = TestMediaFile(TMediaSpec{TMediaFormat::Wav16, 3.0});
    { std::ofstream(Scratch("out.wav")) << "previous"; }
    Open(input, 1, 500, 1500);
    FReplaceAnswer = false;
    EXPECT_EQ(SaveAs("out.wav"), TSaveResult::Cancelled);
    EXPECT_EQ(FQuestions, std::vector<std::string>{kReplaceQuestion});
    EXPECT_TRUE(FBusy.empty());
    EXPECT_TRUE(FSteps.empty());
    EXPECT_EQ(ReadAll(Scratch("out.wav")), "previous");

    FReplaceAnswer = true;
    EXPECT_EQ(SaveAs("out.wav"), TSaveResult::Done);
    EXPECT_EQ(DecodeAudioFile(Scratch("out.wav")).Frames(), 44100);
    EXPECT_EQ(ScratchEntries(), std::vector<std::string>{"out.wav"});
}

// A cancelled save dialog does nothing.
TEST_F(WorkflowTest, CancelledDialogDoesNothing) {
    std::string input = TestMediaFile(TMediaSpec{TMediaFormat::Wav16, 3.0});
    Open(input, 1, 500, 1500);
    EXPECT_EQ(SaveAs(""), TSaveResult::Cancelled);
    EXPECT_TRUE(FBusy.empty());
    EXPECT_TRUE(FMessages.empty());
    EXPECT_TRUE(ScratchEntries().empty());
}
