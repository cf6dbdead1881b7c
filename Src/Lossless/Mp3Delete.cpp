// Lossless MP3 delete: the frames before and after the deleted stretch are copied, and the few
// frames around the seam are re-encoded from the decoded samples as a bridge.
//
// Copied frames keep their place in the frame grid, so the stretch removed is a whole number of
// frames: the end mark moves by at most half a frame, and the check says by how much. The bridge
// is encoded without bit reservoir, so its first frame needs nothing from the frames before it;
// its last frame is enlarged to carry the reservoir bytes the first copied frame after it reads.
// Positions are raw samples as in Mp3Cut.cpp: frame k decodes to [k * spf, (k + 1) * spf).
#include "LosslessTexts.h"
#include "Mp3Bridge.h"
#include "Mp3Layout.h"
#include "MyUtils.h"

#include <cstring>
#include <functional>
#include <map>

namespace {

constexpr int kWarmUpFrames = 2;  // encoded frames dropped before the bridge (the encoder settles)
constexpr int kDecodePreroll = 4; // frames decoded before the samples needed (reservoir and overlap)
constexpr int kBridgeBefore = 1;  // output frames re-encoded before the frame holding the seam
constexpr int kBridgeAfter = 2;   // and after it
constexpr int kReservoirLookahead = 12;

struct TFrameInfo {
    int64_t Offset = 0;
    TMp3Header Header;
};

class TMp3DeletePlan : public TLosslessPlan {
public:
    bool Write(const std::string& output, std::string& error) override {
        return WriteMp3Cut(Input, output, Layout, Fields, Pieces, error);
    }

    std::string Input;
    TMp3Layout Layout;
    TMp3InfoFields Fields;
    std::vector<TMp3Piece> Pieces;
};

int MainAreaStart(const TMp3Header& h) {
    return 4 + (h.Crc ? 2 : 0) + h.SideInfoBytes;
}

class TMp3Deleter {
public:
    TMp3Deleter(TMp3DeletePlan& plan, TByteReader& reader) : FPlan(plan), FReader(reader) {}
    TLosslessCheck Run(int64_t start, int64_t end);

private:
    using TVisit = std::function<void(int64_t index, int64_t offset, const TMp3Header& header)>;
    bool Walk(const TVisit& visit);
    bool FrameBytes(int64_t index, std::vector<uint8_t>& bytes);
    bool DecodeRaw(int64_t from, int64_t to, TPcmBlock& pcm, int64_t& firstRaw, std::string& error);
    TLosslessCheck BuildBridge(int64_t rawSeam, int bitRate, std::vector<std::vector<uint8_t>>& bridge);
    TLosslessCheck CarryReservoir(std::vector<uint8_t>& last);
    void FillSeekTable(int64_t bridgeBytes, const std::vector<int64_t>& bridgeOffsets);
    int BridgeBitRate() const;

