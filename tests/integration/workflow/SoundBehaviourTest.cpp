// What the save does beyond the plain sequences: the output is never the input, a failed or
// stopped save leaves no partial file, errors are shown, empty selections and empty parts are
// handled, the temporary folder is the workflow's own, tiny files, cover art, and the intake's
// refusals.
#include "WorkflowHarness.h"
#include "TestFiles.h"

#include "MyUtils.h"

#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace WorkflowText;

TEST_F(WorkflowTest, OutputThatIsTheInputIsRefused) {
    std::string input = CopyIn(TestMediaFile(TMediaSpec{TMediaFormat::Wav16, 3.0}), "in.wav");
    ASSERT_EQ(::symlink(input.c_str(), Scratch("link.wav").c_str()), 0);
    std::string before = ReadAll(input);
    Open(input, 1, 500, 1500);
    // The dialog's name gets the input's extension: "in.dat" is the input itself.
    for (const char* name : {"in.dat", "in.wav", "./in.wav", "link.wav"}) {
        FMessages.clear();
        EXPECT_EQ(SaveAs(name), TSaveResult::Refused) << name;
        EXPECT_EQ(FMessages, std::vector<std::string>{kSameAsInput}) << name;
    }
    EXPECT_TRUE(FQuestions.empty()); // not even asked to replace it
    EXPECT_TRUE(FBusy.empty());
    EXPECT_EQ(ReadAll(input), before);
}

TEST_F(WorkflowTest, EmptyOrReversedSelectionIsRefused) {
    std::string input = TestMediaFile(TMediaSpec{TMediaFormat::Wav16, 3.0});
    struct TCase {
        int32_t Mode;
        int64_t Start, End;
    };
    for (TCase c : {TCase{1, 2000, 2000}, TCase{1, 2500, 2100}, TCase{2, 2500, 2100}, TCase{2, 1000, 1000}}) {
        FMessages.clear();
        Open(input, c.Mode, c.Start, c.End);
        EXPECT_EQ(SaveAs("out.wav"), TSaveResult::Refused);
        EXPECT_EQ(FMessages, std::vector<std::string>{kEndBeforeStart});
    }
    // The bar's whole seconds: both at 0 means no marks; no mode chosen.
    FMessages.clear();
    Open(input, 1, 300, 800);
    EXPECT_EQ(SaveAs("out.wav"), TSaveResult::Refused);
    Open(input, 0, 1000, 2000);
    EXPECT_EQ(SaveAs("out.wav"), TSaveResult::Refused);
    EXPECT_EQ(FMessages, (std::vector<std::string>{kNoMarks, kNoTrimMode}));
    EXPECT_TRUE(FBusy.empty());
    EXPECT_TRUE(ScratchEntries().empty());
}

TEST_F(WorkflowTest, DeleteLeavesOutEmptyParts) {
    SKIP_WITHOUT_CONVERSIONS();
    std::string input = TestMediaFile(TMediaSpec{TMediaFormat::Wav16, 6.0, 44100, 1});
    // Start mark 0: only what follows the end mark, encoded straight into the output.
    Open(input, 2, 0, 2000);
    ASSERT_EQ(SaveAs("tail.wav"), TSaveResult::Done) << FWorkflow->LastMessage();
    ASSERT_EQ(FSteps.size(), 1u);
    EXPECT_EQ(FSteps[0].Step.Kind, TStepKind::Segment);
    EXPECT_LE(FSteps[0].Output.DurationMs, 0);
    TDecodedAudio tail = DecodeAudioFile(Scratch("tail.wav"));
    ASSERT_EQ(tail.Frames(), 4 * 44100);
    EXPECT_EQ(FirstRampMismatch(tail, 0, [](int64_t i) { return 2 * 44100 + i; }), -1);

    // End mark at the end: only what precedes the start mark.
    FSteps.clear();
    Open(input, 2, 2000, 6000);
    ASSERT_EQ(SaveAs("head.wav"), TSaveResult::Done) << FWorkflow->LastMessage();
    ASSERT_EQ(FSteps.size(), 1u);
    TDecodedAudio head = DecodeAudioFile(Scratch("head.wav"));
    ASSERT_EQ(head.Frames(), 2 * 44100);
    EXPECT_EQ(FirstRampMismatch(head, 0, [](int64_t i) { return i; }), -1);

    // Neither: nothing is written.
    FSteps.clear();
    Open(input, 2, 0, 6000);
    EXPECT_EQ(SaveAs("none.wav"), TSaveResult::Refused);
    EXPECT_EQ(FMessages, std::vector<std::string>{kNothingLeft});
    EXPECT_TRUE(FSteps.empty());
    EXPECT_EQ(ScratchEntries(), (std::vector<std::string>{"head.wav", "tail.wav"}));
}

