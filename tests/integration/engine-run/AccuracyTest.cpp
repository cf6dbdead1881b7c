// Where cuts and joins land: PCM to the sample, lossy formats within a millisecond of the marks
// (within one encoder frame where the container cannot signal priming), joins without gaps.
#include "EngineRunSupport.h"

#include <cmath>
#include <ostream>

using CutAccuracy = EngineRunTest;

namespace {

constexpr int kRate = 44100;
constexpr int kMillisecond = kRate / 1000; // 44 samples

int16_t Sample16(float v) {
    return static_cast<int16_t>(std::lrint(v * 32768.0f));
}

} // namespace

TEST_F(CutAccuracy, PcmCutHoldsExactlyTheSamplesBetweenTheMarks) {
    const TMediaSpec spec{TMediaFormat::Wav16, 5.0, kRate, 2};
    const std::string source = TestMediaFile(spec);
    // start <= n / rate < start + duration, for start 1.234567 s and duration 2.345678 s.
    const int64_t first = 54445, count = 157889 - 54445;

    // The start given to the input (a seek) and given to the output (decoded from the start).
    for (bool seek : {true, false}) {
        Engine.Reset();
        std::string out = OutputPath(seek ? "seek.wav" : "output-start.wav");
        if (seek) Engine.FStartTime = 1234567;
        ASSERT_TRUE(Engine.OpenInputFile(source)) << Engine.LastError();
        if (!seek) Engine.FStartTime = 1234567;
        Engine.FRecordingTime = 2345678;
        OpenOutput(out);
        ASSERT_TRUE(Convert()) << Engine.ExceptionMessage();

        TDecodedAudio cut = DecodeAudioFile(out);
        ASSERT_EQ(cut.Channels, 2);
        ASSERT_EQ(cut.Frames(), count) << (seek ? "seek" : "output start");
        for (int64_t k = 0; k < count; k += 1) {
            for (int c = 0; c < 2; ++c)
                ASSERT_EQ(RampIndexOf(cut.At(k, c), first + k, c), first + k)
                    << "frame " << k << " channel " << c;
        }
    }
}

TEST_F(CutAccuracy, JoinOfTwoWavFilesIsTheirConcatenation) {
    const std::string a = TestMediaFile({TMediaFormat::Wav16, 1.3, kRate, 2});
    const std::string b = TestMediaFile({TMediaFormat::Wav16, 0.7, kRate, 2});
    const std::string out = OutputPath("joined.wav");
    OpenInput(a);
    OpenInput(b);
    OpenOutput(out, "", true);
    ASSERT_TRUE(Convert()) << Engine.ExceptionMessage();

    TDecodedAudio first = DecodeAudioFile(a), second = DecodeAudioFile(b), joined = DecodeAudioFile(out);
    std::vector<float> expected = first.Samples;
    expected.insert(expected.end(), second.Samples.begin(), second.Samples.end());
    ASSERT_EQ(joined.Samples.size(), expected.size());
    EXPECT_TRUE(joined.Samples == expected);
}

TEST_F(CutAccuracy, VolumeDoublesAndClips) {
    const std::string source = TestMediaFile({TMediaFormat::Wav16, 0.5, kRate, 2});
    const std::string out = OutputPath("louder.wav");
    OpenInput(source);
    Engine.FAudioVolume = 512;
    OpenOutput(out);
    ASSERT_TRUE(Convert()) << Engine.ExceptionMessage();

    TDecodedAudio in = DecodeAudioFile(source), louder = DecodeAudioFile(out);
    ASSERT_EQ(louder.Samples.size(), in.Samples.size());
    int clipped = 0;
    for (size_t i = 0; i < in.Samples.size(); ++i) {
        int doubled = 2 * Sample16(in.Samples[i]);
        int expected = std::clamp(doubled, -32768, 32767);
        clipped += expected != doubled;
        ASSERT_EQ(Sample16(louder.Samples[i]), expected) << "sample " << i;
    }
    EXPECT_GT(clipped, 0); // the ramp spans the whole range: half of it clips
}

struct TLossyCase {
    TMediaFormat Format;
    const char* Encoder;
    int64_t Tolerance;   // samples
    int64_t Padding = 0; // samples the end may run over: a last frame the container cannot trim
};

void PrintTo(const TLossyCase& c, std::ostream* os) {
    *os << c.Encoder;
}

class LossyCut : public EngineRunTest, public ::testing::WithParamInterface<TLossyCase> {};

