// The save's rules that need no media: encoder choice, the input tests, progress arithmetic and
// the shares of a delete-mode save.
#include "SaveWorkflow.h"

#include <gtest/gtest.h>

namespace {

std::string EncoderFor(const std::string& decoder, const std::string& ext, bool* videoOff = nullptr) {
    TOutputOptions options;
    options.AudioCodec = decoder;
    ChooseAudioEncoder(ext, options);
    if (videoOff) *videoOff = options.DisableVideo;
    return options.AudioCodec;
}

} // namespace

TEST(WorkflowRules, EncoderFollowsTheInputDecoderAndExtension) {
    // MP3 under either decoder name goes to LAME; AAC to the libraries' own encoder.
    EXPECT_EQ(EncoderFor("mp3float", ".mp3"), "libmp3lame");
    EXPECT_EQ(EncoderFor("mp3", ".mp3"), "libmp3lame");
    EXPECT_EQ(EncoderFor("aac", ".aac"), "aac");
    // A decoder that is also an encoder stays, except the experimental Vorbis encoder.
    EXPECT_EQ(EncoderFor("pcm_s16le", ".wav"), "pcm_s16le");
    EXPECT_EQ(EncoderFor("pcm_f32le", ".wav"), "pcm_f32le");
    EXPECT_EQ(EncoderFor("vorbis", ".ogg"), "libvorbis");
    EXPECT_EQ(EncoderFor("opus", ".ogg"), "libvorbis");
    // Unknown decoders leave the choice to the format; an empty name stays empty.
    EXPECT_EQ(EncoderFor("adpcm_unknown", ".wav"), "");
    EXPECT_EQ(EncoderFor("", ".mp3"), "");
}

// Bit rates no lossy codec uses (how some files report an unknown rate) leave the choice to the
// encoder; MP2 in a .mp3 file is written by the MP2 muxer.
TEST(WorkflowRules, AbsurdBitRatesAndMp2) {
    EXPECT_EQ(EncoderBitRate(0), -1);
    EXPECT_EQ(EncoderBitRate(-5), -1);
    EXPECT_EQ(EncoderBitRate(2147483647), -1);
    EXPECT_EQ(EncoderBitRate(4294967294), -1);
    EXPECT_EQ(EncoderBitRate(1000000), 1000000);
    EXPECT_EQ(EncoderBitRate(183000), 183000);
    TOutputOptions options;
    options.AudioCodec = "mp2";
    ChooseAudioEncoder(".mp3", options);
    EXPECT_EQ(options.AudioCodec, "mp2");
    EXPECT_EQ(options.ForceFormat, "mp2");
}

// A VBR MP3 input: the LAME quality it states, else LAME's average mode at its bit rate.
TEST(WorkflowRules, VariableBitRateFollowsTheInput) {
    rInputStreamInfo input;
    input.VariableBitRate = true;
    input.VbrQuality = 2;
    TOutputOptions options;
    options.AudioCodec = "libmp3lame";
    options.AudioBitrate = 183000;
    ApplyVariableBitRate(input, options);
    EXPECT_EQ(options.ExtOptions, "aq=2");
    EXPECT_EQ(options.AudioBitrate, -1);
    input.VbrQuality = -1;
    options = TOutputOptions{};
    options.AudioCodec = "libmp3lame";
    options.AudioBitrate = 183000;
    ApplyVariableBitRate(input, options);
    EXPECT_EQ(options.ExtOptions, "abr=1");
    EXPECT_EQ(options.AudioBitrate, 183000);
    input.VariableBitRate = false;
    options = TOutputOptions{};
    ApplyVariableBitRate(input, options);
    EXPECT_TRUE(options.ExtOptions.empty());
}

TEST(WorkflowRules, WmaOutputAlwaysGetsWmav2WithoutVideo) {
    bool videoOff = false;
    EXPECT_EQ(EncoderFor("wmav1", ".wma", &videoOff), "wmav2");
    EXPECT_TRUE(videoOff);
    EXPECT_EQ(EncoderFor("wmav2", ".wma"), "wmav2");
    EXPECT_EQ(EncoderFor("mp3float", ".wma"), "wmav2");
}

