// The overview as files: the waveform-data format that web waveform players read (JSON, version
// 2, and its binary .dat form) and a PNG picture drawn in software and encoded by the loaded
// libraries' PNG encoder. Files are written under a temporary name and renamed into place.
#pragma once

#include "PeakSummary.h"

#include <cstdint>
#include <string>
#include <vector>

// One min/max pair per channel per pixel, channel by channel within a pixel.
struct TWaveformData {
    int SampleRate = 0;
    int SamplesPerPixel = 0;
    int Channels = 0;
    int Bits = 16; // 8 or 16
    int64_t Length = 0;
    std::vector<int16_t> Data; // Length × Channels × 2, values within the range of Bits
};

// The first `pixels` bins of a summary whose bins are the pixels; 8 bits keep each code's top
// byte (code >> 8). Bins with no audio become 0, 0.
TWaveformData WaveformDataOf(const TPeakSummary& summary, int64_t pixels, int bits);

std::string WaveformJson(const TWaveformData& data);
std::string WaveformDat(const TWaveformData& data); // little-endian, 24-byte version 2 header

// The overview drawn into RGBA pixels (row by row, 4 bytes each): a band per channel with its
// centre line; columns [from the summary] that hold no audio are hatched.
std::vector<uint8_t> DrawWaveform(const TPeakSummary& summary, int width, int height, int64_t columns);
// Encodes RGBA pixels as PNG through the loaded avcodec; false with the reason.
bool EncodePng(const std::vector<uint8_t>& rgba, int width, int height, std::string& png, std::string& error);

// Writes `bytes` to `fileName` through a hidden temporary file beside it; false with the reason.
bool WriteFileAtomically(const std::string& fileName, const std::string& bytes, std::string& error);