    TMp3DeletePlan& FPlan;
    TByteReader& FReader;
    TMp3Header FStream;
    std::map<int64_t, TFrameInfo> FKept; // frames near the seam
    int64_t FCount = 0;                  // audio frames of the input
    int64_t FAudioFrom = 0, FAudioTo = 0;
    bool FCbr = true;
    int64_t FRemoved = 0;     // frames removed
    int64_t FB0 = 0, FB1 = 0; // output frames [FB0, FB1) are the bridge
};

bool TMp3Deleter::Walk(const TVisit& visit) {
    TMp3FrameWalk walk(FReader, 0);
    TMp3Layout layout;
    TMp3Header stream;
    if (ReadMp3Layout(FReader, walk, layout, stream).Verdict != TLosslessVerdict::Possible) return false;
    int64_t index = 0;
    do {
        visit(index++, walk.Offset, walk.Header);
    } while (walk.Next());
    return true;
}

bool TMp3Deleter::FrameBytes(int64_t index, std::vector<uint8_t>& bytes) {
    auto it = FKept.find(index);
    if (it == FKept.end()) return false;
    bytes.resize(size_t(it->second.Header.FrameBytes));
    return FReader.Read(it->second.Offset, bytes.size(), bytes.data());
}

// Decodes the input's raw samples [from, to) (clipped to the stream), starting a few frames early.
bool TMp3Deleter::DecodeRaw(int64_t from, int64_t to, TPcmBlock& pcm, int64_t& firstRaw, std::string& error) {
    int64_t spf = FStream.SamplesPerFrame;
    from = std::max<int64_t>(0, from);
    to = std::min(to, FCount * spf);
    int64_t first = std::max<int64_t>(0, from / spf - kDecodePreroll);
    int64_t last = (to - 1) / spf;
    std::vector<std::vector<uint8_t>> frames;
    for (int64_t i = first; i <= last; ++i) {
        frames.emplace_back();
        if (!FrameBytes(i, frames.back())) {
            error = "a frame at the seam is missing";
            return false;
        }
    }
    firstRaw = first * spf;
    return DecodeMp3Frames(frames, int(spf), pcm, error);
}

int TMp3Deleter::BridgeBitRate() const {
    if (FCbr) return FStream.BitRate;
    // A variable-rate stream: its average rate, at the nearest rate a frame header can name.
    double average = double(FAudioTo - FAudioFrom) * 8.0 * FStream.SampleRate /
                     double(std::max<int64_t>(1, FCount) * FStream.SamplesPerFrame);
    int best = FStream.BitRate;
    for (int index = 1; index < 15; ++index) {
        int rate = Mp3BitRate(FStream, index);
        if (std::abs(rate - average) < std::abs(best - average)) best = rate;
    }
    return best;
}

// Encodes the wanted samples of output frames [FB0, FB1): the input before the seam, the input
// FRemoved frames later after it.
TLosslessCheck TMp3Deleter::BuildBridge(int64_t rawSeam, int bitRate,
                                        std::vector<std::vector<uint8_t>>& bridge) {
    int64_t spf = FStream.SamplesPerFrame;
    std::string error;
    TMp3BridgeEncoder encoder;
    if (!encoder.Open(FStream.SampleRate, FStream.Channels(), bitRate, error))
        return Verdict(TLosslessVerdict::NotAvailable, error);
    int64_t shift = FRemoved * spf;
    // Encoded sample p decodes at raw p + InitialPadding of the encoded stream; encoded frame
    // kWarmUpFrames becomes output frame FB0.
    int64_t from = (FB0 - kWarmUpFrames) * spf + encoder.InitialPadding();
    int64_t to = FB1 * spf + encoder.InitialPadding() + spf;
    TPcmBlock before, after;
    int64_t beforeRaw = 0, afterRaw = 0;
    if (from < rawSeam && !DecodeRaw(from, std::min(to, rawSeam), before, beforeRaw, error))
        return Verdict(TLosslessVerdict::NotAvailable, error);
    if (to > rawSeam && !DecodeRaw(std::max(from, rawSeam) + shift, to + shift, after, afterRaw, error))
        return Verdict(TLosslessVerdict::NotAvailable, error);
    TPcmBlock wanted;
    wanted.Channels = FStream.Channels();
    wanted.Samples.assign(size_t((to - from) * wanted.Channels), 0.0f);
    for (int64_t x = std::max<int64_t>(from, 0); x < to; ++x) {
        const TPcmBlock& source = x < rawSeam ? before : after;
        int64_t at = x < rawSeam ? x - beforeRaw : x + shift - afterRaw;
        if (at < 0 || at >= source.Frames() || source.Channels != wanted.Channels) continue;
        for (int c = 0; c < wanted.Channels; ++c)
            wanted.Samples[size_t((x - from) * wanted.Channels + c)] =
                source.Samples[size_t(at * source.Channels + c)];
    }
    TEncodedMp3 encoded;
    if (!encoder.Encode(wanted, encoded, error)) return Verdict(TLosslessVerdict::NotAvailable, error);
    size_t count = size_t(FB1 - FB0);
    if (encoded.Frames.size() < kWarmUpFrames + count)
        return Verdict(TLosslessVerdict::NotAvailable, "the bridge encoder gave too few frames");
    bridge.assign(encoded.Frames.begin() + kWarmUpFrames,
                  encoded.Frames.begin() + kWarmUpFrames + long(count));
    for (const std::vector<uint8_t>& frame : bridge) {
        TMp3Header h;
        if (frame.size() < 6 || ParseMp3Header(ReadBE32(frame.data()), h) != TMp3HeaderKind::Valid ||
            !h.SameStream(FStream) || size_t(h.FrameBytes) != frame.size() ||
            Mp3MainDataBegin(frame.data(), h) != 0)
            return Verdict(TLosslessVerdict::NotAvailable, "the bridge encoder gave unexpected frames");
        if (h.BitRateIndex != FStream.BitRateIndex) FCbr = false;
    }
    return Verdict(TLosslessVerdict::Possible, "");
}

// The first copied frame after the bridge (and the few after it) read main data from before
// it: those bytes go at the end of the bridge's last frame, enlarged to a higher bitrate to
// hold them.
TLosslessCheck TMp3Deleter::CarryReservoir(std::vector<uint8_t>& last) {
    int64_t first = FB1 + FRemoved;
    int need = 0, ahead = 0;
    for (int64_t i = first; i < first + kReservoirLookahead && ahead < 511; ++i) {
        std::vector<uint8_t> frame;
        if (!FrameBytes(i, frame)) break;
        const TMp3Header& h = FKept[i].Header;
        need = std::max(need, Mp3MainDataBegin(frame.data(), h) - ahead);
        ahead += h.MainDataBytes();
    }
    if (need <= 0) return Verdict(TLosslessVerdict::Possible, "");
    std::vector<uint8_t> reservoir(static_cast<size_t>(need));
    size_t missing = reservoir.size();
    for (int64_t i = first - 1; missing > 0 && i >= 0; --i) {
        std::vector<uint8_t> frame;
        if (!FrameBytes(i, frame))
            return Verdict(TLosslessVerdict::NotAvailable, "a frame at the seam is missing");
        const TMp3Header& h = FKept[i].Header;
        size_t take = std::min(missing, size_t(h.MainDataBytes()));
        std::memcpy(&reservoir[missing - take], frame.data() + frame.size() - take, take);
        missing -= take;
    }
    TMp3Header h;
    ParseMp3Header(ReadBE32(last.data()), h);
    for (int index = h.BitRateIndex; index < 15; ++index) {
        int bytes = Mp3FrameBytes(h, index);
        if (bytes - MainAreaStart(h) < h.MainDataBytes() + need) continue;
        std::vector<uint8_t> enlarged(size_t(bytes), 0);
        std::memcpy(enlarged.data(), last.data(), last.size());
        uint32_t word = (h.Word & ~(15u << 12) & ~(1u << 9)) | uint32_t(index) << 12;
        WriteBE32(enlarged.data(), word);
        std::memcpy(enlarged.data() + bytes - need, reservoir.data(), size_t(need));
        last.swap(enlarged);
        FCbr = false;
        return Verdict(TLosslessVerdict::Possible, "");
    }
    return Verdict(TLosslessVerdict::NotAvailable, LosslessText::kSeamReservoir);
}

void TMp3Deleter::FillSeekTable(int64_t bridgeBytes, const std::vector<int64_t>& bridgeOffsets) {
    TMp3InfoFields& f = FPlan.Fields;
    int64_t aBytes = FPlan.Pieces[0].To - FPlan.Pieces[0].From;
    int64_t bFrom = FB1 + FRemoved;
    int64_t bOffset = FKept.count(bFrom) ? FKept[bFrom].Offset : FAudioTo;
    auto at = [&](int64_t o) { return f.Frames > 0 ? o * 100 / f.Frames : 0; };
    int next = 0;
    auto record = [&](int64_t o, int64_t offset) {
        while (next < 100 && at(o) >= next && next * f.Frames / 100 <= o)
            f.TocOffsets[size_t(next++)] = offset;
    };
    Walk([&](int64_t i, int64_t offset, const TMp3Header&) {
        if (i < FB0) record(i, offset - FAudioFrom);
        if (i == FB0)
            for (size_t b = 0; b < bridgeOffsets.size(); ++b)
                record(FB0 + int64_t(b), aBytes + bridgeOffsets[b]);
        if (i >= bFrom) record(i - FRemoved, aBytes + bridgeBytes + offset - bOffset);
    });
    for (; next < 100; ++next)
        f.TocOffsets[size_t(next)] = next > 0 ? f.TocOffsets[size_t(next - 1)] : 0;
}

TLosslessCheck TMp3Deleter::Run(int64_t start, int64_t end) {
    TMp3FrameWalk walk(FReader, 0);
    TMp3Layout& layout = FPlan.Layout;
    TLosslessCheck check = ReadMp3Layout(FReader, walk, layout, FStream);
    if (check.Verdict != TLosslessVerdict::Possible) return check;
    if (!layout.Tag.HasLame || !layout.Tag.HasFrames)
        return Verdict(TLosslessVerdict::NotAvailable, LosslessText::kNoGaplessInfo);
    int64_t spf = FStream.SamplesPerFrame;
    int64_t rawSeam = start + layout.SkipRaw;
    FRemoved = std::max<int64_t>(1, (end - start + spf / 2) / spf);
    int64_t seamFrame = rawSeam / spf;
    int64_t keepFrom = std::max<int64_t>(0, seamFrame - kBridgeBefore - kWarmUpFrames - kDecodePreroll - 2);
    int64_t keepTo = seamFrame + kBridgeAfter + FRemoved + kReservoirLookahead + 4;
    int64_t bKeepFrom = seamFrame + FRemoved - kDecodePreroll - kWarmUpFrames - 2;
    FAudioFrom = walk.Offset;
    Walk([&](int64_t i, int64_t offset, const TMp3Header& h) {
        FCount = i + 1;
        FAudioTo = offset + h.FrameBytes;
        if (h.BitRateIndex != FStream.BitRateIndex) FCbr = false;
        if ((i >= keepFrom && i <= seamFrame + kBridgeAfter + 4) || (i >= bKeepFrom && i <= keepTo))
            FKept[i] = TFrameInfo{offset, h};
    });
    int64_t outFrames = FCount - FRemoved;
    FB0 = std::max<int64_t>(0, seamFrame - kBridgeBefore);
    FB1 = std::min(outFrames, seamFrame + 1 + kBridgeAfter);
    if (FB1 <= FB0) return Verdict(TLosslessVerdict::NotAvailable, LosslessText::kBeyondEnd);

    // A bridge whose last frame cannot also carry the reservoir is encoded again at lower rates.
    std::vector<std::vector<uint8_t>> bridge;
    bool cbr = FCbr;
    check = Verdict(TLosslessVerdict::NotAvailable, LosslessText::kSeamReservoir);
    int bridgeRate = BridgeBitRate();
    for (int index = 14; index > 0; --index) {
        int rate = Mp3BitRate(FStream, index);
        if (rate > bridgeRate || rate < bridgeRate / 2) continue;
        FCbr = cbr;
        check = BuildBridge(rawSeam, rate, bridge);
        if (check.Verdict == TLosslessVerdict::Possible && FB1 < outFrames)
            check = CarryReservoir(bridge.back());
        if (check.Verdict == TLosslessVerdict::Possible || check.Reason != LosslessText::kSeamReservoir)
            break;
    }
    if (check.Verdict != TLosslessVerdict::Possible) return check;
    if (bridge.empty()) return Verdict(TLosslessVerdict::NotAvailable, LosslessText::kSeamReservoir);

    TMp3Piece before, bridgePiece, after;
    before.From = FAudioFrom;
    before.To = FB0 > 0 ? FKept[FB0].Offset : FAudioFrom;
    std::vector<int64_t> bridgeOffsets;
    for (const std::vector<uint8_t>& frame : bridge) {
        bridgeOffsets.push_back(int64_t(bridgePiece.Bytes.size()));
        bridgePiece.Bytes.insert(bridgePiece.Bytes.end(), frame.begin(), frame.end());
    }
    after.From = FB1 < outFrames ? FKept[FB1 + FRemoved].Offset : FAudioTo;
    after.To = FAudioTo;
    FPlan.Pieces = {before, bridgePiece, after};

    TMp3InfoFields& f = FPlan.Fields;
    f.Stream = FStream;
    f.Source = layout.Tag;
    f.Cbr = FCbr;
    f.Frames = outFrames;
    f.AudioBytes = (before.To - before.From) + int64_t(bridgePiece.Bytes.size()) + (after.To - after.From);
    f.Delay = layout.Tag.Delay;
    int64_t endRaw = std::min(layout.EndRaw, FCount * spf) - FRemoved * spf;
    f.Padding = int(std::clamp<int64_t>(outFrames * spf - endRaw + kMp3DecoderDelay, 0, kMp3MaxTagDelay));
    FillSeekTable(int64_t(bridgePiece.Bytes.size()), bridgeOffsets);

    check.SampleExact = FRemoved * spf == end - start;
    check.EndOffsetMs = double(start + FRemoved * spf - end) * 1000.0 / FStream.SampleRate;
    return check;
}

} // namespace

