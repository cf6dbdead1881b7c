// Lossless Ogg Vorbis and Opus select: the codec headers (tags and pictures in them) and the
// audio packets from a little before the start mark to the end mark, laid out on new pages whose
// granule positions make a decoder play exactly the marked samples.
//
// Positions are counted in "stream" samples: the samples the packets add, from the stream's first
// audio packet on. Vorbis: a packet adds the overlap with the packet before, so copying starts
// one packet early (that packet adds nothing to the cut) and the first page's granule, smaller
// than the samples its packets add, trims the rest before the start mark. Opus: the decoder
// needs a preroll to settle, so copying starts 1 s early and the header's pre-skip drops it.
// Both: the last page's granule trims the end.
#include "LosslessFormats.h"
#include "LosslessTexts.h"
#include "MyUtils.h"
#include "OggCodecs.h"
#include "OggPages.h"
#include "OpusDelete.h"
#include "VorbisDelete.h"

#include <deque>

namespace {

// Opus: 1 s at 48 kHz. Measured with the ffmpeg command line and libopus: from a fresh decoder the
// samples of 20 and 60 ms frames become bit-identical to the input's after 0.5-0.65 s; the
// pre-skip that drops the preroll (16 bits) holds it with the longest packet (120 ms) on top.
constexpr int64_t kOpusPreroll = 48000;
constexpr size_t kRecentPackets = 600; // how far back the preroll may reach, in packets (2.5 ms ones)

// Where an audio packet lies: the stream samples [Begin, End) it adds.
struct TPacketPlace {
    int64_t Index = 0;
    int64_t Begin = 0, End = 0;
    int64_t StartPage = 0;
    int StartOrdinal = 0;
};

class TOggPlan : public TLosslessPlan {
public:
    bool Write(const std::string& output, std::string& error) override;

    std::string Input;
    TOggStream Stream;
    uint32_t Serial = 0;
    std::vector<std::vector<uint8_t>> Headers; // Opus: with the new pre-skip
    TPacketPlace First;                        // the first packet copied
    int64_t LastIndex = 0;                     // the last packet copied
    int64_t GranuleBase = 0;                   // stream samples before granule 0 of the cut
    int64_t EndGranule = 0;                    // the granule of the cut's last page
    int64_t HoldUntil = 0;                     // the first page runs up to this packet
};

class TOggPlanner {
public:
    TOggPlanner(TOggPlan& plan, TByteReader& reader) : FPlan(plan), FPackets(reader) {}
    TLosslessCheck Run(int64_t startMs, int64_t endMs);

private:
    TLosslessCheck ReadHeaders();
    bool NextAudio(TPacketPlace& place, TOggPacket& packet);
    TLosslessCheck FindStart(int64_t start, TPacketPlace& first);
    TLosslessCheck FindEnd(int64_t end, int64_t& last, int64_t& endSample);
    TLosslessCheck WalkProblem(const char* otherwise) const;

