// Lossless Ogg Opus delete, reached from the Ogg cutter.
#pragma once

#include "LosslessFormats.h"

// Whether the Ogg file's first stream is Opus (its first packet an OpusHead).
bool OggHoldsOpus(const std::string& input);

std::unique_ptr<TLosslessPlan> PlanOpusDelete(const std::string& input, int64_t startMs, int64_t endMs,
                                              TLosslessCheck& check);