TEST_F(WorkflowTest, ExistingTemAudioFolderIsLeftAlone) {
    SKIP_WITHOUT_CONVERSIONS();
    ASSERT_EQ(::mkdir(Scratch("TemAudio").c_str(), 0777), 0);
    { std::ofstream(Scratch("TemAudio/Movies1.wav")) << "theirs"; }
    std::string input = TestMediaFile(TMediaSpec{TMediaFormat::Wav16, 3.0});
    Open(input, 2, 1000, 2000);
    ASSERT_EQ(SaveAs("out.wav"), TSaveResult::Done) << FWorkflow->LastMessage();
    ASSERT_EQ(FSteps.size(), 3u);
    std::string ownFolder = ExtractFilePath(FSteps[0].Step.Output);
    EXPECT_NE(ownFolder, Scratch("TemAudio/"));
    EXPECT_EQ(ExtractFilePath(ownFolder.substr(0, ownFolder.size() - 1)), Scratch());
    EXPECT_EQ(ReadAll(Scratch("TemAudio/Movies1.wav")), "theirs");
    EXPECT_EQ(ScratchEntries(), (std::vector<std::string>{"TemAudio", "out.wav"}));
    EXPECT_EQ(DecodeAudioFile(Scratch("out.wav")).Frames(), 2 * 44100);
}

TEST_F(WorkflowTest, FileShorterThanATenthOfASecond) {
    SKIP_WITHOUT_CONVERSIONS();
    std::string input = TestMediaFile(TMediaSpec{TMediaFormat::Wav16, 0.08, 44100, 1});
    Open(input, 2, 20, 60);
    FWorkflow->SelStart = FWorkflow->SelEnd =
        -1; // marks below one second would read as "no marks" on the bar
    ASSERT_EQ(SaveAs("short.wav"), TSaveResult::Done) << FWorkflow->LastMessage();
    ASSERT_EQ(FSteps.size(), 3u);
    EXPECT_EQ(FSteps[2].Step.ProgressBase + FSteps[2].Step.ProgressWeight, 100);
    TDecodedAudio rest = DecodeAudioFile(Scratch("short.wav"));
    ASSERT_EQ(rest.Frames(), 0.04 * 44100);
    EXPECT_EQ(FirstRampMismatch(rest, 0, [](int64_t i) { return i < 882 ? i : i + 1764; }), -1);
}

// A conversion that fails after it started: its message is shown instead of the open-folder
// prompt, and neither the output nor a hidden file is left; an existing target stays.
TEST_F(WorkflowTest, FailedConversionShowsItsMessageAndLeavesNothing) {
    SKIP_WITHOUT_CONVERSIONS();
    std::string input = TestMediaFile(TMediaSpec{TMediaFormat::Mp3Cbr, 3.0});
    { std::ofstream(Scratch("out.mp3")) << "previous"; }
    Open(input, 1, 500, 2500);
    // Eight channels: the MP3 encoder cannot open.
    FWorkflow->FStreamInfo.Channels = 8;
    EXPECT_EQ(SaveAs("out.mp3"), TSaveResult::Failed);
    ASSERT_EQ(FMessages.size(), 1u);
    EXPECT_FALSE(FMessages[0].empty());
    EXPECT_EQ(FQuestions, std::vector<std::string>{kReplaceQuestion});
    EXPECT_EQ(FBusy, (std::vector<int>{0, 1}));
    EXPECT_EQ(ScratchEntries(), std::vector<std::string>{"out.mp3"});
    EXPECT_EQ(ReadAll(Scratch("out.mp3")), "previous");
}

