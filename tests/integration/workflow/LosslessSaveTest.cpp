// The save's lossless mode: a copy through the hidden file and the final step, no conversion;
// formats without a copy path are re-encoded after a notice.
#include "WorkflowHarness.h"

#include "LosslessTexts.h"

#include "MyUtils.h"

TEST_F(WorkflowTest, LosslessSelectCopiesWithoutConverting) {
    std::string input = TestMediaFile(TMediaSpec{TMediaFormat::Mp3Cbr, 6.0, 44100, 2});
    Open(input, 1, 1500, 4000);
    FWorkflow->FControl.Lossless = true;
    ASSERT_EQ(SaveAs("cut.mp3"), TSaveResult::Done) << FWorkflow->LastMessage();
    EXPECT_TRUE(FSteps.empty());
    EXPECT_EQ(ScratchEntries(), std::vector<std::string>{"cut.mp3"});
    TDecodedAudio source = DecodeAudioFile(input);
    TDecodedAudio cut = DecodeAudioFile(Scratch("cut.mp3"));
    ASSERT_EQ(cut.Frames(), 4000 * 441 / 10 - 1500 * 441 / 10);
    EXPECT_TRUE(std::equal(cut.Samples.begin(), cut.Samples.end(), source.Samples.begin() + 66150 * 2));
}

TEST_F(WorkflowTest, LosslessWithoutCopyPathReencodesAfterANotice) {
    SKIP_WITHOUT_CONVERSIONS();
    std::string input = TestMediaFile(TMediaSpec{TMediaFormat::Ogg, 4.0, 44100, 2});
    Open(input, 2, 5, 1005); // a Vorbis seam this close to the start leaves no room for a bridge
    FWorkflow->FControl.Lossless = true;
    ASSERT_EQ(SaveAs("cut.ogg"), TSaveResult::Done) << FWorkflow->LastMessage();
    ASSERT_FALSE(FMessages.empty());
    EXPECT_EQ(FMessages.front(), Format(WorkflowText::kLosslessFallback, LosslessText::kVorbisSeamEdge));
    EXPECT_EQ(FSteps.size(), 3u); // the re-encoding delete: two parts, then the encode
    EXPECT_NEAR(DecodeAudioFile(Scratch("cut.ogg")).Seconds(), 3.0, 0.01);
}

// A lossless delete that keeps whole frames says where the removed stretch moved, in the delete's
// own words (the frames at the seam are kept, not copied out).
TEST_F(WorkflowTest, LosslessDeleteSaysWhereTheRemovedStretchLies) {
    std::string input = TestMediaFile(TMediaSpec{TMediaFormat::Mp3Cbr, 6.0, 44100, 2});
    Open(input, 2, 1500, 3210);
    FWorkflow->FControl.Lossless = true;
    ASSERT_EQ(SaveAs("cut.mp3"), TSaveResult::Done) << FWorkflow->LastMessage();
    EXPECT_TRUE(FSteps.empty());
    ASSERT_EQ(FMessages.size(), 1u);
    EXPECT_EQ(FMessages.front().rfind("Whole frames were kept: the deleted stretch starts +0.00 ms", 0), 0u)
        << FMessages.front();
}
