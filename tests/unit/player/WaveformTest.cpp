// The waveform frame drawn in software: black background, one band per channel with white bars
// from its centre line, white lines between the bands, and a start point that keeps a steady
// tone still from one frame to the next.
#include "Waveform.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

namespace {

struct TFrame {
    int Width, Height;
    std::vector<uint32_t> Pixels;
    TFrame(int width, int height)
        : Width(width), Height(height), Pixels(size_t(width) * height, 0x12345678) {}
    uint32_t At(int x, int y) const { return Pixels[size_t(y) * Width + x]; }
    // White rows of column x, as [first, last] runs counted by a string like "25-35,50".
    std::string WhiteRows(int x) const {
        std::string text;
        for (int y = 0; y < Height; ++y) {
            if (At(x, y) != kWaveForeground) continue;
            int first = y;
            while (y + 1 < Height && At(x, y + 1) == kWaveForeground)
                ++y;
            if (!text.empty()) text += ",";
            text += first == y ? std::to_string(y) : std::to_string(first) + "-" + std::to_string(y);
        }
        return text;
    }
};

std::unique_ptr<TSampleRing> RingOf(const std::vector<int16_t>& samples) {
    auto ring = std::make_unique<TSampleRing>();
    ring->Append(samples.data(), static_cast<int>(samples.size()));
    return ring;
}

TEST(PlayerWaveform, StereoBandsShowPositiveSamplesDownAndNegativeSamplesUp) {
    // Left +0.5, right -0.5 full scale, then a full-scale negative left sample.
    std::vector<int16_t> samples;
    for (int i = 0; i < 64; ++i) {
        samples.push_back(16384);
        samples.push_back(-16384);
    }
    samples[2 * 10] = -32768;
    auto ring = RingOf(samples);
    TFrame frame(64, 100); // bands of 50 rows, bars up to 50 * 9 / 20 = 22 rows
    DrawWaveformFrame(*ring, 0, 2, frame.Pixels.data(), frame.Width, frame.Height);

    EXPECT_EQ(frame.WhiteRows(0), "25-35,50,64-74")
        << "left: 11 rows down from 25; separator; right: 11 rows up to 74";
    EXPECT_EQ(frame.WhiteRows(10), "3-24,50,64-74") << "a full-scale negative sample reaches 22 rows up";
    EXPECT_EQ(frame.At(0, 0), kWaveBackground);
    EXPECT_EQ(frame.At(0, 99), kWaveBackground);
    EXPECT_EQ(frame.At(63, 36), kWaveBackground);
}

TEST(PlayerWaveform, SilenceLeavesOnlyTheBandSeparators) {
    auto ring = RingOf(std::vector<int16_t>(600, 0));
    TFrame frame(100, 90);
    DrawWaveformFrame(*ring, 0, 3, frame.Pixels.data(), frame.Width, frame.Height);
    for (int x : {0, 50, 99})
        EXPECT_EQ(frame.WhiteRows(x), "30,60");

    TFrame mono(100, 90);
    DrawWaveformFrame(*ring, 0, 1, mono.Pixels.data(), mono.Width, mono.Height);
    EXPECT_EQ(mono.WhiteRows(0), "") << "one channel: no separator, no bar";
}

TEST(PlayerWaveform, DrawingWrapsAroundTheRing) {
    std::vector<int16_t> samples(TSampleRing::kSize + 1, 0);
    samples[0] = -32768;                 // overwritten by the last sample
    samples[TSampleRing::kSize] = 32767; // lands at index 0
    auto ring = RingOf(samples);
    EXPECT_EQ(ring->Index(), 1);
    TFrame frame(3, 40); // one band of 40 rows, bars up to 18 rows from row 20
    DrawWaveformFrame(*ring, TSampleRing::kSize - 1, 1, frame.Pixels.data(), frame.Width, frame.Height);
    EXPECT_EQ(frame.WhiteRows(0), "");
    EXPECT_EQ(frame.WhiteRows(1), "20-36");
    EXPECT_EQ(frame.WhiteRows(2), "");
}

TEST(PlayerWaveform, StartLiesHalfAWidthBeforeTheHeardSample) {
    // No sign change anywhere: the start is not moved.
    auto ring = RingOf(std::vector<int16_t>(4000, 100));
    EXPECT_EQ(WaveformStart(*ring, 2, 300, 200), 4000 - (200 + 150) * 2);
    EXPECT_EQ(WaveformStart(*ring, 1, 300, 0), 4000 - 150);
}

TEST(PlayerWaveform, ASteadyToneStandsStill) {
    // A tone of 100 samples per period: whichever point is being heard, the drawn frame is the same.
    auto ring = std::make_unique<TSampleRing>();
    auto tone = [](int n) { return int16_t(std::lround(12000 * std::sin(2 * M_PI * n / 100.0))); };
    int written = 0;
    auto feed = [&](int count) {
        std::vector<int16_t> block;
        for (int i = 0; i < count; ++i)
            block.push_back(tone(written++));
        ring->Append(block.data(), count);
    };
    feed(5000);
    std::vector<std::vector<uint32_t>> frames;
    for (int step : {0, 37, 11, 263}) {
        feed(step);
        int start = WaveformStart(*ring, 1, 200, 300);
        EXPECT_NE(ring->At(start + 4) < 0, ring->At(start + 5) < 0) << "a zero crossing follows the start";
        TFrame frame(200, 60);
        DrawWaveformFrame(*ring, start, 1, frame.Pixels.data(), frame.Width, frame.Height);
        frames.push_back(frame.Pixels);
    }
    for (size_t i = 1; i < frames.size(); ++i)
        EXPECT_EQ(frames[i], frames[0]) << "frame " << i;
}

} // namespace
