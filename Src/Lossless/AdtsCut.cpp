// Lossless ADTS AAC select: whole frames copied, with tags before and after them kept. ADTS
// cannot tell a decoder to skip samples, so the cut starts and ends at frame boundaries: one
// frame before the frame holding the start mark (a decoder's first frame lacks the overlap of
// the one before, so that frame only primes the decoder) through the frame holding the end mark.
// The check says how far from the marks that lies.
#include "ByteFile.h"
#include "LosslessFormats.h"
#include "LosslessTexts.h"
#include "MyUtils.h"

#include <cstring>

namespace {

constexpr int kSampleRates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                  22050, 16000, 12000, 11025, 8000,  7350};
constexpr int kSamplesPerBlock = 1024;

struct TAdtsHeader {
    int Bytes = 0;   // the whole frame's
    int Samples = 0; // decoded from it
    int RateIndex = 0;
    int Channels = 0;
};

bool ParseAdts(const uint8_t* p, size_t available, TAdtsHeader& h) {
    if (available < 7 || p[0] != 0xFF || (p[1] & 0xF6) != 0xF0) return false;
    h.RateIndex = (p[2] >> 2) & 0x0F;
    h.Channels = (p[2] & 1) << 2 | p[3] >> 6;
    h.Bytes = (p[3] & 3) << 11 | p[4] << 3 | p[5] >> 5;
    h.Samples = kSamplesPerBlock * ((p[6] & 3) + 1);
    int header = (p[1] & 1) ? 7 : 9;
    return h.RateIndex < 13 && h.Bytes > header;
}

int64_t Id3v2Size(TByteReader& reader) {
    uint8_t h[10];
    if (!reader.Read(0, 10, h) || std::memcmp(h, "ID3", 3) != 0) return 0;
    return 10 +
           (int64_t(h[6] & 0x7F) << 21 | int64_t(h[7] & 0x7F) << 14 | int64_t(h[8] & 0x7F) << 7 |
            (h[9] & 0x7F)) +
           ((h[5] & 0x10) ? 10 : 0);
}

class TAdtsPlan : public TLosslessPlan {
public:
    bool Write(const std::string& output, std::string& error) override {
        TByteReader in;
        TByteWriter out;
        if (!in.Open(Input, error) || !out.Open(output, error)) return false;
        bool copied = CopyBytes(in, 0, Id3Bytes, out) && CopyBytes(in, From, To, out) &&
                      (Id3v1From < 0 || CopyBytes(in, Id3v1From, Id3v1From + 128, out));
        bool closed = out.Close(error);
        if (!copied && closed) error = "the input changed while it was copied";
        return copied && closed;
    }

    std::string Input;
    int64_t Id3Bytes = 0, From = 0, To = 0, Id3v1From = -1;
};

// Walks the frames, each followed by the next (or the end): junk between frames is skipped.
class TAdtsWalk {
public:
    TAdtsWalk(TByteReader& reader, int64_t from, int64_t end) : FReader(reader), FAt(from), FEnd(end) {}
    bool Next(int64_t& offset, TAdtsHeader& h) {
        while (FAt + 7 <= FEnd) {
            size_t available = 0;
            const uint8_t* p = FReader.Peek(FAt, 9, available);
            if (p && ParseAdts(p, available, h) && FAt + h.Bytes <= FEnd && Follows(FAt + h.Bytes, h)) {
                offset = FAt;
                FAt += h.Bytes;
                return true;
            }
            ++FAt;
            ++SkippedBytes;
        }
        return false;
    }
    int64_t SkippedBytes = 0;

private:
    bool Follows(int64_t at, const TAdtsHeader& h) {
        if (at + 7 > FEnd) return true;
        size_t available = 0;
        const uint8_t* p = FReader.Peek(at, 9, available);
        TAdtsHeader next;
        return p && ParseAdts(p, available, next) && next.RateIndex == h.RateIndex &&
               next.Channels == h.Channels;
    }

    TByteReader& FReader;
    int64_t FAt, FEnd;
};

} // namespace

std::unique_ptr<TLosslessPlan> PlanAdtsCut(const std::string& input, TLosslessMode mode, int64_t startMs,
                                           int64_t endMs, TLosslessCheck& check) {
    if (mode == TLosslessMode::Delete) {
        check = Verdict(TLosslessVerdict::NotAvailable, Format(LosslessText::kNoDeletePath, "AAC"));
        return nullptr;
    }
    auto plan = std::make_unique<TAdtsPlan>();
    plan->Input = input;
    TByteReader reader;
    if (!OpenForPlan(reader, input, check)) return nullptr;
    plan->Id3Bytes = Id3v2Size(reader);
    int64_t end = reader.Size();
    uint8_t tag[3];
    if (end >= 128 && reader.Read(end - 128, 3, tag) && std::memcmp(tag, "TAG", 3) == 0)
        plan->Id3v1From = end -= 128;
    TAdtsWalk walk(reader, plan->Id3Bytes, end);
    int64_t offset = 0, position = 0, previousOffset = -1, previousPosition = 0;
    TAdtsHeader h;
    if (!walk.Next(offset, h)) {
        check = Verdict(TLosslessVerdict::Refused, LosslessText::kNoAdtsFrames);
        return nullptr;
    }
    int rate = kSampleRates[h.RateIndex];
    int64_t start = MarkToSamples(startMs, rate), stop = MarkToSamples(endMs, rate);
    int64_t firstSample = -1, lastSample = 0;
    // The frame before the one holding the start primes the decoder.
    do {
        if (firstSample < 0 && position + h.Samples > start) {
            bool prime = previousOffset >= 0;
            plan->From = prime ? previousOffset : offset;
            firstSample = prime ? previousPosition : position;
        }
        if (firstSample >= 0) {
            plan->To = offset + h.Bytes;
            lastSample = position + h.Samples;
            if (lastSample >= stop) break;
        }
        previousOffset = offset;
        previousPosition = position;
        position += h.Samples;
    } while (walk.Next(offset, h));
    if (firstSample < 0 || std::min(stop, lastSample) <= start) {
        check = Verdict(TLosslessVerdict::NotAvailable, LosslessText::kBeyondEnd);
        return nullptr;
    }
    check = Verdict(TLosslessVerdict::Possible, "");
    check.SampleExact = false;
    check.StartOffsetMs = double(firstSample - start) * 1000.0 / rate;
    check.EndOffsetMs =
        stop >= lastSample ? 0.0 : double(lastSample - stop) * 1000.0 / rate; // 0: the stream ended first
    return plan;
}
