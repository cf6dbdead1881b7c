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
