// Bins from decoded frames. The inner loops run over every decoded sample of the file: they are
// kept plain so that the compiler vectorises them.
#include "BinWriter.h"

#include "MediaApi.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr size_t kBatchBins = 64; // bins per merge into the summary (about 0.4 s of audio)

int16_t CodeOf(uint8_t v) {
    return static_cast<int16_t>((v - 128) * 256);
}
int16_t CodeOf(int16_t v) {
    return v;
}
int16_t CodeOf(int32_t v) {
    return static_cast<int16_t>(v >> 16);
}
int16_t CodeOf(int64_t v) {
    return static_cast<int16_t>(v >> 48);
}
int16_t CodeOf(double v) {
    double scaled = std::nearbyint(v * 32768.0);
    return static_cast<int16_t>(std::clamp(scaled, -32768.0, 32767.0));
}
int16_t CodeOf(float v) {
    return CodeOf(static_cast<double>(v));
}

// Min and max of `frames` interleaved frames per channel. Lane k of the fixed-width accumulators
// always holds channel k % Channels, so the inner loop has no channel arithmetic and vectorises.
template <class T, int Channels> void InterleavedPeaks(const T* p, int frames, TPeak* out) {
    constexpr int kLanes = Channels * (16 / Channels);
    T low[kLanes], high[kLanes];
    for (int k = 0; k < kLanes; ++k)
        low[k] = high[k] = p[k % Channels];
    const int total = frames * Channels;
    int i = 0;
    for (; i + kLanes <= total; i += kLanes)
        for (int k = 0; k < kLanes; ++k) {
            low[k] = p[i + k] < low[k] ? p[i + k] : low[k];
            high[k] = p[i + k] > high[k] ? p[i + k] : high[k];
        }
    for (; i < total; ++i) {
        int c = i % Channels;
        low[c] = p[i] < low[c] ? p[i] : low[c];
        high[c] = p[i] > high[c] ? p[i] : high[c];
    }
    for (int c = 0; c < Channels; ++c) {
        T lo = low[c], hi = high[c];
        for (int k = c + Channels; k < kLanes; k += Channels) {
            lo = low[k] < lo ? low[k] : lo;
            hi = high[k] > hi ? high[k] : hi;
        }
        out[c].Add(TPeak{CodeOf(lo), CodeOf(hi)});
    }
}

// Any channel count: one strided pass per channel.
template <class T> void StridedPeaks(const T* p, int frames, int channels, TPeak* out) {
    for (int c = 0; c < channels; ++c) {
        T lo = p[c], hi = p[c];
        for (int i = 1; i < frames; ++i) {
            T v = p[static_cast<size_t>(i) * channels + c];
            lo = v < lo ? v : lo;
            hi = v > hi ? v : hi;
        }
        out[c].Add(TPeak{CodeOf(lo), CodeOf(hi)});
    }
}

template <class T> void AddPeaks(const T* p, int frames, int channels, TPeak* out) {
    if (channels == 1)
        InterleavedPeaks<T, 1>(p, frames, out);
    else if (channels == 2)
        InterleavedPeaks<T, 2>(p, frames, out);
    else
        StridedPeaks(p, frames, channels, out);
}

template <class T> void AddTypedPeaks(const AVFrame& frame, int offset, int count, int channels, TPeak* out) {
    const int frameChannels = frame.ch_layout.nb_channels;
    if (IsPlanarFormat(frame.format)) {
        for (int c = 0; c < std::min(channels, frameChannels); ++c)
            AddPeaks(reinterpret_cast<const T*>(frame.extended_data[c]) + offset, count, 1, out + c);
    } else if (frameChannels == channels) {
        AddPeaks(reinterpret_cast<const T*>(frame.extended_data[0]) + static_cast<size_t>(offset) * channels,
                 count, channels, out);
    } else {
        // A stream whose channel count changed: the channels the summary has.
        std::vector<TPeak> all(static_cast<size_t>(frameChannels));
        AddPeaks(reinterpret_cast<const T*>(frame.extended_data[0]) +
                     static_cast<size_t>(offset) * frameChannels,
                 count, frameChannels, all.data());
        for (int c = 0; c < std::min(channels, frameChannels); ++c)
            out[c].Add(all[c]);
    }
}

} // namespace

