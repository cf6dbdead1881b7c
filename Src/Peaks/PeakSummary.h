// The multi-resolution min/max summary of a file's audio: per channel, one min/max pair for every
// bin of `BinFrames()` sample frames (the base level) and coarser levels of kLevelFactor times as
// many frames per bin, derived from it as it is written. Values are 16-bit sample codes; a bin
// that received no sample (not decoded yet, or lost to a decoding error) is empty (Min > Max).
//
// Thread-safe: decoding threads merge bins while the view reads columns; every call holds FLock
// only for the bins it touches.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

struct TPeak {
    int16_t Min = INT16_MAX;
    int16_t Max = INT16_MIN;

    bool Empty() const { return Min > Max; }
    void Add(const TPeak& other) {
        if (other.Min < Min) Min = other.Min;
        if (other.Max > Max) Max = other.Max;
    }
    bool operator==(const TPeak&) const = default;
};

class TPeakSummary {
public:
    static constexpr int kBaseBinFrames = 256; // frames per bin of the base level in the window
    static constexpr int kLevelFactor = 4;
    static constexpr int kLevels = 8;

    // A summary of `channels` channels whose bin 0 begins at sample frame `originFrame`.
    TPeakSummary(int channels, int sampleRate, int binFrames = kBaseBinFrames, int64_t originFrame = 0);

    int Channels() const { return FChannels; }
    int SampleRate() const { return FSampleRate; }
    int BinFrames() const { return FBinFrames; }
    int64_t OriginFrame() const { return FOriginFrame; }
    int64_t LevelBinFrames(int level) const;

    // Sets aside room for `frames` frames, so that a build of known length never reallocates.
    void Reserve(int64_t frames);
    // Merges `count` base bins from `firstBin` on; `peaks` holds count × Channels() pairs, bin by
    // bin, channel by channel. Called by the decoding threads.
    void MergeBins(int64_t firstBin, int64_t count, const TPeak* peaks);

    // Base bins written so far (the highest bin touched + 1).
    int64_t BinCount() const;
    // The base bins [firstBin, firstBin + count) of one channel; empty pairs past the end.
    std::vector<TPeak> Bins(int channel, int64_t firstBin, int64_t count) const;
    // The min/max of `columns` columns of `framesPerColumn` frames each (absolute frames, the first
    // starting at `firstFrame`), from the coarsest level whose bins still fit a column. A column
    // takes every bin that overlaps it, so a single-sample peak shows at every zoom.
    std::vector<TPeak> Columns(int channel, double firstFrame, double framesPerColumn, int columns) const;
    // Bytes held by the levels.
    size_t MemoryBytes() const;

private:
    struct TLevel {
        std::vector<TPeak> Peaks; // bin-major, Channels() per bin
        int64_t Bins = 0;         // bins in use
    };
    void GrowLevel(TLevel& level, int64_t bins);
    int LevelFor(double framesPerColumn) const;

    const int FChannels;
    const int FSampleRate;
    const int FBinFrames;
    const int64_t FOriginFrame;
    mutable std::mutex FLock; // guards FLevels
    std::vector<TLevel> FLevels;
};
