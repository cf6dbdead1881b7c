// Accuracy through the whole workflow: PCM cuts are exact to the sample, MP3 and OGG cuts lie
// within 1 ms of the marks at every boundary, and a delete-mode join has no gap.
#include "WorkflowHarness.h"

#include "MyUtils.h"

namespace {

constexpr int kRate = 44100;
constexpr int64_t kOneMs = kRate / 1000; // 44 samples

// Frames [from, end) of a decoded file as a file of their own.
TDecodedAudio Slice(const TDecodedAudio& audio, int64_t from) {
    TDecodedAudio piece;
    piece.SampleRate = audio.SampleRate;
    piece.Channels = audio.Channels;
    piece.Samples.assign(audio.Samples.begin() + from * audio.Channels, audio.Samples.end());
    return piece;
}

} // namespace

TEST_F(WorkflowTest, WavSelectIsSampleExact) {
    SKIP_WITHOUT_CONVERSIONS();
    std::string input = TestMediaFile(TMediaSpec{TMediaFormat::Wav16, 6.0, kRate, 2});
    Open(input, 1, 2500, 5000);
    ASSERT_EQ(SaveAs("cut.wav"), TSaveResult::Done) << FWorkflow->LastMessage();
    TDecodedAudio cut = DecodeAudioFile(Scratch("cut.wav"));
    ASSERT_EQ(cut.Frames(), 110250);
    for (int channel = 0; channel < 2; ++channel)
        EXPECT_EQ(FirstRampMismatch(cut, channel, [](int64_t i) { return 110250 + i; }), -1)
            << "channel " << channel;
}

TEST_F(WorkflowTest, WavDeleteRemovesExactlyTheMarkedSamples) {
    SKIP_WITHOUT_CONVERSIONS();
    std::string input = TestMediaFile(TMediaSpec{TMediaFormat::Wav16, 6.0, kRate, 2});
    Open(input, 2, 1500, 4000);
    ASSERT_EQ(SaveAs("rest.wav"), TSaveResult::Done) << FWorkflow->LastMessage();
    TDecodedAudio rest = DecodeAudioFile(Scratch("rest.wav"));
    ASSERT_EQ(rest.Frames(), 6 * kRate - 110250);
    for (int channel = 0; channel < 2; ++channel) {
        EXPECT_EQ(FirstRampMismatch(rest, channel, [](int64_t i) { return i < 66150 ? i : i + 110250; }), -1)
            << "channel " << channel;
    }
}

class WorkflowLossyAccuracy : public WorkflowTest, public ::testing::WithParamInterface<TMediaFormat> {};

TEST_P(WorkflowLossyAccuracy, SelectBoundariesWithinOneMillisecond) {
    SKIP_WITHOUT_CONVERSIONS();
    std::string input = TestMediaFile(TMediaSpec{GetParam(), 6.0, kRate, 2, 128000});
    std::string ext = MediaFormatExt(GetParam());
    Open(input, 1, 2500, 5000);
    ASSERT_EQ(SaveAs("cut" + ext), TSaveResult::Done) << FWorkflow->LastMessage();
    TDecodedAudio source = DecodeAudioFile(input);
    TDecodedAudio cut = DecodeAudioFile(Scratch("cut" + ext));
    // Start: the cut's audio begins at the start mark; end: it is as long as the selection.
    int64_t offset = FindOffsetInSource(source, cut, 2048, 110250, 4410);
    EXPECT_NEAR(double(offset), 110250.0, double(kOneMs));
    EXPECT_NEAR(double(cut.Frames()), 110250.0, double(kOneMs));
    // The last half second still lines up with the source (nothing lost or added inside).
    int64_t tailStart = cut.Frames() - kRate / 2;
    int64_t tailOffset = FindOffsetInSource(source, Slice(cut, tailStart), 0, 110250 + tailStart, 4410);
    EXPECT_NEAR(double(tailOffset), double(110250 + tailStart), double(kOneMs));
}

TEST_P(WorkflowLossyAccuracy, DeleteBoundariesWithinOneMillisecondAndNoGap) {
    SKIP_WITHOUT_CONVERSIONS();
    std::string input = TestMediaFile(TMediaSpec{GetParam(), 6.0, kRate, 2, 128000});
    std::string ext = MediaFormatExt(GetParam());
    Open(input, 2, 2000, 3500);
    ASSERT_EQ(SaveAs("rest" + ext), TSaveResult::Done) << FWorkflow->LastMessage();
    TDecodedAudio source = DecodeAudioFile(input);
    TDecodedAudio rest = DecodeAudioFile(Scratch("rest" + ext));
    int64_t seam = 2 * kRate;             // the start mark, in the output
    int64_t resume = 3500 * kRate / 1000; // the end mark, in the source
    EXPECT_NEAR(double(rest.Frames()), double(source.Frames() - (resume - seam)), double(2 * kOneMs));
    // Before the seam the output is the source from 0; after it, the source from the end mark.
    int64_t head = FindOffsetInSource(source, rest, 2048, 0, 4410);
    EXPECT_NEAR(double(head), 0.0, double(kOneMs));
    int64_t tail = FindOffsetInSource(source, Slice(rest, seam), 1024, resume, 4410);
    EXPECT_NEAR(double(tail), double(resume), double(kOneMs));
    // The signal has no quiet stretch anywhere, so a gap at the seam would show as silence.
    EXPECT_LT(LongestSilence(rest), kOneMs);
}

INSTANTIATE_TEST_SUITE_P(Mp3AndOgg, WorkflowLossyAccuracy,
                         ::testing::Values(TMediaFormat::Mp3Cbr, TMediaFormat::Mp3Vbr, TMediaFormat::Ogg),
                         [](const ::testing::TestParamInfo<TMediaFormat>& info) {
                             return info.param == TMediaFormat::Mp3Cbr   ? std::string("Mp3Cbr")
                                    : info.param == TMediaFormat::Mp3Vbr ? std::string("Mp3Vbr")
                                                                         : std::string("Ogg");
                         });