// Plain arithmetic on the format's number (no library call), so that the summary's arithmetic can
// be checked without loading the libraries.
bool IsPlanarFormat(int format) {
    return format >= AV_SAMPLE_FMT_U8P && format <= AV_SAMPLE_FMT_S64P && format != AV_SAMPLE_FMT_S64;
}

int PackedFormat(int format) {
    switch (format) {
    case AV_SAMPLE_FMT_U8P:
        return AV_SAMPLE_FMT_U8;
    case AV_SAMPLE_FMT_S16P:
        return AV_SAMPLE_FMT_S16;
    case AV_SAMPLE_FMT_S32P:
        return AV_SAMPLE_FMT_S32;
    case AV_SAMPLE_FMT_FLTP:
        return AV_SAMPLE_FMT_FLT;
    case AV_SAMPLE_FMT_DBLP:
        return AV_SAMPLE_FMT_DBL;
    case AV_SAMPLE_FMT_S64P:
        return AV_SAMPLE_FMT_S64;
    default:
        return format;
    }
}

void AddFramePeaks(const AVFrame& frame, int offset, int count, int channels, TPeak* out) {
    if (count <= 0) return;
    switch (PackedFormat(frame.format)) {
    case AV_SAMPLE_FMT_U8:
        return AddTypedPeaks<uint8_t>(frame, offset, count, channels, out);
    case AV_SAMPLE_FMT_S16:
        return AddTypedPeaks<int16_t>(frame, offset, count, channels, out);
    case AV_SAMPLE_FMT_S32:
        return AddTypedPeaks<int32_t>(frame, offset, count, channels, out);
    case AV_SAMPLE_FMT_S64:
        return AddTypedPeaks<int64_t>(frame, offset, count, channels, out);
    case AV_SAMPLE_FMT_FLT:
        return AddTypedPeaks<float>(frame, offset, count, channels, out);
    case AV_SAMPLE_FMT_DBL:
        return AddTypedPeaks<double>(frame, offset, count, channels, out);
    default:
        return;
    }
}

TBinWriter::TBinWriter(TPeakSummary& summary)
    : FSummary(summary), FChannels(summary.Channels()), FCurrent(static_cast<size_t>(summary.Channels())) {
    FBatch.reserve(kBatchBins * FChannels);
}

void TBinWriter::Add(int64_t first, const AVFrame& frame, int offset, int count) {
    const int64_t binFrames = FSummary.BinFrames();
    int64_t pos = first - FSummary.OriginFrame();
    while (count > 0) {
        int64_t bin = pos / binFrames;
        int n = static_cast<int>(std::min<int64_t>(count, (bin + 1) * binFrames - pos));
        if (bin != FBin) {
            CloseBin();
            FBin = bin;
        }
        AddFramePeaks(frame, offset, n, FChannels, FCurrent.data());
        pos += n;
        offset += n;
        count -= n;
    }
}

void TBinWriter::CloseBin() {
    if (FBin < 0) return;
    size_t batchBins = FBatch.size() / FChannels;
    if (batchBins > 0 && FBin != FBatchFirst + static_cast<int64_t>(batchBins)) WriteBatch();
    if (FBatch.empty()) FBatchFirst = FBin;
    FBatch.insert(FBatch.end(), FCurrent.begin(), FCurrent.end());
    std::fill(FCurrent.begin(), FCurrent.end(), TPeak{});
    FBin = -1;
    if (FBatch.size() / FChannels >= kBatchBins) WriteBatch();
}

void TBinWriter::WriteBatch() {
    if (FBatch.empty()) return;
    FSummary.MergeBins(FBatchFirst, static_cast<int64_t>(FBatch.size() / FChannels), FBatch.data());
    FBatch.clear();
}

void TBinWriter::Flush() {
    CloseBin();
    WriteBatch();
}