// An output folder that cannot take the file: a clear message before anything is converted.
TEST_F(WorkflowTest, UnwritableOutputFolderIsAClearFailure) {
    std::string input = TestMediaFile(TMediaSpec{TMediaFormat::Wav16, 3.0});
    Open(input, 1, 500, 1500);
    EXPECT_EQ(SaveAs("missing/out.wav"), TSaveResult::Failed);
    ASSERT_EQ(FMessages.size(), 1u);
    EXPECT_NE(FMessages[0].find("missing/out.wav"), std::string::npos) << FMessages[0];
    EXPECT_NE(FMessages[0].find("No such file or directory"), std::string::npos) << FMessages[0];
    EXPECT_TRUE(FSteps.empty());
    EXPECT_EQ(FBusy, (std::vector<int>{0, 1}));
}

TEST_F(WorkflowTest, IntakeAcceptsCoverArtAndRefusesOtherStreams) {
    ASSERT_TRUE(FWorkflow->CheckInputFile(CoverArtMp3()));
    EXPECT_EQ(FWorkflow->FInputInfo.StreamCount, 2);
    EXPECT_EQ(FWorkflow->FInputInfo.AudioStreamCount, 1);
    EXPECT_EQ(FWorkflow->FStreamInfo.CodecName, "mp3float");
    EXPECT_EQ(FWorkflow->FStreamInfo.SampleRate, 44100);
    EXPECT_EQ(FWorkflow->FStreamInfo.Channels, 2);

    // Containers with a second audio stream or a real video stream, under accepted extensions.
    for (const std::string& file :
         {CopyIn(TwoAudioStreamFile(), "two.ogg"), CopyIn(VideoStreamFile(), "video.mp3")}) {
        FMessages.clear();
        EXPECT_FALSE(FWorkflow->CheckInputFile(file)) << file;
        EXPECT_EQ(FMessages, std::vector<std::string>{kNotAudio}) << file;
    }
    FMessages.clear();
    EXPECT_FALSE(FWorkflow->CheckInputFile(TwoAudioStreamFile())); // .mka
    EXPECT_FALSE(FWorkflow->CheckInputFile(Scratch("noextension")));
    EXPECT_EQ(FMessages, (std::vector<std::string>{kUnsupportedFormat, kUnsupportedFormat}));
    // Broken files: the probe's own message.
    for (const std::string& file : {ZeroByteFile(), RandomBytesFile(), TextAsMp3(), Scratch("gone.mp3")}) {
        FMessages.clear();
        EXPECT_FALSE(FWorkflow->CheckInputFile(file)) << file;
        ASSERT_EQ(FMessages.size(), 1u) << file;
        EXPECT_NE(FMessages[0].find(file), std::string::npos) << FMessages[0];
    }
}

TEST_F(WorkflowTest, CoverArtMp3IsCutWithItsPicture) {
    SKIP_WITHOUT_CONVERSIONS();
    Open(CoverArtMp3(), 1, 500, 1500);
    ASSERT_EQ(SaveAs("art.mp3"), TSaveResult::Done) << FWorkflow->LastMessage();
    ASSERT_TRUE(FWorkflow->CheckInputFile(Scratch("art.mp3")));
    EXPECT_EQ(FWorkflow->FInputInfo.StreamCount, 2);
    EXPECT_NEAR(DecodeAudioFile(Scratch("art.mp3")).Seconds(), 1.0, 0.001);
}

// ADTS AAC reports an estimated duration; the part after the end mark still runs to the real
// end of the input.
TEST_F(WorkflowTest, SecondPartRunsToTheRealEnd) {
    SKIP_WITHOUT_CONVERSIONS();
    std::string input = TestMediaFile(TMediaSpec{TMediaFormat::Aac, 6.0});
    TDecodedAudio source = DecodeAudioFile(input);
    Open(input, 2, 1000, 2000);
    ASSERT_EQ(SaveAs("rest.aac"), TSaveResult::Done) << FWorkflow->LastMessage();
    ASSERT_EQ(FSteps.size(), 3u);
    EXPECT_LE(FSteps[1].Output.DurationMs, 0);
    TDecodedAudio rest = DecodeAudioFile(Scratch("rest.aac"));
    // The join's encoder adds its 1024 priming samples and pads its last frame.
    EXPECT_NEAR(double(rest.Frames()), double(source.Frames() - 44100), 3 * 1024.0);
}