std::unique_ptr<TLosslessPlan> PlanMp3Delete(const std::string& input, int64_t startMs, int64_t endMs,
                                             TLosslessCheck& check) {
    TByteReader reader;
    if (!OpenForPlan(reader, input, check)) return nullptr;
    TMp3FrameWalk walk(reader, 0);
    TMp3Layout layout;
    TMp3Header stream;
    check = ReadMp3Layout(reader, walk, layout, stream);
    if (check.Verdict != TLosslessVerdict::Possible) return nullptr;
    // In decoded samples; a delete that keeps one side is a select of it, exact to the sample.
    int64_t length = layout.EndRaw > 0 ? layout.EndRaw - layout.SkipRaw : INT64_MAX;
    int64_t start = MarkToSamples(startMs, stream.SampleRate);
    int64_t end = std::min(length, MarkToSamples(endMs, stream.SampleRate));
    if (start >= end) {
        check = Verdict(TLosslessVerdict::NotAvailable, LosslessText::kBeyondEnd);
        return nullptr;
    }
    if (start == 0) return PlanMp3Select(input, endMs, INT64_MAX / 1000000, check);
    if (end >= length) return PlanMp3Select(input, 0, startMs, check);

    auto plan = std::make_unique<TMp3DeletePlan>();
    plan->Input = input;
    TMp3Deleter deleter(*plan, reader);
    check = deleter.Run(start, end);
    if (check.Verdict != TLosslessVerdict::Possible) return nullptr;
    return plan;
}
