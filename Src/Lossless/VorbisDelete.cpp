// Lossless Ogg Vorbis delete: the packets before and after the deleted stretch are copied, and a
// short bridge around the seam is re-encoded from the decoded samples by an encoder whose setup
// header is the stream's own, so that its packets decode with the copied headers.
//
// Positions are stream samples as in OggCut.cpp; a packet's block is centred where the samples
// it adds end (its End). Decoding the packets up to A's last one (a_k) gives the input's samples
// up to that centre; B's packets, from the one after b_p on, give the input's samples from their
// first centre on. The bridge fills the stretch in between: its first packet overlaps a_k, its
// last one is centred where b_p was (shifted by the stretch removed) and overlaps B's first.
// Each long block carries whether its neighbours are long, so both joins lie between long
// blocks on both sides, and the bridge packets are taken from an encoding whose block centres
// fall on a_k's and b_p's. Centres step by a half long block between long blocks (less around
// short ones), so the stretch removed is rounded to what the blocks of the encoding and of the
// input allow: the end mark moves by about a quarter of a long block at most (11.6 ms at 44.1 kHz
// with 2048-sample blocks; further when the encoder's blocks at the seam move with the removal),
// and the check says by how much. The encoder's block choices at the seam depend on the samples
// it is given, so a removal is encoded, checked and, if the centres do not fall right, retried.
// An end mark within the last blocks has no b_p: the bridge then runs to the end of the audio and
// the last page's granule trims it, exact to the sample.
#include "VorbisDelete.h"

#include "ByteFile.h"
#include "LosslessTexts.h"
#include "MyUtils.h"
#include "OggCodecs.h"
#include "OggPages.h"
#include "VorbisBridge.h"

#include <set>

namespace {

constexpr int kWarmUpBlocks = 4; // long blocks the encoder runs before the bridge (it settles)
constexpr int kTailBlocks = 4;   // and after it (away from the end of its input)
constexpr int kReachBlocks = 24; // long blocks around each mark whose packets are remembered
constexpr int kJoinBlocks = 3;   // how far from its mark a join may lie, in long blocks
constexpr int kAttempts = 16;    // encodings tried to align the bridge with the copied packets

struct TVorbisPlace {
    int64_t Index = 0;
    int64_t End = 0; // the block's centre
    int Block = 0;
    int64_t StartPage = 0;
    int StartOrdinal = 0;
};

class TVorbisDeletePlan : public TLosslessPlan {
public:
    bool Write(const std::string& output, std::string& error) override;

    std::string Input;
    TOggStream Stream;
    uint32_t Serial = 0;
    TVorbisPackets Headers;
    int64_t GranuleOffset = 0; // granule minus stream samples
    int64_t FirstPageLast = 0; // the last packet of the first audio page
    int64_t LastA = 0;         // the last packet copied before the bridge
    TVorbisPlace FirstB;       // the first packet copied after it (Index -1: the bridge ends the stream)
    int64_t LastIndex = 0;     // the stream's last packet
    int64_t EndGranule = 0;    // the granule of the last page
    TVorbisPackets Bridge;
};

// An encoding of the desired samples from stream sample T0 on, for a removal of `Removed`
// samples, a_k = FNear[A] and b_p = FNear[B]; Ia and Ib (once aligned) are its packets centred on a_k and
// b_p.
struct TBridgeTry {
    int64_t T0 = 0;
    int64_t Removed = 0;
    size_t A = 0, B = 0;
    bool Tail = false; // no b_p: the bridge runs to the end of the audio, its last page trims there
    TVorbisPackets Packets;
    std::vector<int64_t> Centres; // of each packet, in the encoder's samples
    std::vector<int> Blocks;
    size_t Ia = 0, Ib = 0;
};

class TVorbisDeleter {
public:
    TVorbisDeleter(TVorbisDeletePlan& plan, TByteReader& reader)
        : FPlan(plan), FReader(reader), FPackets(reader) {}
    // Reads the headers and walks the stream; marks in ms of the decoded audio.
    TLosslessCheck Walk(int64_t startMs, int64_t endMs);
    // Plans the copy with the bridge; after Walk().
    TLosslessCheck Bridge();

