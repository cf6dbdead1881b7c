// Lossless Ogg Opus delete: the packets before and after the deleted stretch are copied, and
// the packets around the seam are replaced by a bridge re-encoded from the decoded samples.
//
// Positions are stream samples as in OggCut.cpp (48 kHz, from the first audio packet on, the
// pre-skip included). The copied packets keep their sizes and Opus frames come in 2.5 ms steps,
// so the stretch removed is a multiple of 120 samples: the end mark moves by at most 1.25 ms and
// the check says by how much. The bridge is made of frames of the input's size (at most 20 ms),
// with shorter ones last where its length needs them. The copied packets after it expect the
// decoder state their own predecessors left; after the bridge's they decode slightly differently
// until the decoder has settled again (measured: about half a second, 56 dB SNR from 100 ms on).
#include "OpusDelete.h"

#include "LosslessTexts.h"
#include "MyUtils.h"
#include "OggCodecs.h"
#include "OggPages.h"
#include "OpusBridge.h"

#include <algorithm>
#include <map>

namespace {

constexpr int64_t kStep = 120;                  // the shortest Opus frame
constexpr int64_t kLeadIn = 1920;               // the bridge begins at least 40 ms before the seam
constexpr int64_t kLeadOut = 1920;              // and ends at least 40 ms after it
constexpr int64_t kDecodePreroll = 48000;       // packets decoded before the samples needed: the decoder
                                                // settles to the input's own samples within 1 s
constexpr int64_t kEncoderReach = 12000;        // the bridge encoder's warm-up and lookahead
constexpr int64_t kFarEndMs = int64_t(1) << 40; // an end mark beyond every file
constexpr int64_t kKeep = kDecodePreroll + kEncoderReach + kLeadIn + 5760; // packets kept near the seam

TLosslessCheck SeamProblem(const std::string& why) {
    return Verdict(TLosslessVerdict::NotAvailable, Format(LosslessText::kOpusSeam, why.c_str()));
}

struct TKeptPacket {
    int64_t Begin = 0, End = 0;
    std::vector<uint8_t> Data;
};

class TOpusDeletePlan : public TLosslessPlan {
public:
    bool Write(const std::string& output, std::string& error) override;

    std::string Input;
    uint32_t Serial = 0;
    TOggStream Stream;
    std::vector<std::vector<uint8_t>> Headers;
    int64_t BridgeFrom = 0; // the first packet the bridge replaces
    int64_t ResumeAt = -1;  // the first packet copied after it; -1: the bridge ends the stream
    int64_t LastIndex = 0;  // the input's last packet
    TOpusPackets Bridge;
    int64_t BridgeBegin = 0; // stream sample where the bridge begins
    int64_t Removed = 0;     // stream samples
    int64_t GranuleOffset = 0;
    int64_t EndGranule = 0; // of the last page
};

class TOpusDeleter {
public:
    TOpusDeleter(TOpusDeletePlan& plan, TByteReader& reader) : FPlan(plan), FPackets(reader) {}
    // Reads the headers and walks the stream, keeping the packets near the marks (samples of the
    // decoded audio, before the pre-skip is added).
    TLosslessCheck Walk(int64_t start, int64_t end);
    // Plans the delete of stream samples [start, end), end within the stream.
    TLosslessCheck Run(int64_t start, int64_t end);

    int64_t StreamEnd = 0; // stream sample where the decoded audio ends
    int PreSkip() const { return FPlan.Stream.PreSkip; }

private:
    TLosslessCheck ReadHeaders();
    TLosslessCheck WalkProblem() const;
    bool Decode(int64_t from, int64_t to, TPcmBlock& pcm, int64_t& first, std::string& error) const;
    bool BuildSource(int64_t from, int64_t to, int64_t seam, TOpusSource& source, std::string& error) const;
    int BridgeBitRate() const;
    TLosslessCheck BuildBridge(int64_t seam, int64_t length);

