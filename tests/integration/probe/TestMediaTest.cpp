// The generated test media decode to what was encoded, and the offset finder locates pieces of
// them exactly: later suites prove cut accuracy with these helpers.
#include "TestMedia.h"
#include "TestLibs.h"
#include "TestMediaWriter.h"

#include "MyUtils.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <unistd.h>

namespace {

class TestMediaTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(LoadTestLibs(ConverterLibs)); }
};

// A piece of `audio`: frames [from, from + count).
TDecodedAudio Slice(const TDecodedAudio& audio, int64_t from, int64_t count) {
    TDecodedAudio piece;
    piece.SampleRate = audio.SampleRate;
    piece.Channels = audio.Channels;
    piece.Samples.assign(audio.Samples.begin() + from * audio.Channels,
                         audio.Samples.begin() + (from + count) * audio.Channels);
    return piece;
}

TEST_F(TestMediaTest, Wav16DecodesToTheExactRamp) {
    const TMediaSpec spec{TMediaFormat::Wav16, 2.0, 44100, 2};
    const TDecodedAudio audio = DecodeAudioFile(TestMediaFile(spec));
    ASSERT_EQ(audio.SampleRate, 44100);
    ASSERT_EQ(audio.Channels, 2);
    ASSERT_EQ(audio.Frames(), 88200);
    for (int64_t n = 0; n < audio.Frames(); n += 997) {
        ASSERT_EQ(audio.At(n, 0), SourceSample(spec, n, 0)) << n;
        ASSERT_EQ(audio.At(n, 1), SourceSample(spec, n, 1)) << n;
        EXPECT_EQ(RampIndexOf(audio.At(n, 0), n + 30000), n);
        EXPECT_EQ(RampIndexOf(audio.At(n, 1), n - 30000, 1), n);
    }
}

// The special files hold what their names promise; the probe tests check their streams.
TEST_F(TestMediaTest, SpecialFiles) {
    for (const std::string& path : {CoverArtMp3(), TwoAudioStreamFile(), VideoStreamFile()}) {
        const TDecodedAudio audio = DecodeAudioFile(path);
        EXPECT_EQ(audio.SampleRate, 44100) << path;
        EXPECT_EQ(audio.Channels, 2) << path;
        EXPECT_NEAR(audio.Seconds(), 2.0, 0.05) << path;
    }
    const TDecodedAudio truncated = DecodeAudioFile(TruncatedMp3());
    EXPECT_GT(truncated.Seconds(), 0.5);
    EXPECT_LT(truncated.Seconds(), 1.6);
    const TDecodedAudio corrupt = DecodeAudioFile(CorruptMiddleMp3());
    EXPECT_GT(corrupt.Seconds(), 3.0);
    EXPECT_EQ(GetFileSize64(ZeroByteFile()), 0);
    EXPECT_EQ(GetFileSize64(ZeroByteFile(".wav")), 0);
    EXPECT_EQ(ExtractFileExt(ZeroByteFile(".wav")), ".wav");
    EXPECT_EQ(GetFileSize64(RandomBytesFile(".ogg")), 65536);
    EXPECT_GT(GetFileSize64(TextAsMp3()), 1000);
}

// Every format decodes to about the requested length, with no silent stretch, and the offset
// finder places sub-pieces of the decoded file where they were taken from.
struct TFormatCase {
    TMediaSpec Spec;
    int64_t MaxExtra; // decoded frames beyond the source (encoder priming and padding)
};

class TestMediaFormats : public TestMediaTest, public ::testing::WithParamInterface<TFormatCase> {};

TEST_P(TestMediaFormats, DecodesAndLocatesPieces) {
    const TMediaSpec& spec = GetParam().Spec;
    const TDecodedAudio audio = DecodeAudioFile(TestMediaFile(spec));
    const int64_t frames = std::llround(spec.Seconds * spec.SampleRate);
    ASSERT_EQ(audio.SampleRate, spec.SampleRate);
    ASSERT_EQ(audio.Channels, spec.Channels);
    EXPECT_GE(audio.Frames(), frames - 2048);
    EXPECT_LE(audio.Frames(), frames + GetParam().MaxExtra);
    // Priming (AAC) and padding may be silent; nothing in between is silent for 1 ms.
    const int64_t lead = 2048;
    EXPECT_LT(LongestSilence(Slice(audio, lead, frames - 2 * lead)), spec.SampleRate / 1000);

    for (int64_t from : {int64_t(4096), frames / 3, frames / 2 + 1234}) {
        const TDecodedAudio piece = Slice(audio, from, std::min<int64_t>(20000, audio.Frames() - from));
        EXPECT_EQ(FindOffsetInSource(audio, piece, 0, from + 3000, 8000), from) << "piece at " << from;
        // Skipping the piece's first samples still names the start of the piece.
        EXPECT_EQ(FindOffsetInSource(audio, piece, 500, from - 700, 8000), from) << "piece at " << from;
    }
}

