// Every supported format in and out, channel and rate conversions, and cutting by stream copy.
#include "EngineRunSupport.h"

#include <cmath>
#include <ostream>

namespace {

struct TFormatCase {
    const char* Name;
    TMediaSpec In;
    const char* OutExt;
    const char* Encoder; // "" = the format's default
    int OutRate;
    int OutChannels;
    int64_t Slack; // samples the output's length may differ by (encoder priming and padding)
};

void PrintTo(const TFormatCase& c, std::ostream* os) {
    *os << c.Name;
}

class FormatConversion : public EngineRunTest, public ::testing::WithParamInterface<TFormatCase> {};

} // namespace

TEST_P(FormatConversion, OutputHasTheFormatRateChannelsAndLength) {
    const TFormatCase& c = GetParam();
    const std::string source = TestMediaFile(c.In);
    const std::string out = OutputPath(std::string("out") + c.OutExt);
    OpenInput(source);
    Engine.FAudioSampleRate = c.OutRate;
    Engine.FAudioChannels = c.OutChannels;
    OpenOutput(out, c.Encoder);
    ASSERT_TRUE(Convert()) << Engine.ExceptionMessage();

    TDecodedAudio in = DecodeAudioFile(source), result = DecodeAudioFile(out);
    EXPECT_EQ(result.SampleRate, c.OutRate);
    EXPECT_EQ(result.Channels, c.OutChannels);
    double expected = double(in.Frames()) * c.OutRate / in.SampleRate;
    EXPECT_LE(std::fabs(double(result.Frames()) - expected), double(c.Slack)) << result.Frames() << " frames";
    EXPECT_LE(LongestSilence(result), result.SampleRate / 20) << "the audio did not come through";
    const bool lossless = IsPcmFormat(c.In.Format) && std::string(c.OutExt) == ".wav";
    if (lossless && c.OutRate == in.SampleRate && c.OutChannels == in.Channels) {
        EXPECT_TRUE(result.Samples == in.Samples); // lossless in and out: the same samples
    }
}

INSTANTIATE_TEST_SUITE_P(
    Engine, FormatConversion,
    ::testing::Values(
        TFormatCase{"mp3", {TMediaFormat::Mp3Cbr, 2.0, 44100, 2}, ".mp3", "libmp3lame", 44100, 2, 44},
        TFormatCase{"mp3vbr", {TMediaFormat::Mp3Vbr, 2.0, 44100, 2}, ".mp3", "libmp3lame", 44100, 2, 44},
        TFormatCase{"aac", {TMediaFormat::Aac, 2.0, 44100, 2}, ".aac", "aac", 44100, 2, 2048},
        TFormatCase{"wav16", {TMediaFormat::Wav16, 2.0, 44100, 2}, ".wav", "", 44100, 2, 0},
        TFormatCase{"wavfloat", {TMediaFormat::WavFloat, 2.0, 44100, 2}, ".wav", "pcm_f32le", 44100, 2, 0},
        TFormatCase{"wma", {TMediaFormat::Wma, 2.0, 44100, 2}, ".wma", "wmav2", 44100, 2, 4096},
        TFormatCase{"ogg", {TMediaFormat::Ogg, 2.0, 44100, 2}, ".ogg", "libvorbis", 44100, 2, 44},
        TFormatCase{"mono_to_stereo", {TMediaFormat::Wav16, 1.0, 44100, 1}, ".wav", "", 44100, 2, 0},
        TFormatCase{
            "stereo_to_mono", {TMediaFormat::Mp3Cbr, 1.0, 44100, 2}, ".mp3", "libmp3lame", 44100, 1, 44},
        TFormatCase{"22050_to_44100", {TMediaFormat::Wav16, 1.0, 22050, 2}, ".wav", "", 44100, 2, 2},
        TFormatCase{
            "48000_to_44100", {TMediaFormat::Mp3Cbr, 1.0, 48000, 2}, ".mp3", "libmp3lame", 44100, 2, 44},
        TFormatCase{"44100_to_48000", {TMediaFormat::Ogg, 1.0, 44100, 1}, ".ogg", "libvorbis", 48000, 1, 48},
        TFormatCase{"wma_to_mp3", {TMediaFormat::Wma, 1.0, 48000, 2}, ".mp3", "libmp3lame", 22050, 2, 44},
        TFormatCase{"aac_to_wav", {TMediaFormat::Aac, 1.0, 48000, 2}, ".wav", "", 48000, 2, 0}),
    [](const ::testing::TestParamInfo<TFormatCase>& info) { return std::string(info.param.Name); });

using StreamCopy = EngineRunTest;

TEST_F(StreamCopy, CopyCutsAnMp3AtFrameBoundaries) {
    const std::string source = TestMediaFile({TMediaFormat::Mp3Cbr, 5.0, 44100, 2});
    const std::string out = OutputPath("copy.mp3");
    OpenInput(source, 1500);
    Engine.FRecordingTime = 2000000;
    OpenOutput(out, "copy");
    ASSERT_TRUE(Convert()) << Engine.ExceptionMessage();
    EXPECT_GT(Engine.FAudioSize, 0);

    // Whole frames of 1152 samples: the one holding the start, up to the one holding the end.
    TDecodedAudio original = DecodeAudioFile(source), cut = DecodeAudioFile(out);
    const int64_t frame = 1152, start = 66150, length = 88200;
    EXPECT_LE(std::llabs(cut.Frames() - length), 2 * frame) << cut.Frames() << " frames";
    // The first frames may decode without the bit reservoir of the frames left out.
    int64_t found = FindOffsetInSource(original, cut, 4 * frame, start, 4 * frame);
    ASSERT_GE(found, 0);
    EXPECT_LE(std::llabs(found - start), frame + 529) << "first sample at " << found;
}