    TOpusDeletePlan& FPlan;
    TOggPacketReader FPackets;
    std::map<int64_t, TKeptPacket> FKept; // by packet index
};

TLosslessCheck TOpusDeleter::ReadHeaders() {
    TOggPacket packet;
    for (int i = 0; i < 2; ++i) {
        if (!FPackets.Next(packet))
            return Verdict(TLosslessVerdict::Refused,
                           FPackets.Problem.empty() ? LosslessText::kOggHeaders : FPackets.Problem);
        if (i == 0 && (!ReadOggIdentification(packet.Data.data(), packet.Data.size(), FPlan.Stream) ||
                       FPlan.Stream.Codec != TOggCodec::Opus))
            return Verdict(TLosslessVerdict::NotAvailable, LosslessText::kOggCodec);
        FPlan.Headers.push_back(packet.Data);
    }
    FPlan.Serial = FPackets.Serial;
    return Verdict(TLosslessVerdict::Possible, "");
}

TLosslessCheck TOpusDeleter::WalkProblem() const {
    bool other = FPackets.Problem == LosslessText::kOggMultiplexed;
    return Verdict(other ? TLosslessVerdict::NotAvailable : TLosslessVerdict::Refused, FPackets.Problem);
}

TLosslessCheck TOpusDeleter::Walk(int64_t start, int64_t end) {
    TLosslessCheck check = ReadHeaders();
    if (check.Verdict != TLosslessVerdict::Possible) return check;
    start += PreSkip();
    end += PreSkip();
    TOggPacket packet;
    int64_t added = 0;
    bool offsetKnown = false;
    int previous = 0;
    StreamEnd = -1;
    while (FPackets.Next(packet)) {
        int64_t samples = OggPacketSamples(FPlan.Stream, packet.Data.data(), packet.Data.size(), previous);
        int64_t begin = added;
        added += std::max<int64_t>(samples, 0);
        FPlan.LastIndex = packet.Index;
        if (packet.Granule >= 0 && !offsetKnown) {
            FPlan.GranuleOffset = packet.Granule - added;
            offsetKnown = true;
        }
        bool near =
            (added > start - kKeep && begin < start + kKeep) || (added > end - kKeep && begin < end + kKeep);
        if (near) FKept[packet.Index] = TKeptPacket{begin, added, std::move(packet.Data)};
        if (packet.LastOnEos) {
            StreamEnd = std::min(added, packet.Granule - FPlan.GranuleOffset);
            TOggPacket after; // lets the reader see whether another stream follows
            FPackets.Next(after);
            break;
        }
    }
    if (!FPackets.Problem.empty()) return WalkProblem();
    if (StreamEnd < 0) StreamEnd = added;
    if (!offsetKnown) return Verdict(TLosslessVerdict::NotAvailable, LosslessText::kBeyondEnd);
    return Verdict(TLosslessVerdict::Possible, "");
}

// Decodes the input's stream samples [from, to) (clipped to the stream), starting the decoder
// early enough to give the input's own samples; `first` gets the stream sample of pcm's first.
bool TOpusDeleter::Decode(int64_t from, int64_t to, TPcmBlock& pcm, int64_t& first,
                          std::string& error) const {
    TOpusPackets packets;
    first = -1;
    int64_t next = 0;
    for (const auto& [index, kept] : FKept) {
        if (kept.End <= from - kDecodePreroll || kept.Begin >= to) continue;
        if (first >= 0 && kept.Begin != next) {
            error = "the packets at the seam are missing";
            return false;
        }
        if (first < 0) first = kept.Begin;
        next = kept.End;
        packets.push_back(kept.Data);
    }
    if (first < 0) {
        first = from;
        pcm = TPcmBlock();
        return true;
    }
    return DecodeOpusPackets(FPlan.Headers[0], packets, pcm, error);
}

// The samples of the output around the seam, positions [from, to): the input before `seam`,
// the input `Removed` samples later from it on.
bool TOpusDeleter::BuildSource(int64_t from, int64_t to, int64_t seam, TOpusSource& source,
                               std::string& error) const {
    TPcmBlock before, after;
    int64_t beforeFirst = 0, afterFirst = 0;
    int64_t removed = FPlan.Removed;
    if (!Decode(from, seam, before, beforeFirst, error) ||
        !Decode(seam + removed, std::min(to + removed, StreamEnd), after, afterFirst, error))
        return false;
    int channels = FPlan.Headers[0][9];
    source.First = from;
    source.Pcm.Channels = channels;
    source.Pcm.Samples.assign(size_t((to - from) * channels), 0.0f);
    for (int64_t y = from; y < to; ++y) {
        bool early = y < seam;
        const TPcmBlock& block = early ? before : after;
        int64_t at = early ? y - beforeFirst : y + removed - afterFirst;
        if (!early && y + removed >= StreamEnd) break;
        if (at < 0 || at >= block.Frames() || block.Channels != channels) continue;
        std::copy_n(&block.Samples[size_t(at * channels)], channels,
                    &source.Pcm.Samples[size_t((y - from) * channels)]);
    }
    return true;
}

// The rate of the packets near the seam, within the encoder's range; for CELT streams half as
// much again (the encoder tends to spend less than it is asked for; measured, the bridge gains
// 1-6 dB of SNR). SILK and hybrid streams keep their rate, which keeps the encoder in their mode:
// a bridge of another mode costs 3-5 dB. The bridge is a few packets long, so the file hardly grows.
int TOpusDeleter::BridgeBitRate() const {
    int64_t bytes = 0, samples = 0;
    bool celt = true;
    for (const auto& [index, kept] : FKept) {
        bytes += int64_t(kept.Data.size());
        samples += kept.End - kept.Begin;
        if (!kept.Data.empty() && (kept.Data[0] >> 3) < 16) celt = false;
    }
    int channels = FPlan.Headers[0][9];
    int64_t rate = samples > 0 ? bytes * 8 * 48000 / samples : 96000 * channels;
    if (celt) rate = rate * 3 / 2;
    return int(std::clamp<int64_t>(rate, 12000 * channels, 256000 * channels));
}

// Encodes the bridge: output positions [FPlan.BridgeBegin, + length), or at least that far when
// the bridge ends the stream (the last page's granule trims it).
TLosslessCheck TOpusDeleter::BuildBridge(int64_t seam, int64_t length) {
    int64_t at = FPlan.BridgeBegin;
    TOpusSource source;
    std::string error;
    if (!BuildSource(at - kEncoderReach, at + length + kEncoderReach, seam, source, error))
        return SeamProblem(error);
    int bitRate = BridgeBitRate();
    // The frame size of the packets the bridge joins, up to 20 ms: what follows the bridge decodes
    // closest to the input when its decoder state comes from frames of its own kind.
    int frame = 960;
    for (const auto& [index, kept] : FKept)
        if (index == FPlan.BridgeFrom || index + 1 == FPlan.ResumeAt)
            frame = std::min(frame, kept.Data.empty() ? frame : OpusFrameSamples(kept.Data[0]));
    // Shorter frames close the bridge, where the length needs them: measured, a bridge frame of
    // another size than the input's right after the input's frames costs 10-20 dB of SNR there.
    if (FPlan.ResumeAt < 0) length = (length + frame - 1) / frame * frame;
    int64_t rest = length % frame;
    const std::pair<int, int64_t> order[] = {// frame size, count
                                             {frame, length / frame},
                                             {480, rest / 480},
                                             {240, rest % 480 / 240},
                                             {120, rest % 240 / 120}};
    for (auto [size, count] : order) {
        if (count == 0) continue;
        TOpusPackets packets;
        if (!EncodeOpusFrames(FPlan.Headers[0], source, at, size, int(count), bitRate, packets, error))
            return SeamProblem(error);
        for (const std::vector<uint8_t>& p : packets) {
            int unused = 0;
            if (OggPacketSamples(FPlan.Stream, p.data(), p.size(), unused) != size)
                return SeamProblem("the Opus encoder gave unexpected packets");
            FPlan.Bridge.push_back(p);
        }
        at += int64_t(size) * count;
    }
    return Verdict(TLosslessVerdict::Possible, "");
}

TLosslessCheck TOpusDeleter::Run(int64_t start, int64_t end) {
    FPlan.Removed = std::max(kStep, (end - start + kStep / 2) / kStep * kStep);
    int64_t removed = FPlan.Removed;
    // The bridge replaces the packets from the last one beginning at least kLeadIn before the
    // seam up to the first one beginning at least kLeadOut after it in the output.
    const TKeptPacket* from = nullptr;
    for (const auto& [index, kept] : FKept) {
        if (kept.Begin <= std::max<int64_t>(0, start - kLeadIn)) {
            from = &kept;
            FPlan.BridgeFrom = index;
        }
        if (kept.Begin >= start + removed + kLeadOut && FPlan.ResumeAt < 0) FPlan.ResumeAt = index;
    }
    if (!from) return SeamProblem("the packets at the seam are missing");
    FPlan.BridgeBegin = from->Begin;
    int64_t length = 0;
    if (FPlan.ResumeAt >= 0) {
        length = FKept[FPlan.ResumeAt].Begin - removed - FPlan.BridgeBegin;
    } else {
        if (StreamEnd > start + removed + kLeadOut + 5760)
            return SeamProblem("the packets at the seam are missing");
        length = StreamEnd - removed - FPlan.BridgeBegin;
    }
    TLosslessCheck check = BuildBridge(start, length);
    if (check.Verdict != TLosslessVerdict::Possible) return check;
    FPlan.EndGranule = StreamEnd - removed + FPlan.GranuleOffset;
    check.SampleExact = removed == end - start;
    check.EndOffsetMs = double(start + removed - end) * 1000.0 / 48000.0;
    return check;
}

bool TOpusDeletePlan::Write(const std::string& output, std::string& error) {
    TByteReader in;
    TByteWriter out;
    if (!in.Open(Input, error) || !out.Open(output, error)) return false;
    TOggPageWriter pages(out, Serial);
    pages.Headers(Headers);
    TOggPacketReader packets(in);
    TOggPacket packet;
    int64_t added = 0;
    int previous = 0;
    bool complete = false;
    while (!complete && packets.Next(packet)) {
        if (packet.Index < int64_t(Headers.size())) continue;
        added +=
            std::max<int64_t>(OggPacketSamples(Stream, packet.Data.data(), packet.Data.size(), previous), 0);
        if (packet.Index < BridgeFrom) {
            pages.Packet(packet.Data.data(), packet.Data.size(), added + GranuleOffset);
        } else if (packet.Index == BridgeFrom) {
            int64_t at = BridgeBegin;
            for (size_t i = 0; i < Bridge.size(); ++i) {
                at += OggPacketSamples(Stream, Bridge[i].data(), Bridge[i].size(), previous);
                bool last = ResumeAt < 0 && i + 1 == Bridge.size();
                pages.Packet(Bridge[i].data(), Bridge[i].size(), last ? EndGranule : at + GranuleOffset);
            }
            complete = ResumeAt < 0;
        } else if (packet.Index >= ResumeAt) {
            complete = packet.Index == LastIndex;
            pages.Packet(packet.Data.data(), packet.Data.size(),
                         complete ? EndGranule : added - Removed + GranuleOffset);
        }
    }
    return FinishOggCopy(pages, out, packets, complete, error);
}

} // namespace

