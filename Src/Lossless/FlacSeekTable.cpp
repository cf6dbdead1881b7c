#include "FlacSeekTable.h"

#include <algorithm>

namespace {

constexpr int kSpacingSeconds = 10;
constexpr uint64_t kPlaceholder = ~uint64_t(0);

void PutBE(std::vector<uint8_t>& out, uint64_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(uint8_t(v >> (8 * i)));
}

} // namespace

TFlacSeekTable::TFlacSeekTable(int64_t totalSamples, int rate)
    : FSpacing(std::max<int64_t>(1, int64_t(rate) * kSpacingSeconds)),
      FRoom(size_t(std::max<int64_t>(1, (totalSamples + FSpacing - 1) / FSpacing))) {}

std::vector<uint8_t> TFlacSeekTable::Body() const {
    std::vector<uint8_t> body;
    body.reserve(FRoom * 18);
    for (size_t i = 0; i < FRoom; ++i) {
        TPoint point = i < FPoints.size() ? FPoints[i] : TPoint{kPlaceholder, 0, 0};
        PutBE(body, point.Sample, 8);
        PutBE(body, point.Offset, 8);
        PutBE(body, point.Samples, 2);
    }
    return body;
}

// A point for the frame holding each multiple of the spacing (the frames come in order and
// follow each other without a gap).
void TFlacSeekTable::NoteFrame(int64_t firstSample, int64_t offset, int samples) {
    int64_t target = int64_t(FPoints.size()) * FSpacing;
    if (FPoints.size() >= FRoom || target >= firstSample + samples) return;
    FPoints.push_back({uint64_t(firstSample), uint64_t(offset), uint16_t(samples)});
}
