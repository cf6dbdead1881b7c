// FLAC frames for the lossless cutter: the stream's metadata blocks, a walk over the frames
// (each found by its header checksum and the sample number the frame before leads to), and the
// frames a cut writes: copied ones renumbered, and new ones holding samples verbatim.
#pragma once

#include "ByteFile.h"

#include <cstdint>
#include <string>
#include <vector>

struct TFlacInfo {
    int MinBlock = 0, MaxBlock = 0;
    int SampleRate = 0;
    int Channels = 0;
    int BitsPerSample = 0;
    int64_t TotalSamples = 0; // 0: unknown
};

struct TFlacBlock {
    int Type = 0;
    int64_t Offset = 0; // of its 4-byte header
    int64_t Size = 0;   // of its body
};

// Reads "fLaC" (after an ID3v2 tag, when there is one) and the metadata blocks; `audio` is the
// offset of the first frame. False with the reason.
bool ReadFlacMetadata(TByteReader& reader, TFlacInfo& info, std::vector<TFlacBlock>& blocks,
                      int64_t& id3Bytes, int64_t& audio, std::string& reason);
// The 34 bytes of a STREAMINFO body for `info` (frame sizes unknown, MD5 cleared).
std::vector<uint8_t> FlacStreamInfo(const TFlacInfo& info);

struct TFlacFrame {
    int64_t Offset = 0;
    int64_t Bytes = 0;
    int64_t FirstSample = 0;
    int BlockSize = 0;
    int HeaderBytes = 0; // through its CRC-8
    int NumberAt = 0;    // offset of the coded frame or sample number in the header
    int NumberBytes = 0;
    uint8_t Codes[2] = {0, 0}; // header bytes 2 and 3: block size and rate, channels and sample size
    uint8_t RateBytes[2] = {0, 0};
    int RateByteCount = 0;
};

class TFlacFrameWalk {
public:
    TFlacFrameWalk(TByteReader& reader, const TFlacInfo& info) : FReader(reader), FInfo(info) {}
    // The first frame at or after `offset`; `nextSample` (when not negative) is the sample number
    // it must start at, which tells frame headers from look-alike bytes in the audio data.
    bool Find(int64_t offset, int64_t nextSample, TFlacFrame& frame);
    // The frame after `frame` (false at the end of the audio). Sets frame.Bytes of `frame`.
    bool Next(TFlacFrame& frame);
    int64_t AudioEnd = 0; // where frames end (before trailing tags); the file's size by default
    bool Lost = false;    // Next() found no frame continuing the numbering before the end

private:
    bool ParseHeader(int64_t offset, TFlacFrame& frame);

    TByteReader& FReader;
    const TFlacInfo& FInfo;
};

// A copied frame with its header renumbered to start at `firstSample` in a variable-block-size
// stream; a frame whose checksum was wrong keeps it wrong.
std::vector<uint8_t> RenumberFlacFrame(const std::vector<uint8_t>& frame, const TFlacFrame& place,
                                       int64_t firstSample);
// A frame holding `samples` (interleaved, `frames` per channel) verbatim, starting at `firstSample`.
// The rate and sample size are coded as in `model`, a frame of the stream.
std::vector<uint8_t> VerbatimFlacFrame(const TFlacInfo& info, const TFlacFrame& model,
                                       const std::vector<int32_t>& samples, int frames, int64_t firstSample);
