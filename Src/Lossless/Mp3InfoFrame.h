// The Xing/Info frame with its encoder extension that a lossless MP3 cut starts with: frame
// count, byte count and seek table of the copied frames, and the encoder delay and padding that
// make a gapless decoder play exactly the marked samples.
#pragma once

#include "Mp3Frames.h"

#include <array>
#include <vector>

struct TMp3InfoFields {
    TMp3Header Stream;     // the first copied audio frame
    TMp3InfoTag Source;    // the input's info frame, when it had one
    bool Cbr = true;       // every copied frame has the same bitrate
    int64_t Frames = 0;    // copied audio frames
    int64_t AudioBytes = 0; // their bytes
    int Delay = 0;         // samples, without the decoder's own delay
    int Padding = 0;
    // Byte offset (from the first copied frame) of the frame at each percent of the duration.
    std::array<int64_t, 100> TocOffsets{};
};

std::vector<uint8_t> BuildMp3InfoFrame(const TMp3InfoFields& fields);

// CRC-16 as the encoder extension's tag CRC uses it (polynomial 0x8005, reflected, start 0).
uint16_t Mp3TagCrc(const uint8_t* data, size_t count);