    int64_t Origin = 0;         // stream sample where the decoded audio begins
    int64_t Start = 0, End = 0; // the marks in stream samples (End lowered to the stream's end)
    int64_t StreamEnd = 0;

private:
    TLosslessCheck ReadHeaders();
    void Remember(const TVorbisPlace& place);
    bool LongPair(size_t i) const;
    bool FindJoins(std::vector<size_t>& starts, std::vector<size_t>& ends) const;
    bool Desired(int64_t from, int64_t count, int64_t removed, TPcmBlock& pcm, std::string& error);
    bool DecodeStretch(int64_t from, int64_t to, TPcmBlock& pcm, int64_t& first, std::string& error);
    bool EncodeTry(TBridgeTry& t, std::string& error);
    bool LongPair(const TBridgeTry& t, size_t i) const;
    bool AlignStart(TBridgeTry& t, const std::vector<size_t>& starts) const;
    bool AlignEnd(TBridgeTry& t, const std::vector<size_t>& ends, const std::set<int64_t>& tried,
                  TBridgeTry& next) const;
    bool FindBridge(const std::vector<size_t>& starts, const std::vector<size_t>& ends, TBridgeTry& best,
                    std::string& error);
    int Long() const { return FPlan.Stream.BlockSizes[1]; }
    // An encoder start moved by long blocks into the stream: silence before it would be an
    // onset whose short blocks set the encoder's block grid whatever the start.
    int64_t NotBeforeTheStream(int64_t t0) const {
        return t0 >= 0 ? t0 : t0 + (-t0 + Long() - 1) / Long() * Long();
    }

