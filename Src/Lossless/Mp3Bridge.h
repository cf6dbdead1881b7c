// The codec side of a lossless MP3 delete: decoding copied frames back to samples and encoding
// the short bridge that replaces the frames around the seam, through the loaded libraries.
#pragma once

#include "CodecSupport.h"

#include <cstdint>
#include <string>
#include <vector>

// Decodes whole frames (each an element of `frames`) in order with the float MP3 decoder. Every
// frame must give its samples; a frame the decoder rejects fails the call.
bool DecodeMp3Frames(const std::vector<std::vector<uint8_t>>& frames, int samplesPerFrame, TPcmBlock& pcm,
                     std::string& error);

struct TEncodedMp3 {
    std::vector<std::vector<uint8_t>> Frames;
    int InitialPadding = 0; // samples of delay before the first input sample, the decoder's included
};

// Opens the MP3 encoder at a constant bit rate without bit reservoir, so that every frame holds
// its own data. Encode() then feeds samples, Finish() flushes it.
class TMp3BridgeEncoder {
public:
    TMp3BridgeEncoder();
    ~TMp3BridgeEncoder();
    bool Open(int sampleRate, int channels, int bitRate, std::string& error);
    int InitialPadding() const;
    // Encodes `pcm` and the flush; the frames land in `out`.
    bool Encode(const TPcmBlock& pcm, TEncodedMp3& out, std::string& error);

private:
    struct TState;
    TState* FState;
};