TEST(WorkflowRules, ExtensionTests) {
    // The intake lower-cases; fragments of the list pass and are judged by the probe.
    EXPECT_TRUE(IsSupportedExtension("/a/b/song.MP3"));
    EXPECT_TRUE(IsSupportedExtension("song.ogg"));
    EXPECT_TRUE(IsSupportedExtension("song.mp"));
    EXPECT_FALSE(IsSupportedExtension("song"));
    EXPECT_TRUE(IsSupportedExtension("song.flac"));
    EXPECT_TRUE(IsSupportedExtension("song.OGA"));
    EXPECT_TRUE(IsSupportedExtension("song.opus"));
    EXPECT_TRUE(IsSupportedExtension("song.m4a"));
    EXPECT_FALSE(IsSupportedExtension("song.mka"));
    EXPECT_FALSE(IsSupportedExtension("/a.mp3/song"));
    // "vn=1" is case-sensitive: an upper-case extension does not get it.
    EXPECT_TRUE(InputNeedsVideoOff("x.mp3"));
    EXPECT_TRUE(InputNeedsVideoOff("x.wav"));
    EXPECT_FALSE(InputNeedsVideoOff("x.MP3"));
    EXPECT_FALSE(InputNeedsVideoOff("x.WMA"));
    EXPECT_FALSE(InputNeedsVideoOff("x.ogg"));
    EXPECT_FALSE(InputNeedsVideoOff("x"));
    EXPECT_EQ(SaveDialogFilter(".mp3"), "mp3 Files|*.mp3");
    EXPECT_EQ(SaveDialogFilter(".wma"), "wma Files|*.wma");
}

TEST(WorkflowRules, CodecNameIsTheDecoderShortName) {
    EXPECT_EQ(CodecNameFromDescription("mp3float(MP3 (MPEG audio layer 3))"), "mp3float");
    EXPECT_EQ(CodecNameFromDescription("  pcm_s16le(PCM signed 16-bit little-endian) "), "pcm_s16le");
    EXPECT_EQ(CodecNameFromDescription("mp3float"), "");
    EXPECT_EQ(CodecNameFromDescription(""), "");
}

TEST(WorkflowRules, ProgressTextAndPosition) {
    TProgressView select = ProgressView(1, 0, 0, 30000, 120000);
    ASSERT_TRUE(select.Valid);
    EXPECT_EQ(select.Position, 25);
    EXPECT_EQ(select.Text, "Progress: 25.00%");
    EXPECT_EQ(ProgressView(1, 0, 0, 1, 3).Text, "Progress: 33.33%");
    // Delete mode: the running conversion's share on top of what is done.
    TProgressView second = ProgressView(2, 20, 30, 15000, 30000);
    EXPECT_EQ(second.Position, 35);
    EXPECT_EQ(second.Text, "Progress: 35.00%");
    EXPECT_EQ(ProgressView(2, 50, 50, 0, 50000).Text, "Progress: 50.00%");
    // Hours of audio: no 32-bit overflow of current x 100.
    EXPECT_EQ(ProgressView(1, 0, 0, 30000000, 40000000).Position, 75);
    // No total, no mode: nothing to show (and no division by zero).
    EXPECT_FALSE(ProgressView(1, 0, 0, 500, 0).Valid);
    EXPECT_FALSE(ProgressView(0, 0, 0, 500, 1000).Valid);
    // An estimated total that the output passes keeps the bar inside the conversion's share.
    EXPECT_EQ(ProgressView(2, 20, 30, 40000, 30000).Position, 50);
    EXPECT_EQ(ProgressView(1, 0, 0, 130000, 120000).Text, "Progress: 100.00%");
}

TEST(WorkflowRules, DeletePlanOfAHundredSecondFile) {
    TDeletePlan plan = PlanDelete(100000000, 20000, 70000);
    EXPECT_TRUE(plan.FirstPart);
    EXPECT_TRUE(plan.SecondPart);
    EXPECT_EQ(plan.FirstWeight, 20);
    EXPECT_EQ(plan.SecondBase, 20);
    EXPECT_EQ(plan.SecondWeight, 30);
    EXPECT_EQ(plan.JoinBase, 50);
    EXPECT_EQ(plan.JoinWeight, 50);
}

TEST(WorkflowRules, DeletePlanLeavesOutEmptyParts) {
    TDeletePlan fromStart = PlanDelete(100000000, 0, 70000);
    EXPECT_FALSE(fromStart.FirstPart);
    EXPECT_TRUE(fromStart.SecondPart);
    TDeletePlan toEnd = PlanDelete(100000000, 20000, 100000);
    EXPECT_TRUE(toEnd.FirstPart);
    EXPECT_FALSE(toEnd.SecondPart);
    TDeletePlan all = PlanDelete(100000000, 0, 100000);
    EXPECT_FALSE(all.FirstPart || all.SecondPart);
}

TEST(WorkflowRules, DeletePlanOfAFileShorterThanATenthOfASecond) {
    // 80 ms: no tenths of a second to divide by; the shares come from the milliseconds.
    TDeletePlan plan = PlanDelete(80000, 20, 60);
    EXPECT_EQ(plan.FirstWeight, 25);
    EXPECT_EQ(plan.SecondWeight, 25);
    EXPECT_EQ(plan.JoinBase + plan.JoinWeight, 100);
    TDeletePlan empty = PlanDelete(0, 20, 60);
    EXPECT_EQ(empty.FirstWeight, 0);
    EXPECT_EQ(empty.JoinWeight, 100);
}
