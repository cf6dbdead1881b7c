// Lossless Ogg Vorbis delete, beside the Ogg select of OggCut.cpp.
#pragma once

#include "LosslessFormats.h"

std::unique_ptr<TLosslessPlan> PlanVorbisDelete(const std::string& input, int64_t startMs, int64_t endMs,
                                                TLosslessCheck& check);