    TVorbisDeletePlan& FPlan;
    TByteReader& FReader;
    TOggPacketReader FPackets;
    TVorbisBridgeEncoder FEncoder;
    std::vector<TVorbisPlace> FRecent; // before the marks are known
    std::vector<TVorbisPlace> FNear;   // packets around the marks, in stream order
    bool FMarksKnown = false;
};

TLosslessCheck TVorbisDeleter::ReadHeaders() {
    TOggPacket packet;
    TOggStream& stream = FPlan.Stream;
    for (int i = 0; i == 0 || i < stream.HeaderPackets; ++i) {
        if (!FPackets.Next(packet))
            return Verdict(TLosslessVerdict::Refused,
                           FPackets.Problem.empty() ? LosslessText::kOggHeaders : FPackets.Problem);
        if (i == 0 && !ReadOggIdentification(packet.Data.data(), packet.Data.size(), stream))
            return Verdict(TLosslessVerdict::NotAvailable, LosslessText::kOggCodec);
        if (i == 0 && stream.Codec != TOggCodec::Vorbis)
            return Verdict(TLosslessVerdict::NotAvailable, Format(LosslessText::kNoDeletePath, "Opus"));
        if (i == 2 && !ReadVorbisSetup(packet.Data.data(), packet.Data.size(), stream))
            return Verdict(TLosslessVerdict::Refused, LosslessText::kOggHeaders);
        FPlan.Headers.push_back(packet.Data);
    }
    FPlan.Serial = FPackets.Serial;
    return Verdict(TLosslessVerdict::Possible, "");
}

// Keeps the packets near either mark (once the first page has told where the audio begins).
void TVorbisDeleter::Remember(const TVorbisPlace& place) {
    int64_t reach = int64_t(kReachBlocks) * Long();
    auto near = [&](const TVorbisPlace& p) {
        return (p.End >= Start - reach && p.End <= Start + reach) ||
               (p.End >= End - reach && p.End <= End + reach);
    };
    if (!FMarksKnown) { // the packets of the first audio page: at most 255
        FRecent.push_back(place);
        return;
    }
    for (const TVorbisPlace& p : FRecent)
        if (near(p)) FNear.push_back(p);
    FRecent.clear();
    if (near(place)) FNear.push_back(place);
}

TLosslessCheck TVorbisDeleter::Walk(int64_t startMs, int64_t endMs) {
    TLosslessCheck check = ReadHeaders();
    if (check.Verdict != TLosslessVerdict::Possible) return check;
    TOggPacket packet;
    int previous = 0;
    int64_t added = 0, lastGranule = -1;
    bool offsetKnown = false;
    while (FPackets.Next(packet)) {
        TVorbisPlace place{packet.Index, 0, 0, packet.StartPage, packet.StartOrdinal};
        added += std::max<int64_t>(
            0, OggPacketSamples(FPlan.Stream, packet.Data.data(), packet.Data.size(), previous));
        place.End = added;
        place.Block = previous;
        if (packet.Granule >= 0 && !offsetKnown) {
            FPlan.GranuleOffset = packet.Granule - added;
            FPlan.FirstPageLast = packet.Index;
            offsetKnown = true;
            Origin = std::max<int64_t>(0, -FPlan.GranuleOffset);
            Start = MarkToSamples(startMs, FPlan.Stream.SampleRate) + Origin;
            End = MarkToSamples(endMs, FPlan.Stream.SampleRate) + Origin;
            FMarksKnown = true;
        }
        if (packet.Granule >= 0) lastGranule = packet.Granule;
        FPlan.LastIndex = packet.Index;
        Remember(place);
        if (packet.LastOnEos) break;
    }
    TOggPacket after; // lets the reader see whether another stream is chained after this one
    if (FPackets.Problem.empty() && packet.LastOnEos) FPackets.Next(after);
    // A damaged page is refused; the streams after this one would be lost: left to re-encoding.
    if (!FPackets.Problem.empty()) {
        bool other = FPackets.Problem == LosslessText::kOggMultiplexed;
        return Verdict(other ? TLosslessVerdict::NotAvailable : TLosslessVerdict::Refused, FPackets.Problem);
    }
    if (!offsetKnown) return Verdict(TLosslessVerdict::NotAvailable, LosslessText::kBeyondEnd);
    StreamEnd = std::min(added, lastGranule - FPlan.GranuleOffset);
    End = std::min(End, StreamEnd);
    if (Start >= End) return Verdict(TLosslessVerdict::NotAvailable, LosslessText::kBeyondEnd);
    return check;
}

// Whether FNear[i] and the packet after it are long blocks (a long block's window then ends on
// a long slope).
bool TVorbisDeleter::LongPair(size_t i) const {
    return i + 1 < FNear.size() && FNear[i].Block == Long() && FNear[i + 1].Block == Long() &&
           FNear[i + 1].Index == FNear[i].Index + 1;
}

// The a_k that may begin the bridge: long pairs whose block ends before the start mark (the
// right half overlaps the bridge, so it must hold kept samples only), the latest first; the b_p
// that may end it: long pairs centred at or after the end mark (within the audio, a packet after
// them to copy), the earliest first. Both within kJoinBlocks of the mark.
// A first page that trims the beginning is copied whole: decoders trim only the samples of its
// last packet.
bool TVorbisDeleter::FindJoins(std::vector<size_t>& starts, std::vector<size_t>& ends) const {
    int64_t reach = int64_t(kJoinBlocks) * Long();
    int64_t firstA = FPlan.GranuleOffset < 0 ? FPlan.FirstPageLast : 0;
    starts.clear();
    ends.clear();
    for (size_t i = FNear.size(); i-- > 0;)
        if (FNear[i].End + Long() / 2 <= Start && FNear[i].End >= Start - reach && FNear[i].Index >= firstA &&
            LongPair(i))
            starts.push_back(i);
    for (size_t i = 0; i < FNear.size(); ++i)
        if (FNear[i].End >= End && FNear[i].End <= End + reach && FNear[i].End < StreamEnd && LongPair(i) &&
            !starts.empty() && FNear[i].Index > FNear[starts.front()].Index)
            ends.push_back(i);
    return !starts.empty();
}

// Decodes the input's stream samples [from, to) (clipped to the stream) into `pcm`, whose first
// frame is stream sample `first`.
bool TVorbisDeleter::DecodeStretch(int64_t from, int64_t to, TPcmBlock& pcm, int64_t& first,
                                   std::string& error) {
    size_t i0 = 0, i1 = FNear.size();
    for (size_t i = 0; i < FNear.size(); ++i) {
        if (FNear[i].End <= from) i0 = i;
        if (i1 == FNear.size() && FNear[i].End >= to) i1 = i;
    }
    if (i1 == FNear.size()) i1 = FNear.size() - 1;
    // Silence stands only for what lies outside the stream.
    bool found = (FNear[i0].End <= from || FNear[i0].Index == int64_t(FPlan.Headers.size())) &&
                 (FNear[i1].End >= to || FNear[i1].Index == FPlan.LastIndex);
    for (size_t i = i0; i < i1; ++i)
        found = found && FNear[i + 1].Index == FNear[i].Index + 1;
    if (!found) {
        error = "a packet near the seam was not found";
        return false;
    }
    TOggPacketReader packets(FReader);
    packets.Start(FNear[i0].StartPage, FNear[i0].StartOrdinal, FNear[i0].Index);
    TVorbisPackets data;
    TOggPacket packet;
    while (data.size() < i1 - i0 + 1 && packets.Next(packet))
        data.push_back(std::move(packet.Data));
    if (data.size() != i1 - i0 + 1 || !DecodeVorbisPackets(FPlan.Headers, data, pcm, error)) {
        if (error.empty())
            error = packets.Problem.empty() ? "a packet near the seam was not found" : packets.Problem;
        return false;
    }
    first = FNear[i0].End;
    if (pcm.Frames() != FNear[i1].End - first) {
        error = "a packet near the seam cannot be decoded";
        return false;
    }
    return true;
}

// The delete's output from stream sample `from` on, `count` frames: the input before the start
// mark, the input `removed` samples later after it; silence outside the stream.
bool TVorbisDeleter::Desired(int64_t from, int64_t count, int64_t removed, TPcmBlock& pcm,
                             std::string& error) {
    pcm.Channels = 0;
    TPcmBlock before, after;
    int64_t beforeFirst = 0, afterFirst = 0;
    if (!DecodeStretch(from, Start, before, beforeFirst, error) ||
        !DecodeStretch(Start + removed, from + count + removed, after, afterFirst, error))
        return false;
    pcm.Channels = before.Channels;
    pcm.Samples.assign(size_t(count * pcm.Channels), 0.0f);
    for (int64_t x = from; x < from + count; ++x) {
        const TPcmBlock& source = x < Start ? before : after;
        int64_t at = x < Start ? x - beforeFirst : x + removed - afterFirst;
        if (at < 0 || at >= source.Frames() || source.Channels != pcm.Channels) continue;
        std::copy_n(&source.Samples[size_t(at * pcm.Channels)], pcm.Channels,
                    &pcm.Samples[size_t((x - from) * pcm.Channels)]);
    }
    return true;
}

// Encodes the desired samples from t.T0 to a tail past b_p's centre after the removal, and works
// out the packets' block centres.
bool TVorbisDeleter::EncodeTry(TBridgeTry& t, std::string& error) {
    TPcmBlock pcm;
    int64_t count = t.Tail ? StreamEnd - t.Removed - t.T0
                           : FNear[t.B].End - t.Removed - t.T0 + int64_t(kTailBlocks) * Long();
    if (!Desired(t.T0, count, t.Removed, pcm, error)) return false;
    if (!FEncoder.Encode(pcm, t.Packets, error)) return false;
    t.Centres.clear();
    t.Blocks.clear();
    int previous = 0;
    int64_t centre = 0;
    for (const std::vector<uint8_t>& packet : t.Packets) {
        int64_t samples = OggPacketSamples(FPlan.Stream, packet.data(), packet.size(), previous);
        if (samples < 0) {
            error = "the bridge encoder gave unexpected packets";
            return false;
        }
        centre += samples;
        t.Centres.push_back(centre);
        t.Blocks.push_back(previous);
    }
    return true;
}

bool TVorbisDeleter::LongPair(const TBridgeTry& t, size_t i) const {
    return i + 1 < t.Blocks.size() && t.Blocks[i] == Long() && t.Blocks[i + 1] == Long() &&
           t.Centres[i] >= Long();
}

// Finds an encoded long pair centred on one of the a_k, the latest possible. When there is none,
// moves T0 so that the next encoding puts the nearest one there.
bool TVorbisDeleter::AlignStart(TBridgeTry& t, const std::vector<size_t>& starts) const {
    int64_t bestGap = -1, bestT0 = t.T0;
    for (size_t a : starts)
        for (size_t i = 0; i < t.Blocks.size(); ++i) {
            if (!LongPair(t, i)) continue;
            int64_t gap = std::abs(t.Centres[i] + t.T0 - FNear[a].End);
            if (gap == 0) {
                t.A = a;
                t.Ia = i;
                return true;
            }
            if (bestGap < 0 || gap < bestGap) {
                bestGap = gap;
                bestT0 = FNear[a].End - t.Centres[i];
            }
        }
    t.T0 = bestT0;
    return false;
}

// Whether an encoded long pair after Ia is centred on b_p after the removal (then Ib). `next`
// gets the b_p and removal, not tried yet, of the pair whose removal comes nearest the marked
// stretch (Removed 0 when none).
bool TVorbisDeleter::AlignEnd(TBridgeTry& t, const std::vector<size_t>& ends, const std::set<int64_t>& tried,
                              TBridgeTry& next) const {
    int64_t wanted = End - Start, bestGap = -1;
    bool aligned = false;
    for (size_t i = t.Ia + 1; i < t.Blocks.size(); ++i) {
        if (!LongPair(t, i)) continue;
        for (size_t b : ends) {
            int64_t removed = FNear[b].End - t.T0 - t.Centres[i];
            if (removed <= 0 || FNear[b].End - removed < Start) continue; // b_p's overlap after the seam
            if (b == t.B && removed == t.Removed) {
                t.Ib = i;
                aligned = true;
            }
            if (!tried.count(removed) && (bestGap < 0 || std::abs(removed - wanted) < bestGap)) {
                bestGap = std::abs(removed - wanted);
                next.B = b;
                next.Removed = removed;
            }
        }
    }
    return aligned;
}

// Encodes until the bridge's ends fall on a_k and a b_p, trying removals nearer the marked one
// while the encoder's blocks allow: the best aligned encoding lands in `best`.
bool TVorbisDeleter::FindBridge(const std::vector<size_t>& starts, const std::vector<size_t>& ends,
                                TBridgeTry& best, std::string& error) {
    int64_t wanted = End - Start;
    TBridgeTry t;
    t.T0 = NotBeforeTheStream(FNear[starts.back()].End - int64_t(kWarmUpBlocks) * Long()); // for every a_k
    t.Tail = ends.empty();
    t.B = t.Tail ? 0 : ends.front();
    t.Removed = std::max<int64_t>(1, wanted);
    bool found = false;
    // The encoder's blocks at the seam depend on the removal, which may move them in turn.
    std::set<int64_t> tried, startsTried{t.T0};
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (!EncodeTry(t, error)) return false;
        if (!AlignStart(t, starts)) {
            // The encoder meets its first samples (or the onset after silence before the stream)
            // with a few short blocks, how many depends on where they fall: a T0 tried before is
            // moved back by a long block and a short step.
            t.T0 = NotBeforeTheStream(t.T0);
            for (int moves = 0; !startsTried.insert(t.T0).second && moves < kAttempts; ++moves)
                t.T0 = NotBeforeTheStream(t.T0 - Long() - FPlan.Stream.BlockSizes[0] / 2);
            continue;
        }
        if (t.Tail) { // the last page's granule ends the audio where it should: exact
            found = !t.Centres.empty() && t.T0 + t.Centres.back() >= StreamEnd - t.Removed &&
                    t.Ia + 1 < t.Packets.size();
            if (found) best = t;
            break;
        }
        TBridgeTry next;
        tried.insert(t.Removed);
        if (AlignEnd(t, ends, tried, next) &&
            (!found || std::abs(t.Removed - wanted) < std::abs(best.Removed - wanted))) {
            best = t;
            found = true;
        }
        if (next.Removed <= 0 ||
            (found && std::abs(next.Removed - wanted) >= std::abs(best.Removed - wanted)))
            break;
        t.B = next.B;
        t.Removed = next.Removed;
    }
    if (!found) error = LosslessText::kVorbisSeamEdge;
    return found;
}

