// What the cutters that decode or encode through the media libraries share: a block of decoded
// samples (the bridges re-encoded at a seam, the frames decoded at a cut's ends) and the
// libraries' text for an error code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TPcmBlock {
    int Channels = 0;
    std::vector<float> Samples; // interleaved
    int64_t Frames() const { return Channels > 0 ? int64_t(Samples.size()) / Channels : 0; }
};

// The libraries' description of `code` (an AVERROR value).
std::string ErrorText(int code);

struct AVCodecContext;
// Decodes `packets` in order with the open decoder `c`, whose samples are float (planar or
// interleaved), appending them interleaved to `pcm`; its channel count is the decoder's. Empty
// packets are passed over (one would end the stream). False with the reason.
bool DecodePackets(AVCodecContext* c, const std::vector<std::vector<uint8_t>>& packets, TPcmBlock& pcm,
                   std::string& error);
// Encodes `pcm` with the open encoder `c` (planar float) in frames of `chunk` samples, stamped
// from 0, then flushes it; each packet's bytes are appended to `packets`. The last frame is
// filled up with silence to `chunk` when `padLast` (encoders that take whole frames only), else
// shorter. Channels beyond the block's repeat its last ones. False with the reason.
bool EncodePcm(AVCodecContext* c, const TPcmBlock& pcm, int chunk, bool padLast,
               std::vector<std::vector<uint8_t>>& packets, std::string& error);