// Lossless PCM and priming-free MP3/OGG decode aligned with the source signal itself.
TEST_P(TestMediaFormats, AlignedWithTheSourceSignal) {
    const TMediaSpec& spec = GetParam().Spec;
    const TDecodedAudio audio = DecodeAudioFile(TestMediaFile(spec));
    const TDecodedAudio source = SourceAudio(spec);
    int64_t expected = 0;
    if (spec.Format == TMediaFormat::Aac) expected = -1024; // ADTS cannot signal the encoder's priming
    if (spec.Format == TMediaFormat::Wma) expected = 2048;  // the WMA decoder drops its first frame
    const int64_t at = std::llround(spec.Seconds * spec.SampleRate / 2);
    const TDecodedAudio piece = Slice(audio, at, 16384);
    EXPECT_EQ(FindOffsetInSource(source, piece, 0, at + expected, 4000), at + expected);
}

// A second encoding of the same signal, started K samples in, is located at K in the decoded
// source: two generations of coding loss still meet the sub-millisecond need.
TEST_F(TestMediaTest, ReencodedShiftIsFound) {
    constexpr int64_t kShift = 12345;
    for (TMediaFormat format :
         {TMediaFormat::Mp3Cbr, TMediaFormat::Mp3Vbr, TMediaFormat::Ogg, TMediaFormat::Aac}) {
        const TMediaSpec spec{format, 3.0, 44100, 2, 128000};
        const TDecodedAudio source = DecodeAudioFile(TestMediaFile(spec));
        TAudioPlan plan;
        plan.Encoder = MediaFormatEncoder(format);
        plan.BitRate = format == TMediaFormat::Mp3Vbr ? 0 : 128000;
        plan.VbrQuality = format == TMediaFormat::Mp3Vbr ? 4 : -1;
        plan.Frames = 44100;
        plan.Signal = [&](int64_t n, int c) { return SourceSample(spec, n + kShift, c); };
        const std::string name = TestMediaFolder() + "shifted-" + std::to_string(getpid()) + "-" +
                                 std::to_string(int(format)) + MediaFormatExt(format);
        const char* muxer = format == TMediaFormat::Ogg   ? "ogg"
                            : format == TMediaFormat::Aac ? "adts"
                                                          : "mp3";
        WriteMediaFile(name, muxer, {plan}, nullptr, false);
        const TDecodedAudio piece = DecodeAudioFile(name);
        std::remove(name.c_str());
        // (ADTS: both decodings carry the same priming in front, so they stay aligned.)
        EXPECT_EQ(FindOffsetInSource(source, piece, 2048, kShift + 2000, 6000), kShift) << int(format);
    }
}

// A piece with other content is not found; a mono downmix of a stereo piece is.
TEST_F(TestMediaTest, OffsetFinderRejectsForeignAudioAndAcceptsDownmix) {
    const TDecodedAudio source = DecodeAudioFile(TestMediaFile({TMediaFormat::Ogg, 3.0}));
    const TDecodedAudio other = DecodeAudioFile(TestMediaFile({TMediaFormat::Wav16, 3.0}));
    EXPECT_EQ(FindOffsetInSource(source, Slice(other, 10000, 20000), 0, 10000, 5000), -1);
    TDecodedAudio mono;
    mono.SampleRate = source.SampleRate;
    mono.Channels = 1;
    for (int64_t n = 30000; n < 50000; ++n)
        mono.Samples.push_back((source.At(n, 0) + source.At(n, 1)) / 2);
    EXPECT_EQ(FindOffsetInSource(source, mono, 0, 31000, 5000), 30000);
    // A range that does not fit the source, or too short a piece: -1.
    EXPECT_EQ(FindOffsetInSource(source, mono, 0, 10 * 44100, 100), -1);
    EXPECT_EQ(FindOffsetInSource(source, Slice(source, 0, 10), 0, 0, 100), -1);
}

std::string CaseName(const ::testing::TestParamInfo<TFormatCase>& info) {
    const TMediaSpec& s = info.param.Spec;
    static const char* kNames[] = {"Mp3Cbr", "Mp3Vbr", "Aac", "Wav16", "WavFloat", "Wma", "Ogg"};
    return std::string(kNames[int(s.Format)]) + "_" + std::to_string(s.SampleRate) + "_" +
           std::to_string(s.Channels);
}

INSTANTIATE_TEST_SUITE_P(All, TestMediaFormats,
                         ::testing::Values(TFormatCase{{TMediaFormat::Mp3Cbr, 3.0, 44100, 2, 128000}, 0},
                                           TFormatCase{{TMediaFormat::Mp3Vbr, 3.0, 48000, 2}, 0},
                                           TFormatCase{{TMediaFormat::Mp3Cbr, 3.0, 22050, 1, 64000}, 0},
                                           TFormatCase{{TMediaFormat::Aac, 3.0, 44100, 2, 128000}, 2048},
                                           TFormatCase{{TMediaFormat::Aac, 3.0, 48000, 6, 256000}, 2048},
                                           TFormatCase{{TMediaFormat::Wav16, 3.0, 22050, 1}, 0},
                                           TFormatCase{{TMediaFormat::WavFloat, 3.0, 48000, 6}, 0},
                                           TFormatCase{{TMediaFormat::Wma, 3.0, 44100, 2, 128000}, 2048},
                                           TFormatCase{{TMediaFormat::Ogg, 3.0, 44100, 2, 128000}, 0},
                                           TFormatCase{{TMediaFormat::Ogg, 3.0, 48000, 6, 256000}, 0}),
                         CaseName);

} // namespace
