// Lossless MP3 select: whole frames copied from a few frames before the start mark, so that the
// first wanted frame finds its bit reservoir and the decoder's overlap filled, behind an info
// frame whose encoder delay and padding trim the decoded frames to exactly the marked samples.
//
// Positions are counted in "raw" samples: sample r of a stream is the r-th sample a decoder
// produces from its audio frames, frame k producing [k * spf, (k + 1) * spf). A gapless decoder
// drops the first delay + kMp3DecoderDelay raw samples and stops padding - kMp3DecoderDelay
// samples before the last frame's end.
#include "LosslessFormats.h"
#include "LosslessTexts.h"
#include "Mp3Layout.h"
#include "MyUtils.h"

#include <cstring>

namespace {

// The frames before the first wanted one whose main data the cutter can look back through.
constexpr int kHistory = 32;

class TMp3Plan : public TLosslessPlan {
public:
    bool Write(const std::string& output, std::string& error) override;

    std::string Input;
    TMp3Layout Layout;
    TMp3InfoFields Fields;
    int64_t CopyFrom = 0, CopyTo = 0;
};

// The recent frames behind the walk: offset and main data size, oldest first.
struct TFrameHistory {
    struct TEntry {
        int64_t Index = 0;
        int64_t Offset = 0;
        int MainDataBytes = 0;
        int BitRateIndex = 0;
    };
    TEntry Entries[kHistory];
    int Count = 0;
    void Push(const TEntry& e) {
        if (Count == kHistory) {
            std::memmove(Entries, Entries + 1, sizeof(TEntry) * (kHistory - 1));
            --Count;
        }
        Entries[Count++] = e;
    }
};

class TMp3Planner {
public:
    TMp3Planner(TMp3Plan& plan, TByteReader& reader) : FPlan(plan), FReader(reader), FWalk(reader, 0) {}
    TLosslessCheck Run(int64_t startMs, int64_t endMs);

private:
    TLosslessCheck ReadLayout();
    bool WalkTo(int64_t index);
    TLosslessCheck FindFirstFrame(int64_t wanted, int64_t& first);
    TLosslessCheck CopyRange(int64_t first, int64_t last);

