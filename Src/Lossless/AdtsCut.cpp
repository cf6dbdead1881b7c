// Lossless ADTS AAC select: whole frames copied, with tags before and after them kept. ADTS
// cannot tell a decoder to skip samples, so the cut starts and ends at frame boundaries: one
// frame before the frame holding the start mark (a decoder's first frame lacks the overlap of
// the one before, so that frame only primes the decoder) through the frame holding the end mark.
// The check says how far from the marks that lies. Delete: AdtsDelete.cpp.
#include "AdtsFrames.h"
#include "LosslessTexts.h"
#include "MyUtils.h"

std::unique_ptr<TAdtsPlan> PlanAdtsSelect(const std::string& input, TByteReader& reader, int64_t startMs,
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
    int64_t start = MarkToSamples(startMs, rate), stop = MarkToSamples(endMs, rate);
    int64_t firstSample = -1, lastSample = 0, previousOffset = -1, previousPosition = 0, from = 0, to = 0;
    // The frame before the one holding the start primes the decoder.
    do {
        if (firstSample < 0 && walk.Position + walk.Header.Samples > start) {
            bool prime = previousOffset >= 0;
            from = prime ? previousOffset : walk.Offset;
            firstSample = prime ? previousPosition : walk.Position;
        }
        if (firstSample >= 0) {
            to = walk.Offset + walk.Header.Bytes;
            lastSample = walk.Position + walk.Header.Samples;
            if (lastSample >= stop) break;
        }
        previousOffset = walk.Offset;
        previousPosition = walk.Position;
    } while (walk.Next());
    if (firstSample < 0 || std::min(stop, lastSample) <= start) {
        check = Verdict(TLosslessVerdict::NotAvailable, LosslessText::kBeyondEnd);
        return nullptr;
    }
    plan->Ranges = {{from, to}};
    check = Verdict(TLosslessVerdict::Possible, "");
    check.SampleExact = false;
    check.StartOffsetMs = double(firstSample - start) * 1000.0 / rate;
    check.EndOffsetMs =
        stop >= lastSample ? 0.0 : double(lastSample - stop) * 1000.0 / rate; // 0: the stream ended first
    return plan;
}

std::unique_ptr<TLosslessPlan> PlanAdtsCut(const std::string& input, TLosslessMode mode, int64_t startMs,
                                           int64_t endMs, TLosslessCheck& check) {
    TByteReader reader;
    if (!OpenForPlan(reader, input, check)) return nullptr;
    if (mode == TLosslessMode::Delete) return PlanAdtsDelete(input, reader, startMs, endMs, check);
    return PlanAdtsSelect(input, reader, startMs, endMs, check);
}