TLosslessCheck TVorbisDeleter::Bridge() {
    std::string error;
    if (!FEncoder.Find(FPlan.Headers, error))
        return Verdict(TLosslessVerdict::NotAvailable, Format(LosslessText::kVorbisSetup, error.c_str()));
    std::vector<size_t> starts, ends;
    // Without a b_p the end mark lies within the last few blocks: the bridge runs to the end.
    if (!FindJoins(starts, ends) || (ends.empty() && StreamEnd - End > int64_t(kJoinBlocks) * Long()))
        return Verdict(TLosslessVerdict::NotAvailable, LosslessText::kVorbisSeamEdge);
    TBridgeTry t;
    if (!FindBridge(starts, ends, t, error)) return Verdict(TLosslessVerdict::NotAvailable, error);
    const TVorbisPlace& a = FNear[t.A];
    size_t last = t.Tail ? t.Packets.size() - 1 : t.Ib;
    FPlan.Bridge.assign(t.Packets.begin() + long(t.Ia) + 1, t.Packets.begin() + long(last) + 1);
    FPlan.LastA = a.Index;
    FPlan.FirstB = t.Tail ? TVorbisPlace{-1} : FNear[t.B + 1];
    FPlan.EndGranule = StreamEnd - t.Removed + FPlan.GranuleOffset;

    TLosslessCheck check = Verdict(TLosslessVerdict::Possible, "");
    check.SampleExact = t.Removed == End - Start;
    check.EndOffsetMs = double(Start + t.Removed - End) * 1000.0 / FPlan.Stream.SampleRate;
    return check;
}