    TMp3Plan& FPlan;
    TByteReader& FReader;
    TMp3FrameWalk FWalk;
    TMp3Header FStream;
    int64_t FIndex = -1; // audio frame index of FWalk's frame
    bool FEnded = false;
    TFrameHistory FHistory;
};

TLosslessCheck TMp3Planner::ReadLayout() {
    TLosslessCheck check = ReadMp3Layout(FReader, FWalk, FPlan.Layout, FStream);
    FIndex = 0;
    return check;
}

// Moves the walk to audio frame `index`, remembering the frames passed.
bool TMp3Planner::WalkTo(int64_t index) {
    while (FIndex < index) {
        FHistory.Push({FIndex, FWalk.Offset, FWalk.Header.MainDataBytes(), FWalk.Header.BitRateIndex});
        if (!FWalk.Next()) {
            FEnded = true;
            return false;
        }
        ++FIndex;
    }
    return true;
}

// The first frame to copy so that frame `wanted` decodes as in the whole file. Its first granule
// adds the overlap of the granule before and filters through the subband samples of the two
// granules before: those must decode fully, so the frame holding the earlier of them (one frame
// back for MPEG-1's two granules a frame, two for MPEG-2's one) must find all of its main data,
// which begins main_data_begin bytes back in the main data of the frames before it.
TLosslessCheck TMp3Planner::FindFirstFrame(int64_t wanted, int64_t& first) {
    first = 0;
    int64_t overlap = wanted - (FStream.Version == 1 ? 1 : 2);
    if (overlap <= 0) return Verdict(TLosslessVerdict::Possible, "");
    if (!WalkTo(overlap)) return Verdict(TLosslessVerdict::NotAvailable, LosslessText::kBeyondEnd);
    uint8_t head[6];
    if (!FReader.Read(FWalk.Offset, 6, head))
        return Verdict(TLosslessVerdict::Refused, LosslessText::kNoMp3Frames);
    int need = Mp3MainDataBegin(head, FWalk.Header);
    first = overlap;
    for (int i = FHistory.Count - 1; i >= 0 && need > 0; --i) {
        need -= FHistory.Entries[i].MainDataBytes;
        first = FHistory.Entries[i].Index;
    }
    // Back at the first frame the reservoir is empty by definition.
    if (need > 0 && first != 0) return Verdict(TLosslessVerdict::NotAvailable, LosslessText::kLowBitRate);
    return Verdict(TLosslessVerdict::Possible, "");
}

// Records the byte range, seek table and rate of the frames first..last; `last` is lowered when
// the stream ends before it.
TLosslessCheck TMp3Planner::CopyRange(int64_t first, int64_t last) {
    TMp3InfoFields& f = FPlan.Fields;
    int64_t count = last - first + 1;
    int64_t firstOffset = -1;
    for (int i = 0; i < FHistory.Count; ++i)
        if (FHistory.Entries[i].Index == first) firstOffset = FHistory.Entries[i].Offset;
    if (FIndex == first) firstOffset = FWalk.Offset;
    if (firstOffset < 0) {
        // The first frame lies behind the remembered ones only when the walk has not reached it.
        if (!WalkTo(first)) return Verdict(TLosslessVerdict::NotAvailable, LosslessText::kBeyondEnd);
        firstOffset = FWalk.Offset;
    }
    FPlan.CopyFrom = firstOffset;
    f.Stream = FStream;
    f.Cbr = true;
    int nextToc = 0;
    auto visit = [&](int64_t index, int64_t offset, int bitRateIndex) {
        while (nextToc < 100 && first + nextToc * count / 100 <= index)
            f.TocOffsets[size_t(nextToc++)] = offset - firstOffset;
        if (bitRateIndex != FStream.BitRateIndex) f.Cbr = false;
    };
    for (int i = 0; i < FHistory.Count; ++i) {
        const TFrameHistory::TEntry& e = FHistory.Entries[i];
        if (e.Index >= first) visit(e.Index, e.Offset, e.BitRateIndex);
    }
    int64_t lastIndex = FIndex;
    while (true) {
        if (FIndex >= first) {
            visit(FIndex, FWalk.Offset, FWalk.Header.BitRateIndex);
            lastIndex = FIndex;
            FPlan.CopyTo = FWalk.Offset + FWalk.Header.FrameBytes;
        }
        if (FIndex == last || !WalkTo(FIndex + 1)) break;
    }
    if (lastIndex < first) return Verdict(TLosslessVerdict::NotAvailable, LosslessText::kBeyondEnd);
    f.Frames = lastIndex - first + 1;
    for (; nextToc < 100; ++nextToc)
        f.TocOffsets[size_t(nextToc)] = f.TocOffsets[size_t(std::max(0, nextToc - 1))];
    f.AudioBytes = FPlan.CopyTo - FPlan.CopyFrom;
    return Verdict(TLosslessVerdict::Possible, "");
}

TLosslessCheck TMp3Planner::Run(int64_t startMs, int64_t endMs) {
    TLosslessCheck check = ReadLayout();
    if (check.Verdict != TLosslessVerdict::Possible) return check;
    const TMp3Layout& layout = FPlan.Layout;
    int64_t spf = FStream.SamplesPerFrame;
    int64_t rawStart = MarkToSamples(startMs, FStream.SampleRate) + layout.SkipRaw;
    int64_t rawEnd = MarkToSamples(endMs, FStream.SampleRate) + layout.SkipRaw;
    if (layout.EndRaw > 0) rawEnd = std::min(rawEnd, layout.EndRaw);
    if (rawEnd <= rawStart) return Verdict(TLosslessVerdict::NotAvailable, LosslessText::kBeyondEnd);

    int64_t first = 0;
    check = FindFirstFrame(rawStart / spf, first);
    if (check.Verdict != TLosslessVerdict::Possible) return check;
    int64_t delay = rawStart - first * spf - kMp3DecoderDelay;
    if (delay < 0) return Verdict(TLosslessVerdict::NotAvailable, LosslessText::kStartInDecoderDelay);
    if (delay > kMp3MaxTagDelay) return Verdict(TLosslessVerdict::NotAvailable, LosslessText::kLowBitRate);

    // A cut that starts and ends inside one frame plays exactly in mpg123, but the libraries'
    // decoder replaces the rest of its start skip with the end trim of that frame.
    check = CopyRange(first, (rawEnd - 1) / spf);
    if (check.Verdict != TLosslessVerdict::Possible) return check;
    TMp3InfoFields& f = FPlan.Fields;
    // A stream that ends early ends the cut with its last frame.
    rawEnd = std::min(rawEnd, (first + f.Frames) * spf);
    if (rawEnd <= rawStart) return Verdict(TLosslessVerdict::NotAvailable, LosslessText::kBeyondEnd);
    f.Source = layout.Tag;
    f.Delay = int(delay);
    f.Padding = int(f.Frames * spf - (rawEnd - rawStart) - delay);
    return check;
}

bool TMp3Plan::Write(const std::string& output, std::string& error) {
    TMp3Piece frames;
    frames.From = CopyFrom;
    frames.To = CopyTo;
    return WriteMp3Cut(Input, output, Layout, Fields, {frames}, error);
}

} // namespace

std::unique_ptr<TLosslessPlan> PlanMp3Select(const std::string& input, int64_t startMs, int64_t endMs,
                                             TLosslessCheck& check) {
    auto plan = std::make_unique<TMp3Plan>();
    plan->Input = input;
    TByteReader reader;
    if (!OpenForPlan(reader, input, check)) return nullptr;
    TMp3Planner planner(*plan, reader);
    check = planner.Run(startMs, endMs);
    if (check.Verdict != TLosslessVerdict::Possible) return nullptr;
    return plan;
}

std::unique_ptr<TLosslessPlan> PlanMp3Cut(const std::string& input, TLosslessMode mode, int64_t startMs,
                                          int64_t endMs, TLosslessCheck& check) {
    return mode == TLosslessMode::Select ? PlanMp3Select(input, startMs, endMs, check)
                                         : PlanMp3Delete(input, startMs, endMs, check);
}
