// Lossless ADTS AAC delete: the frames before the removed stretch and after it are copied and
// joined at a frame boundary, as PacketSeam.h describes; the check says how far the join's
// crossfade lies from the marks. A delete from the file's start or to its end is the select of
// the other side.
#include "AdtsFrames.h"
#include "LosslessTexts.h"
#include "PacketSeam.h"

namespace {

struct TJoinFrame {
    int64_t Offset = -1;
    int64_t Position = 0;
    bool First = false; // the file's first frame: nothing before it to join to
};

} // namespace

std::unique_ptr<TLosslessPlan> PlanAdtsDelete(const std::string& input, TByteReader& reader, int64_t startMs,
                                              int64_t endMs, TLosslessCheck& check) {
    auto plan = std::make_unique<TAdtsPlan>();
    plan->Input = input;
    plan->Layout = ReadAdtsLayout(reader);
    TAdtsWalk walk(reader, plan->Layout.Id3Bytes, plan->Layout.AudioEnd);
    if (!walk.Next()) {
        check = Verdict(TLosslessVerdict::Refused, LosslessText::kNoAdtsFrames);
        return nullptr;
    }
    int rate = AdtsSampleRate(walk.Header);
    int64_t start = MarkToSamples(startMs, rate), end = MarkToSamples(endMs, rate);
    int64_t audioFrom = walk.Offset, audioTo = 0;
    // Output frame `cut` is decoded across the join; at least one frame is removed.
    TJoinFrame cut, resume;
    do {
        if (cut.Offset < 0 && CrossfadesAt(walk.Position, kAdtsBlockSamples, start))
            cut = {walk.Offset, walk.Position, walk.Offset == audioFrom};
        else if (cut.Offset >= 0 && resume.Offset < 0 && CrossfadesAt(walk.Position, kAdtsBlockSamples, end))
            resume = {walk.Offset, walk.Position, false};
        audioTo = walk.Offset + walk.Header.Bytes;
    } while (walk.Next());

    if (cut.Offset < 0) {
        check = Verdict(TLosslessVerdict::NotAvailable, LosslessText::kBeyondEnd);
        return nullptr;
    }
    if (resume.Offset < 0) { // to the end: the select of the start
        auto kept = PlanAdtsSelect(input, reader, 0, startMs, check);
        check = OneSideCheck(check, false, start, rate);
        return kept;
    }
    if (cut.First) { // from the start: the select of the end
        auto kept = PlanAdtsSelect(input, reader, endMs, INT64_MAX / 1000000, check);
        check = OneSideCheck(check, true, start, rate);
        return kept;
    }
    plan->Ranges = {{audioFrom, cut.Offset}, {resume.Offset, audioTo}};
    check = SeamCheck(start, end, cut.Position, resume.Position, kAdtsBlockSamples, rate);
    return plan;
}
