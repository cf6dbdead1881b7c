// The packet copy behind PacketCut.cpp and PacketDelete.cpp: the input opened through the media
// libraries' demuxer, and the plan that copies runs of its audio packets (restamped) with the
// file's tags and attached pictures through the muxer.
#pragma once

#include "CodecSupport.h"
#include "FFPtr.h"
#include "LosslessFormats.h"

#include <cstdint>
#include <string>
#include <vector>

struct TPacketInput {
    TInputContextPtr Context;
    int Audio = -1;
};

// Opens `path` and finds its one audio stream; pictures attached to it may come along.
bool OpenPacketInput(const std::string& path, TPacketInput& input, std::string& error);

// Where the audio packets' decoded samples lie: samples from the stream's origin for a stamp.
// WMA's stamps are whole milliseconds: they are snapped to the codec's frame grid.
struct TPacketClock {
    explicit TPacketClock(const AVStream& stream);
    int64_t Samples(int64_t pts) const;
    double Ms(int64_t samples) const { return double(samples) * 1000.0 / Rate; }

    int Rate = 1000;
    int64_t Grid = 1;
    int64_t Origin = 0;
    AVRational TimeBase{1, 1000};
};

// The audio packets with From <= pts <= To (stream time base), stamped pts - Shift.
struct TPacketRun {
    int64_t From = 0, To = 0, Shift = 0;
};

class TPacketPlan : public TLosslessPlan {
public:
    bool Write(const std::string& output, std::string& error) override;

    std::string Input;
    std::string Muxer;
    std::vector<TPacketRun> Runs; // in order
    int64_t LastDuration = -1;    // >= 0: the last packet's duration (ends the cut at a mark)

private:
    bool CopyPackets(TPacketInput& in, AVFormatContext* out, std::string& error);
};

// Delete for WMA (ASF) and M4A; `kind` names the format in reasons.
std::unique_ptr<TLosslessPlan> PlanPacketDelete(const std::string& input, TPacketInput& in, const char* kind,
                                                const std::string& muxer, int64_t startMs, int64_t endMs,
                                                TLosslessCheck& check);
// Select of the same (PacketCut.cpp).
std::unique_ptr<TPacketPlan> PlanPacketSelect(const std::string& input, TPacketInput& in,
                                              const std::string& muxer, int64_t startMs, int64_t endMs,
                                              TLosslessCheck& check);
