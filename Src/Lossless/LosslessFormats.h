// The copy paths behind TLosslessCutter, one per format. Each reads the input's layout, fills
// `check` and returns the plan that writes the cut (null unless the verdict is Possible).
#pragma once

#include "LosslessCut.h"

struct TLosslessPlan {
    virtual ~TLosslessPlan() = default;
    virtual bool Write(const std::string& output, std::string& error) = 0;
};

// A verdict with its reason (empty when Possible).
TLosslessCheck Verdict(TLosslessVerdict verdict, const std::string& reason);

class TByteReader;
// Opens the input for a planner; false with the Refused verdict and the system's reason in `check`.
bool OpenForPlan(TByteReader& reader, const std::string& input, TLosslessCheck& check);

// The marks in samples at `rate`, rounded to the nearest sample.
int64_t MarkToSamples(int64_t ms, int64_t rate);

std::unique_ptr<TLosslessPlan> PlanMp3Cut(const std::string& input, TLosslessMode mode, int64_t startMs,
                                          int64_t endMs, TLosslessCheck& check);
std::unique_ptr<TLosslessPlan> PlanWavCut(const std::string& input, TLosslessMode mode, int64_t startMs,
                                          int64_t endMs, TLosslessCheck& check);
std::unique_ptr<TLosslessPlan> PlanOggCut(const std::string& input, TLosslessMode mode, int64_t startMs,
                                          int64_t endMs, TLosslessCheck& check);
std::unique_ptr<TLosslessPlan> PlanFlacCut(const std::string& input, TLosslessMode mode, int64_t startMs,
                                           int64_t endMs, TLosslessCheck& check);
std::unique_ptr<TLosslessPlan> PlanAdtsCut(const std::string& input, TLosslessMode mode, int64_t startMs,
                                           int64_t endMs, TLosslessCheck& check);
// WMA (ASF) and M4A, through the libraries' demuxer and muxer.
std::unique_ptr<TLosslessPlan> PlanPacketCut(const std::string& input, TLosslessMode mode, int64_t startMs,
                                             int64_t endMs, TLosslessCheck& check);