TEST_P(LossyCut, DecodesBackAlignedToTheMarks) {
    const TLossyCase& c = GetParam();
    const std::string source = TestMediaFile({c.Format, 5.0, kRate, 2, 128000});
    const std::string out = OutputPath("cut" + MediaFormatExt(c.Format));
    OpenInput(source, 1500);
    Engine.FRecordingTime = 2000000;
    OpenOutput(out, c.Encoder);
    ASSERT_TRUE(Convert()) << Engine.ExceptionMessage();

    // The marks as sample indexes of the decoded source, whose first decoded sample is time 0.
    const int64_t start = std::lround(1.5 * kRate), end = std::lround(3.5 * kRate);
    TDecodedAudio original = DecodeAudioFile(source), cut = DecodeAudioFile(out);
    ASSERT_GT(original.Frames(), end) << "the source cannot be decoded";
    ASSERT_EQ(cut.SampleRate, kRate);
    int64_t found = FindOffsetInSource(original, cut, 4096, start, 4096);
    ASSERT_GE(found, 0) << "the cut does not match the source";
    EXPECT_LE(std::llabs(found - start), c.Tolerance) << "first sample at " << found << ", mark at " << start;
    const int64_t over = found + cut.Frames() - end;
    EXPECT_LE(over, c.Tolerance + c.Padding) << "last sample at " << found + cut.Frames() << ", mark at " << end;
    EXPECT_GE(over, -c.Tolerance) << "last sample at " << found + cut.Frames() << ", mark at " << end;
}

INSTANTIATE_TEST_SUITE_P(Formats, LossyCut,
                         ::testing::Values(TLossyCase{TMediaFormat::Mp3Cbr, "libmp3lame", kMillisecond},
                                           TLossyCase{TMediaFormat::Mp3Vbr, "libmp3lame", kMillisecond},
                                           TLossyCase{TMediaFormat::Ogg, "libvorbis", kMillisecond},
                                           // The containers cannot signal the encoder's priming:
                                           // one frame (plus the measurement's own slack).
                                           TLossyCase{TMediaFormat::Aac, "aac", 1024 + kMillisecond},
                                           // Placed exactly; the end is padded to a whole frame.
                                           TLossyCase{TMediaFormat::Wma, "wmav2", kMillisecond, 2048}),
                         [](const ::testing::TestParamInfo<TLossyCase>& info) {
                             return std::string(MediaFormatEncoder(info.param.Format)) + "_" +
                                    std::to_string(info.index);
                         });

class LossyJoin : public EngineRunTest, public ::testing::WithParamInterface<TLossyCase> {};

TEST_P(LossyJoin, BoundaryHasNoSilenceAndNoLostSamples) {
    const TLossyCase& c = GetParam();
    const std::string a = TestMediaFile({c.Format, 1.5, kRate, 2, 128000});
    const std::string b = TestMediaFile({c.Format, 2.0, kRate, 2, 128000});
    const std::string out = OutputPath("joined" + MediaFormatExt(c.Format));
    OpenInput(a);
    OpenInput(b);
    OpenOutput(out, c.Encoder, true);
    ASSERT_TRUE(Convert()) << Engine.ExceptionMessage();

    TDecodedAudio first = DecodeAudioFile(a), second = DecodeAudioFile(b), joined = DecodeAudioFile(out);
    EXPECT_LE(LongestSilence(joined), kMillisecond);
    EXPECT_LE(std::llabs(joined.Frames() - first.Frames() - second.Frames()), kMillisecond);
    // The second input continues where the first ends (looked up from a little after the seam).
    const int64_t skip = 100;
    TDecodedAudio tail;
    tail.SampleRate = joined.SampleRate;
    tail.Channels = joined.Channels;
    tail.Samples.assign(joined.Samples.begin() + (first.Frames() + skip) * joined.Channels,
                        joined.Samples.end());
    EXPECT_LE(std::llabs(FindOffsetInSource(second, tail, 2048, skip, 2048) - skip), kMillisecond);
}

INSTANTIATE_TEST_SUITE_P(Formats, LossyJoin,
                         ::testing::Values(TLossyCase{TMediaFormat::Mp3Cbr, "libmp3lame", kMillisecond},
                                           TLossyCase{TMediaFormat::Ogg, "libvorbis", kMillisecond}),
                         [](const ::testing::TestParamInfo<TLossyCase>& info) {
                             return std::string(MediaFormatEncoder(info.param.Format));
                         });
