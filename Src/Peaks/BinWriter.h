// Private to Peaks: turns decoded frames into base bins of a summary, in batches.
#pragma once

#include "PeakSummary.h"

#include <vector>

struct AVFrame;

class TBinWriter {
public:
    explicit TBinWriter(TPeakSummary& summary);
    ~TBinWriter() { Flush(); }

    // Adds frames [offset, offset + count) of `frame`, which are timeline frames first.. (at or
    // after the summary's origin).
    void Add(int64_t first, const AVFrame& frame, int offset, int count);
    // Writes the bin in progress and the batch to the summary.
    void Flush();

private:
    void CloseBin();
    void WriteBatch();

    TPeakSummary& FSummary;
    const int FChannels;
    int64_t FBin = -1;           // the bin in progress
    std::vector<TPeak> FCurrent; // its peaks per channel
    int64_t FBatchFirst = 0;     // first bin of FBatch
    std::vector<TPeak> FBatch;   // finished bins not yet in the summary
};

// Merges into out[0..channels) the min/max of `count` frames of a decoded frame from `offset` on,
// as 16-bit codes (float samples scaled by 32768 and rounded, wider integers shifted down).
void AddFramePeaks(const AVFrame& frame, int offset, int count, int channels, TPeak* out);
bool IsPlanarFormat(int format); // an AVSampleFormat with one plane per channel
int PackedFormat(int format);    // the same sample type, interleaved
