// The seek table of a FLAC cut, rebuilt while its frames are written: the input's table points
// into frames that moved, so the cut gets one of its own, a point every ten seconds as the
// reference encoder places them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class TFlacSeekTable {
public:
    // Room for the points of a stream of `totalSamples` at `rate`.
    TFlacSeekTable(int64_t totalSamples, int rate);
    // The SEEKTABLE block's body: 18 bytes a point, placeholder points where no frame was noted.
    std::vector<uint8_t> Body() const;
    // A frame holding the samples [firstSample, firstSample + samples), written `offset` bytes
    // after the first frame's header.
    void NoteFrame(int64_t firstSample, int64_t offset, int samples);

private:
    struct TPoint {
        uint64_t Sample, Offset;
        uint16_t Samples;
    };
    int64_t FSpacing;
    size_t FRoom;
    std::vector<TPoint> FPoints;
};
