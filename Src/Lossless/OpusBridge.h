// The codec side of a lossless Opus delete: decoding copied packets back to samples and encoding
// the bridge that replaces the packets around the seam, through the loaded libraries. Samples are
// at 48 kHz, before the header's output gain.
#pragma once

#include "CodecSupport.h"

#include <cstdint>
#include <string>
#include <vector>

using TOpusPackets = std::vector<std::vector<uint8_t>>;

// Decodes `packets` in order from a fresh decoder whose header is `head` (the stream's OpusHead;
// its pre-skip and gain are not applied). Every packet must give its samples.
bool DecodeOpusPackets(const std::vector<uint8_t>& head, const TOpusPackets& packets, TPcmBlock& pcm,
                       std::string& error);

// Samples of an output timeline: `Pcm` holds positions [First, First + Pcm.Frames()), silence
// elsewhere.
struct TOpusSource {
    TPcmBlock Pcm;
    int64_t First = 0;
};

// Encodes `count` frames of `frameSamples` (120, 240, 480 or 960) whose decoded samples are the
// source's positions from `at` on, with the libraries' libopus encoder at `bitRate`. The encoder
// starts earlier on the source and its first packets are dropped, so that the frames kept follow
// a settled encoder. Fails when the encoder's channel mapping is not the one `head` states.
bool EncodeOpusFrames(const std::vector<uint8_t>& head, const TOpusSource& source, int64_t at,
                      int frameSamples, int count, int bitRate, TOpusPackets& packets, std::string& error);
