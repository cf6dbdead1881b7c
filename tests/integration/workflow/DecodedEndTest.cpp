// Marks judged against the decoded stream rather than the container's duration, which may be an
// estimate that is too short or too long: what each save writes, refuses or reports, and that
// no file is left when nothing was written.
#include "WorkflowHarness.h"

#include "MyUtils.h"
#include "TestFiles.h"

#include <fstream>

using namespace WorkflowText;

namespace {

struct TDecodedEndCase {
    const char* Name;
    int64_t ClaimedMs; // the duration the window was told (an estimate)
    int32_t Mode;      // 1 select, 2 delete
    int64_t StartMs, EndMs;
    TSaveResult Result;
    int64_t WrittenMs;   // decoded length of the output; -1: no output file
    const char* Message; // the message shown, "" when none
};

class DecodedEnd : public WorkflowTest, public ::testing::WithParamInterface<TDecodedEndCase> {};

// The input holds 6 s of the ramp; the window believes ClaimedMs.
TEST_P(DecodedEnd, SaveFollowsTheRealEnd) {
    SKIP_WITHOUT_CONVERSIONS();
    const TDecodedEndCase& c = GetParam();
    std::string input = TestMediaFile(TMediaSpec{TMediaFormat::Wav16, 6.0, 8000, 1});
    Open(input, c.Mode, c.StartMs, c.EndMs);
    FWorkflow->FTimeInfo.TotalTime = c.ClaimedMs * 1000;
    FWorkflow->FInputInfo.DurationEstimated = true;
    FOpenFolderAnswer = false;
    EXPECT_EQ(SaveAs("out.wav"), c.Result) << FWorkflow->LastMessage();
    if (c.WrittenMs < 0) {
        EXPECT_EQ(ScratchEntries(), std::vector<std::string>{}) << "no file may be left";
    } else {
        ASSERT_EQ(ScratchEntries(), std::vector<std::string>{"out.wav"});
        EXPECT_EQ(DecodeAudioFile(Scratch("out.wav")).Frames(), c.WrittenMs * 8);
    }
    std::string shown = FMessages.empty() ? std::string() : FMessages.back();
    if (std::string(c.Message).empty())
        EXPECT_TRUE(FMessages.empty()) << shown;
    else
        EXPECT_NE(shown.find(c.Message), std::string::npos) << shown;
}

const std::string kEndedEarly = std::string(kInputEndedEarly).substr(4, 35);

INSTANTIATE_TEST_SUITE_P(
    Estimates, DecodedEnd,
    ::testing::Values(
        // Too short an estimate (3.5 s): the audio beyond it is there and is kept or selected.
        TDecodedEndCase{"DeleteKeepsTheTail", 3500, 2, 500, 4000, TSaveResult::Done, 2500, ""},
        TDecodedEndCase{"DeleteFromZeroKeepsTheTail", 3500, 2, 0, 4000, TSaveResult::Done, 2000, ""},
        TDecodedEndCase{"SelectBeyondTheEstimate", 3500, 1, 4500, 5500, TSaveResult::Done, 1000, ""},
        // Too long an estimate (10 s): nothing beyond 6 s is made up, nothing empty is kept.
        TDecodedEndCase{"SelectPastTheRealEnd", 10000, 1, 7000, 8000, TSaveResult::Refused, -1,
                        kStartBeyondEnd},
        TDecodedEndCase{"SelectEndingPastTheRealEnd", 10000, 1, 5000, 8000, TSaveResult::Done, 1000,
                        kEndedEarly.c_str()},
        TDecodedEndCase{"DeletePastTheRealEnd", 10000, 2, 7000, 8000, TSaveResult::Refused, -1,
                        kStartBeyondEnd},
        TDecodedEndCase{"DeleteDropsAnEmptyTail", 10000, 2, 1000, 7000, TSaveResult::Done, 1000, ""},
        TDecodedEndCase{"DeleteOfEverythingReal", 10000, 2, 0, 7000, TSaveResult::Refused, -1, kNothingLeft}),
    [](const ::testing::TestParamInfo<TDecodedEndCase>& info) { return std::string(info.param.Name); });

// A file whose header promises audio that is not there: nothing is written, and that is an error.
TEST_F(WorkflowTest, NoAudioWrittenIsAnError) {
    SKIP_WITHOUT_CONVERSIONS();
    std::string wav = ReadAll(TestMediaFile(TMediaSpec{TMediaFormat::Wav16, 1.0, 8000, 1}));
    std::string input = CopyIn(TestMediaFile(TMediaSpec{TMediaFormat::Wav16, 1.0, 8000, 1}), "in.wav");
    ASSERT_NE(wav.find("data"), std::string::npos);
    std::ofstream(input, std::ios::binary | std::ios::trunc) << wav.substr(0, wav.find("data") + 8);
    if (!FWorkflow->CheckInputFile(input)) GTEST_SKIP() << "the intake refuses a header-only WAV";
    FWorkflow->InputFile = input;
    FWorkflow->FTimeInfo.TotalTime = 1000000;
    FWorkflow->FTimeInfo.StartMark = 0;
    FWorkflow->FTimeInfo.EndMark = 500;
    FWorkflow->SelStart = 0;
    FWorkflow->SelEnd = 1;
    FWorkflow->FControl.TrimMode = 1;
    EXPECT_EQ(SaveAs("out.wav"), TSaveResult::Failed);
    ASSERT_FALSE(FMessages.empty());
    EXPECT_NE(FMessages.back().find("no audio was written"), std::string::npos) << FMessages.back();
    EXPECT_EQ(ScratchEntries(), std::vector<std::string>{"in.wav"});
}

} // namespace