bool TVorbisDeletePlan::Write(const std::string& output, std::string& error) {
    TByteReader in;
    TByteWriter out;
    if (!in.Open(Input, error) || !out.Open(output, error)) return false;
    TOggPageWriter pages(out, Serial);
    pages.Headers(Headers);
    int previous = 0;
    int64_t added = 0;
    auto put = [&](const std::vector<uint8_t>& data, bool last) {
        added += std::max<int64_t>(0, OggPacketSamples(Stream, data.data(), data.size(), previous));
        pages.Packet(data.data(), data.size(), last ? EndGranule : added + GranuleOffset);
    };
    TOggPacketReader packets(in);
    TOggPacket packet;
    bool complete = false;
    for (int skipped = 0; skipped < int(Headers.size()) && packets.Next(packet); ++skipped) {
    }
    // A first page that trims the beginning keeps its packets (the trim lies in its last one).
    pages.Hold = GranuleOffset < 0;
    while (!complete && packets.Next(packet)) {
        put(packet.Data, false);
        complete = packet.Index == LastA;
        if (pages.Hold && packet.Index == FirstPageLast) {
            pages.Flush();
            pages.Hold = false;
        }
    }
    for (size_t i = 0; i < Bridge.size(); ++i)
        put(Bridge[i], FirstB.Index < 0 && i + 1 == Bridge.size());
    if (FirstB.Index >= 0) {
        packets.Start(FirstB.StartPage, FirstB.StartOrdinal, FirstB.Index);
        complete = complete && packets.Next(packet) && packet.Index == FirstB.Index;
    }
    while (complete && FirstB.Index >= 0) {
        put(packet.Data, packet.Index == LastIndex);
        if (packet.Index == LastIndex) break;
        complete = packets.Next(packet);
    }
    return FinishOggCopy(pages, out, packets, complete, error);
}

} // namespace

std::unique_ptr<TLosslessPlan> PlanVorbisDelete(const std::string& input, int64_t startMs, int64_t endMs,
                                                TLosslessCheck& check) {
    auto plan = std::make_unique<TVorbisDeletePlan>();
    plan->Input = input;
    TByteReader reader;
    if (!OpenForPlan(reader, input, check)) return nullptr;
    TVorbisDeleter deleter(*plan, reader);
    check = deleter.Walk(startMs, endMs);
    if (check.Verdict != TLosslessVerdict::Possible) return nullptr;
    // A delete that keeps one side is a select of it, exact to the sample.
    if (deleter.Start <= deleter.Origin)
        return PlanOggCut(input, TLosslessMode::Select, endMs, INT64_MAX / 1000000, check);
    if (deleter.End >= deleter.StreamEnd) return PlanOggCut(input, TLosslessMode::Select, 0, startMs, check);
    check = deleter.Bridge();
    if (check.Verdict != TLosslessVerdict::Possible) return nullptr;
    return plan;
}