    TOggPlan& FPlan;
    TOggPacketReader FPackets;
    std::deque<TPacketPlace> FRecent; // the last packets walked, oldest first
    int64_t FAdded = 0;               // stream samples added so far
    int FPrevious = 0;
    int64_t FGranuleOffset = 0; // granule minus stream samples, from the first audio page
    bool FOffsetKnown = false;
    bool FStreamEnded = false;
    bool FPageEnded = false; // the last packet walked ends its page
    int64_t FStreamEnd = -1; // stream sample where the decoded audio ends, once known
};

TLosslessCheck TOggPlanner::ReadHeaders() {
    TOggPacket packet;
    TOggStream& stream = FPlan.Stream;
    for (int i = 0; i == 0 || i < stream.HeaderPackets; ++i) {
        if (!FPackets.Next(packet))
            return Verdict(TLosslessVerdict::Refused,
                           FPackets.Problem.empty() ? LosslessText::kOggHeaders : FPackets.Problem);
        if (i == 0 && !ReadOggIdentification(packet.Data.data(), packet.Data.size(), stream))
            return Verdict(TLosslessVerdict::NotAvailable, LosslessText::kOggCodec);
        if (i == 2 && !ReadVorbisSetup(packet.Data.data(), packet.Data.size(), stream))
            return Verdict(TLosslessVerdict::Refused, LosslessText::kOggHeaders);
        FPlan.Headers.push_back(packet.Data);
    }
    FPlan.Serial = FPackets.Serial;
    return Verdict(TLosslessVerdict::Possible, "");
}

// The next audio packet and its place; learns the granule offset from the first page that
// completes a packet, and the end of the stream from its last page.
bool TOggPlanner::NextAudio(TPacketPlace& place, TOggPacket& packet) {
    if (FStreamEnded || !FPackets.Next(packet)) {
        FStreamEnded = true;
        if (FStreamEnd < 0) FStreamEnd = FAdded;
        return false;
    }
    int64_t samples = OggPacketSamples(FPlan.Stream, packet.Data.data(), packet.Data.size(), FPrevious);
    place.Index = packet.Index;
    place.Begin = FAdded;
    place.End = FAdded + std::max<int64_t>(samples, 0);
    place.StartPage = packet.StartPage;
    place.StartOrdinal = packet.StartOrdinal;
    FAdded = place.End;
    FPageEnded = packet.Granule >= 0;
    if (packet.Granule >= 0 && !FOffsetKnown) {
        FGranuleOffset = packet.Granule - place.End;
        FOffsetKnown = true;
    }
    if (packet.LastOnEos) {
        FStreamEnded = true;
        FStreamEnd = std::min(place.End, packet.Granule - FGranuleOffset);
        TOggPacket after; // lets the reader see whether another stream follows
        FPackets.Next(after);
    }
    FRecent.push_back(place);
    if (FRecent.size() > kRecentPackets) FRecent.pop_front();
    return true;
}

// Why the walk stopped: a stream it cannot copy, a damaged page, or `otherwise`.
TLosslessCheck TOggPlanner::WalkProblem(const char* otherwise) const {
    if (FPackets.Problem.empty()) return Verdict(TLosslessVerdict::NotAvailable, otherwise);
    bool other = FPackets.Problem == LosslessText::kOggMultiplexed;
    return Verdict(other ? TLosslessVerdict::NotAvailable : TLosslessVerdict::Refused, FPackets.Problem);
}

// The first packet to copy for a cut from stream sample `start`.
TLosslessCheck TOggPlanner::FindStart(int64_t start, TPacketPlace& first) {
    TOggPacket packet;
    TPacketPlace place;
    while (FRecent.empty() || FRecent.back().End <= start)
        if (!NextAudio(place, packet)) return WalkProblem(LosslessText::kBeyondEnd);
    int64_t from = FPlan.Stream.Codec == TOggCodec::Opus ? start - kOpusPreroll : start;
    // Vorbis: the packet before the one holding the start; Opus: the last one beginning at least
    // the preroll before the start, or the stream's first.
    size_t i = FRecent.size() - 1;
    while (i > 0 && FRecent[i - 1].End > start)
        --i;
    FPlan.HoldUntil = FRecent[i].Index;
    if (FPlan.Stream.Codec == TOggCodec::Vorbis) {
        if (i == 0) return Verdict(TLosslessVerdict::NotAvailable, LosslessText::kOggHeaders);
        --i;
    } else {
        while (i > 0 && FRecent[i].Begin > from)
            --i;
        if (FRecent[i].Begin > from && FRecent[i].Begin != 0)
            return Verdict(TLosslessVerdict::NotAvailable, LosslessText::kOggPrerollTooLong);
    }
    first = FRecent[i];
    return Verdict(TLosslessVerdict::Possible, "");
}

// The last packet to copy for a cut ending at stream sample `end` (lowered to the stream's end).
TLosslessCheck TOggPlanner::FindEnd(int64_t end, int64_t& last, int64_t& endSample) {
    TOggPacket packet;
    TPacketPlace place;
    while (FRecent.back().End < end && NextAudio(place, packet)) {
    }
    // A stream chained after this one matters only when the cut reaches into it.
    bool chainedBeyond =
        FPackets.Problem == LosslessText::kOggMultiplexed && FStreamEnded && end <= FStreamEnd;
    if (!FPackets.Problem.empty() && !chainedBeyond) return WalkProblem("");
    // The end trim of the stream's last page also ends the cut.
    TPacketPlace lastPlace = FRecent.back();
    while (!FStreamEnded && !FPageEnded && NextAudio(place, packet)) {
    }
    endSample = end;
    if (FStreamEnded && FStreamEnd >= 0) endSample = std::min(end, FStreamEnd);
    last = lastPlace.Index;
    for (const TPacketPlace& p : FRecent)
        if (p.Index <= lastPlace.Index && p.End >= endSample) {
            last = p.Index;
            break;
        }
    return Verdict(TLosslessVerdict::Possible, "");
}

TLosslessCheck TOggPlanner::Run(int64_t startMs, int64_t endMs) {
    TLosslessCheck check = ReadHeaders();
    if (check.Verdict != TLosslessVerdict::Possible) return check;
    const TOggStream& stream = FPlan.Stream;
    // The decoded audio begins at stream sample `origin`: after the pre-skip (Opus), or after
    // what a first page's granule trims (Vorbis).
    TOggPacket packet;
    TPacketPlace place;
    while (!FOffsetKnown && NextAudio(place, packet)) {
    }
    if (!FOffsetKnown) return WalkProblem(LosslessText::kBeyondEnd);
    int64_t origin = stream.Codec == TOggCodec::Opus ? stream.PreSkip : std::max<int64_t>(0, -FGranuleOffset);
    int64_t start = MarkToSamples(startMs, stream.SampleRate) + origin;
    int64_t end = MarkToSamples(endMs, stream.SampleRate) + origin;

    TPacketPlace first;
    check = FindStart(start, first);
    if (check.Verdict != TLosslessVerdict::Possible) return check;
    int64_t last = 0, endSample = 0;
    check = FindEnd(end, last, endSample);
    if (check.Verdict != TLosslessVerdict::Possible) return check;
    if (endSample <= start) return Verdict(TLosslessVerdict::NotAvailable, LosslessText::kBeyondEnd);

    FPlan.First = first;
    FPlan.LastIndex = last;
    if (stream.Codec == TOggCodec::Opus) {
        int64_t preSkip = start - first.Begin;
        if (preSkip > 0xFFFF)
            return Verdict(TLosslessVerdict::NotAvailable, LosslessText::kOggPrerollTooLong);
        FPlan.Headers[0][10] = uint8_t(preSkip);
        FPlan.Headers[0][11] = uint8_t(preSkip >> 8);
        FPlan.GranuleBase = first.Begin;
    } else {
        FPlan.GranuleBase = start;
    }
    FPlan.EndGranule = endSample - FPlan.GranuleBase;
    return check;
}

bool TOggPlan::Write(const std::string& output, std::string& error) {
    TByteReader in;
    TByteWriter out;
    if (!in.Open(Input, error) || !out.Open(output, error)) return false;
    TOggPageWriter pages(out, Serial);
    pages.Headers(Headers);
    TOggPacketReader packets(in);
    packets.Start(First.StartPage, First.StartOrdinal, First.Index);
    TOggPacket packet;
    // The first packet copied adds no samples to a Vorbis stream: it only overlaps the next.
    int previous = 0;
    int64_t granule = (Stream.Codec == TOggCodec::Vorbis ? First.End : First.Begin) - GranuleBase;
    pages.Hold = true;
    bool complete = false;
    while (packets.Next(packet)) {
        int64_t samples = OggPacketSamples(Stream, packet.Data.data(), packet.Data.size(), previous);
        granule += std::max<int64_t>(samples, 0);
        complete = packet.Index == LastIndex;
        pages.Packet(packet.Data.data(), packet.Data.size(), complete ? EndGranule : granule);
        if (packet.Index == HoldUntil) {
            pages.Hold = false;
            if (!complete) pages.Flush(); // the first page ends with the packet holding the start
        }
        if (complete) break;
    }
    return FinishOggCopy(pages, out, packets, complete, error);
}

} // namespace

std::unique_ptr<TLosslessPlan> PlanOggCut(const std::string& input, TLosslessMode mode, int64_t startMs,
                                          int64_t endMs, TLosslessCheck& check) {
    if (mode == TLosslessMode::Delete && OggHoldsOpus(input))
        return PlanOpusDelete(input, startMs, endMs, check);
    if (mode == TLosslessMode::Delete) return PlanVorbisDelete(input, startMs, endMs, check);
    auto plan = std::make_unique<TOggPlan>();
    plan->Input = input;
    TByteReader reader;
    if (!OpenForPlan(reader, input, check)) return nullptr;
    TOggPlanner planner(*plan, reader);
    check = planner.Run(startMs, endMs);
    if (check.Verdict != TLosslessVerdict::Possible) return nullptr;
    return plan;
}