bool OggHoldsOpus(const std::string& input) {
    TByteReader reader;
    std::string error;
    if (!reader.Open(input, error)) return false;
    TOggPacketReader packets(reader);
    TOggPacket packet;
    TOggStream stream;
    return packets.Next(packet) && ReadOggIdentification(packet.Data.data(), packet.Data.size(), stream) &&
           stream.Codec == TOggCodec::Opus;
}

std::unique_ptr<TLosslessPlan> PlanOpusDelete(const std::string& input, int64_t startMs, int64_t endMs,
                                              TLosslessCheck& check) {
    auto plan = std::make_unique<TOpusDeletePlan>();
    plan->Input = input;
    TByteReader reader;
    if (!OpenForPlan(reader, input, check)) return nullptr;
    TOpusDeleter deleter(*plan, reader);
    int64_t start = MarkToSamples(startMs, 48000),
            end = MarkToSamples(std::min<int64_t>(endMs, kFarEndMs), 48000);
    check = deleter.Walk(start, end);
    if (check.Verdict != TLosslessVerdict::Possible) return nullptr;
    start += deleter.PreSkip();
    end = std::min(end + deleter.PreSkip(), deleter.StreamEnd);
    if (start >= end) {
        check = Verdict(TLosslessVerdict::NotAvailable, LosslessText::kBeyondEnd);
        return nullptr;
    }
    // A delete that keeps one side is a select of it, exact to the sample.
    if (startMs <= 0) return PlanOggCut(input, TLosslessMode::Select, endMs, INT64_MAX / 1000000, check);
    if (end >= deleter.StreamEnd) return PlanOggCut(input, TLosslessMode::Select, 0, startMs, check);
    check = deleter.Run(start, end);
    if (check.Verdict != TLosslessVerdict::Possible) return nullptr;
    return plan;
}
