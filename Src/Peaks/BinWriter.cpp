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

template <class T> TPeak PeakOf(const T* p, size_t stride, int count) {
    T low = p[0], high = p[0];
    if (stride == 1) {
        for (int i = 1; i < count; ++i) {
            low = std::min(low, p[i]);
            high = std::max(high, p[i]);
        }
    } else {
        for (int i = 1; i < count; ++i) {
            T v = p[static_cast<size_t>(i) * stride];
            low = std::min(low, v);
            high = std::max(high, v);
        }
    }
    return TPeak{CodeOf(low), CodeOf(high)};
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

TPeak FramePeak(const AVFrame& frame, int channel, int offset, int count) {
    if (count <= 0 || channel >= frame.ch_layout.nb_channels) return TPeak{};
    bool planar = IsPlanarFormat(frame.format);
    size_t stride = planar ? 1 : static_cast<size_t>(frame.ch_layout.nb_channels);
    size_t first = planar ? static_cast<size_t>(offset) : static_cast<size_t>(offset) * stride + channel;
    const uint8_t* data = frame.extended_data[planar ? channel : 0];
    switch (PackedFormat(frame.format)) {
    case AV_SAMPLE_FMT_U8:
        return PeakOf(data + first, stride, count);
    case AV_SAMPLE_FMT_S16:
        return PeakOf(reinterpret_cast<const int16_t*>(data) + first, stride, count);
    case AV_SAMPLE_FMT_S32:
        return PeakOf(reinterpret_cast<const int32_t*>(data) + first, stride, count);
    case AV_SAMPLE_FMT_S64:
        return PeakOf(reinterpret_cast<const int64_t*>(data) + first, stride, count);
    case AV_SAMPLE_FMT_FLT:
        return PeakOf(reinterpret_cast<const float*>(data) + first, stride, count);
    case AV_SAMPLE_FMT_DBL:
        return PeakOf(reinterpret_cast<const double*>(data) + first, stride, count);
    default:
        return TPeak{};
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
        for (int c = 0; c < FChannels; ++c)
            FCurrent[c].Add(FramePeak(frame, c, offset, n));
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
