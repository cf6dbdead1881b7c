// The min/max summary: merging base bins into every level, and reading columns for a view.
#include "PeakSummary.h"

#include <algorithm>
#include <cmath>

TPeakSummary::TPeakSummary(int channels, int sampleRate, int binFrames, int64_t originFrame)
    : FChannels(std::max(channels, 1)), FSampleRate(sampleRate), FBinFrames(std::max(binFrames, 1)),
      FOriginFrame(originFrame), FLevels(kLevels) {}

int64_t TPeakSummary::LevelBinFrames(int level) const {
    int64_t frames = FBinFrames;
    for (int i = 0; i < level; ++i)
        frames *= kLevelFactor;
    return frames;
}

void TPeakSummary::GrowLevel(TLevel& level, int64_t bins) {
    if (bins <= level.Bins) return;
    size_t needed = static_cast<size_t>(bins) * FChannels;
    if (needed > level.Peaks.capacity())
        // A quarter more at a time: a build that outruns the container's duration estimate does not
        // double its memory.
        level.Peaks.reserve(std::max(needed, level.Peaks.capacity() + level.Peaks.capacity() / 4));
    level.Peaks.resize(needed);
    level.Bins = bins;
}

void TPeakSummary::Reserve(int64_t frames) {
    std::lock_guard<std::mutex> guard(FLock);
    for (int i = 0; i < kLevels; ++i) {
        int64_t binFrames = LevelBinFrames(i);
        int64_t bins = (std::max<int64_t>(frames, 0) + binFrames - 1) / binFrames;
        FLevels[i].Peaks.reserve(static_cast<size_t>(bins) * FChannels);
    }
}

void TPeakSummary::MergeBins(int64_t firstBin, int64_t count, const TPeak* peaks) {
    if (count <= 0 || firstBin < 0) return;
    std::lock_guard<std::mutex> guard(FLock);
    int64_t divisor = 1; // base bins per bin of the level
    for (int i = 0; i < kLevels; ++i, divisor *= kLevelFactor) {
        TLevel& level = FLevels[i];
        GrowLevel(level, (firstBin + count - 1) / divisor + 1);
        for (int64_t b = 0; b < count; ++b) {
            TPeak* target = &level.Peaks[static_cast<size_t>((firstBin + b) / divisor) * FChannels];
            const TPeak* source = peaks + b * FChannels;
            for (int c = 0; c < FChannels; ++c)
                target[c].Add(source[c]);
        }
    }
}

int64_t TPeakSummary::BinCount() const {
    std::lock_guard<std::mutex> guard(FLock);
    return FLevels[0].Bins;
}

std::vector<TPeak> TPeakSummary::Bins(int channel, int64_t firstBin, int64_t count) const {
    std::vector<TPeak> result(static_cast<size_t>(std::max<int64_t>(count, 0)));
    if (channel < 0 || channel >= FChannels) return result;
    std::lock_guard<std::mutex> guard(FLock);
    const TLevel& level = FLevels[0];
    for (int64_t i = 0; i < count; ++i) {
        int64_t bin = firstBin + i;
        if (bin >= 0 && bin < level.Bins)
            result[i] = level.Peaks[static_cast<size_t>(bin) * FChannels + channel];
    }
    return result;
}

int TPeakSummary::LevelFor(double framesPerColumn) const {
    int level = 0;
    while (level + 1 < kLevels && LevelBinFrames(level + 1) <= framesPerColumn)
        ++level;
    return level;
}

std::vector<TPeak> TPeakSummary::Columns(int channel, double firstFrame, double framesPerColumn,
                                         int columns) const {
    std::vector<TPeak> result(static_cast<size_t>(std::max(columns, 0)));
    if (channel < 0 || channel >= FChannels || framesPerColumn <= 0) return result;
    int levelIndex = LevelFor(framesPerColumn);
    double binFrames = static_cast<double>(LevelBinFrames(levelIndex));
    std::lock_guard<std::mutex> guard(FLock);
    const TLevel& level = FLevels[levelIndex];
    for (int x = 0; x < columns; ++x) {
        double from = firstFrame + x * framesPerColumn - FOriginFrame;
        double to = from + framesPerColumn;
        int64_t first = std::max<int64_t>(static_cast<int64_t>(std::floor(from / binFrames)), 0);
        int64_t last = std::min<int64_t>(static_cast<int64_t>(std::ceil(to / binFrames)), level.Bins);
        TPeak peak;
        for (int64_t b = first; b < last; ++b)
            peak.Add(level.Peaks[static_cast<size_t>(b) * FChannels + channel]);
        result[x] = peak;
    }
    return result;
}

size_t TPeakSummary::MemoryBytes() const {
    std::lock_guard<std::mutex> guard(FLock);
    size_t bytes = 0;
    for (const TLevel& level : FLevels)
        bytes += level.Peaks.capacity() * sizeof(TPeak);
    return bytes;
}
