// The min/max summary against a direct min/max of known signals, at every level: frames of odd
// sizes cross the bins, planar float and interleaved 16-bit frames take the two paths.
#include "BinWriter.h"
#include "MediaApi.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

namespace {

constexpr int kBin = TPeakSummary::kBaseBinFrames;

using TSignal = std::function<float(int64_t frame, int channel)>;

int16_t Code(float v) {
    return static_cast<int16_t>(std::clamp(std::nearbyint(v * 32768.0), -32768.0, 32767.0));
}

// Writes `frames` frames of the signal in blocks of `block` frames, as `format` (FLTP or S16).
void WriteSignal(TPeakSummary& summary, const TSignal& signal, int64_t first, int64_t frames, int block,
                 AVSampleFormat format) {
    const int channels = summary.Channels();
    TBinWriter writer(summary);
    for (int64_t at = 0; at < frames; at += block) {
        int n = static_cast<int>(std::min<int64_t>(block, frames - at));
        std::vector<std::vector<float>> planes(channels, std::vector<float>(n));
        std::vector<int16_t> packed(static_cast<size_t>(n) * channels);
        for (int i = 0; i < n; ++i)
            for (int c = 0; c < channels; ++c) {
                planes[c][i] = signal(first + at + i, c);
                packed[static_cast<size_t>(i) * channels + c] = Code(planes[c][i]);
            }
        std::vector<uint8_t*> data;
        if (format == AV_SAMPLE_FMT_FLTP)
            for (auto& plane : planes)
                data.push_back(reinterpret_cast<uint8_t*>(plane.data()));
        else
            data.push_back(reinterpret_cast<uint8_t*>(packed.data()));
        AVFrame frame{};
        frame.format = format;
        frame.nb_samples = n;
        frame.ch_layout.nb_channels = channels;
        frame.extended_data = data.data();
        writer.Add(first + at, frame, 0, n);
    }
}

// Direct min/max of the signal over [from, to).
TPeak DirectPeak(const TSignal& signal, int channel, int64_t from, int64_t to) {
    TPeak peak;
    for (int64_t f = from; f < to; ++f) {
        int16_t v = Code(signal(f, channel));
        peak.Add(TPeak{v, v});
    }
    return peak;
}

// Every level's bins, read as columns of exactly one bin, against the direct min/max.
void ExpectEveryLevelMatches(const TPeakSummary& summary, const TSignal& signal, int64_t frames) {
    for (int level = 0; level < TPeakSummary::kLevels; ++level) {
        int64_t binFrames = summary.LevelBinFrames(level);
        int columns = static_cast<int>((frames + binFrames - 1) / binFrames);
        for (int c = 0; c < summary.Channels(); ++c) {
            std::vector<TPeak> got = summary.Columns(c, summary.OriginFrame(), double(binFrames), columns);
            for (int x = 0; x < columns; ++x) {
                int64_t from = summary.OriginFrame() + x * binFrames;
                TPeak want =
                    DirectPeak(signal, c, from, std::min(from + binFrames, summary.OriginFrame() + frames));
                ASSERT_EQ(got[x], want) << "level " << level << " channel " << c << " column " << x;
            }
        }
    }
}

struct TCase {
    const char* Name;
    TSignal Signal;
};

const TCase kCases[] = {
    {"ramp", [](int64_t f, int c) { return float((f * 37 + c * 1000) % 65536 - 32768) / 32768.0f; }},
    {"tone", [](int64_t f, int c) { return 0.8f * float(std::sin(2 * M_PI * 441.0 * f / 44100.0 + c)); }},
};

} // namespace

TEST(PeakSummary, RampAndToneMatchDirectMinMaxAtEveryLevelInBothSampleLayouts) {
    const int64_t frames = 300000; // a partial last bin at every level
    for (const TCase& signalCase : kCases)
        for (AVSampleFormat format : {AV_SAMPLE_FMT_FLTP, AV_SAMPLE_FMT_S16}) {
            SCOPED_TRACE(signalCase.Name);
            TPeakSummary summary(2, 44100);
            WriteSignal(summary, signalCase.Signal, 0, frames, 1153, format);
            EXPECT_EQ(summary.BinCount(), (frames + kBin - 1) / kBin);
            ExpectEveryLevelMatches(summary, signalCase.Signal, frames);
        }
}

TEST(PeakSummary, OneSpikeInSilenceShowsAtEveryLevelAndAnyColumnWidth) {
    const int64_t frames = 1 << 20, spikeAt = 700001;
    TSignal spike = [&](int64_t f, int) { return f == spikeAt ? 0.5f : 0.0f; };
    TPeakSummary summary(1, 44100);
    WriteSignal(summary, spike, 0, frames, 4096, AV_SAMPLE_FMT_FLTP);
    ExpectEveryLevelMatches(summary, spike, frames);
    // Columns that do not line up with any bin still hold the spike, and only the one around it.
    for (double perColumn : {1.0, 97.5, 1000.0, 33333.3, 500000.0}) {
        int columns = static_cast<int>(frames / perColumn);
        std::vector<TPeak> got = summary.Columns(0, 0.0, perColumn, columns);
        int withSpike = 0;
        for (int x = 0; x < columns; ++x)
            if (got[x].Max == Code(0.5f)) ++withSpike;
        EXPECT_GE(withSpike, 1) << perColumn;
        EXPECT_LE(withSpike, 1 + kBin / std::max(perColumn, 1.0) + 1) << perColumn;
        EXPECT_EQ(got[int(spikeAt / perColumn)].Max, Code(0.5f)) << perColumn;
    }
}

TEST(PeakSummary, OriginGapsAndTwoWritersMergeIntoOneSummary) {
    // Bin 0 at frame 10000; two writers meet in the middle of a bin; frames 60000..80000 missing.
    TSignal ramp = kCases[0].Signal;
    TPeakSummary summary(2, 44100, 1000, 10000);
    WriteSignal(summary, ramp, 10000, 25500, 777, AV_SAMPLE_FMT_S16);   // 10000..35500
    WriteSignal(summary, ramp, 35500, 24500, 1152, AV_SAMPLE_FMT_FLTP); // 35500..60000
    WriteSignal(summary, ramp, 80000, 20000, 1152, AV_SAMPLE_FMT_FLTP);
    std::vector<TPeak> bins = summary.Bins(1, 0, 92);
    for (int b = 0; b < 92; ++b) {
        int64_t from = 10000 + b * 1000;
        bool gap = from >= 60000 && from < 80000;
        EXPECT_EQ(bins[b].Empty(), gap || b >= 90) << b;
        if (!gap && b < 90) {
            EXPECT_EQ(bins[b], DirectPeak(ramp, 1, from, from + 1000)) << b;
        }
    }
    // A quarter of the base level's size per coarser level, and nothing else.
    EXPECT_LT(summary.MemoryBytes(), 90 * 2 * sizeof(TPeak) * 2);
}
