// Lossless WAV cuts: the marked sample frames (select) or the others (delete) copied byte for
// byte, with the chunks around the data (format, tags) kept as they were.
#include "ByteFile.h"
#include "LosslessFormats.h"
#include "LosslessTexts.h"
#include "MyUtils.h"

#include <cstring>
#include <vector>

namespace {

struct TChunk {
    char Id[4];
    int64_t Offset = 0; // of its header
    int64_t Size = 0;   // of its body
};

class TWavPlan : public TLosslessPlan {
public:
    bool Write(const std::string& output, std::string& error) override;

    std::string Input;
    std::vector<TChunk> Before, After;               // chunks around the data chunk, written as they were
    int64_t DataOffset = 0;                          // of the data chunk's body
    std::vector<std::pair<int64_t, int64_t>> Ranges; // byte ranges of the body to keep
    int64_t SampleFrames = 0;                        // frames kept (for a "fact" chunk)
};

bool IsCopyableFormat(uint16_t tag, const uint8_t* fmt, int64_t size) {
    // PCM, IEEE float, A-law and mu-law; an extensible header names its sub-format in its GUID.
    if (tag == 0xFFFE && size >= 26) tag = ReadLE16(fmt + 24);
    return tag == 1 || tag == 3 || tag == 6 || tag == 7;
}

TLosslessCheck ReadChunks(TByteReader& reader, TWavPlan& plan, int& blockAlign, int& rate, int64_t& frames) {
    uint8_t riff[12];
    if (!reader.Read(0, 12, riff) || std::memcmp(riff, "RIFF", 4) != 0 ||
        std::memcmp(riff + 8, "WAVE", 4) != 0)
        return Verdict(TLosslessVerdict::NotAvailable, Format(LosslessText::kNoCopyPath, "RF64"));
    bool haveFmt = false, haveData = false;
    int64_t at = 12;
    while (at + 8 <= reader.Size()) {
        uint8_t h[8];
        if (!reader.Read(at, 8, h)) break;
        TChunk chunk;
        std::memcpy(chunk.Id, h, 4);
        chunk.Offset = at;
        chunk.Size = ReadLE32(h + 4);
        int64_t body = at + 8;
        if (std::memcmp(h, "data", 4) == 0) {
            if (!haveFmt)
                return Verdict(TLosslessVerdict::Refused,
                               Format(LosslessText::kBadWav, "the data comes before the format"));
            // A streamed or cut-off file claims more than it holds.
            int64_t size = std::min(chunk.Size, reader.Size() - body);
            frames = size / blockAlign;
            plan.DataOffset = body;
            haveData = true;
            at = body + chunk.Size + (chunk.Size & 1);
            continue;
        }
        if (body + chunk.Size > reader.Size()) break; // a cut-off chunk after the data is dropped
        if (std::memcmp(h, "fmt ", 4) == 0) {
            uint8_t fmt[40] = {};
            if (chunk.Size < 16 || !reader.Read(body, size_t(std::min<int64_t>(chunk.Size, 40)), fmt))
                return Verdict(TLosslessVerdict::Refused,
                               Format(LosslessText::kBadWav, "the format chunk is too short"));
            if (!IsCopyableFormat(ReadLE16(fmt), fmt, chunk.Size))
                return Verdict(TLosslessVerdict::NotAvailable, LosslessText::kWavNotPcm);
            rate = int(ReadLE32(fmt + 4));
            blockAlign = ReadLE16(fmt + 12);
            if (rate <= 0 || blockAlign <= 0)
                return Verdict(TLosslessVerdict::Refused,
                               Format(LosslessText::kBadWav, "no sample rate or frame size"));
            haveFmt = true;
        }
        (haveData ? plan.After : plan.Before).push_back(chunk);
        at = body + chunk.Size + (chunk.Size & 1);
    }
    if (!haveData) return Verdict(TLosslessVerdict::Refused, Format(LosslessText::kBadWav, "no data chunk"));
    return Verdict(TLosslessVerdict::Possible, "");
}

void WriteChunk(TByteReader& in, const TChunk& chunk, TByteWriter& out, bool& copied) {
    copied = copied && CopyBytes(in, chunk.Offset, chunk.Offset + 8 + chunk.Size, out);
    if (chunk.Size & 1) out.Write("", 1);
}

bool TWavPlan::Write(const std::string& output, std::string& error) {
    TByteReader in;
    TByteWriter out;
    if (!in.Open(Input, error) || !out.Open(output, error)) return false;
    uint8_t header[12] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};
    out.Write(header, sizeof header);
    bool copied = true;
    for (const TChunk& chunk : Before) {
        if (std::memcmp(chunk.Id, "fact", 4) == 0 && chunk.Size >= 4) {
            uint8_t fact[12];
            std::memcpy(fact, "fact", 4);
            WriteLE32(fact + 4, 4);
            WriteLE32(fact + 8, uint32_t(SampleFrames));
            out.Write(fact, sizeof fact);
            continue;
        }
        WriteChunk(in, chunk, out, copied);
    }
    int64_t dataBytes = 0;
    for (const auto& range : Ranges)
        dataBytes += range.second - range.first;
    uint8_t data[8] = {'d', 'a', 't', 'a'};
    WriteLE32(data + 4, uint32_t(dataBytes));
    out.Write(data, sizeof data);
    for (const auto& range : Ranges)
        copied = copied && CopyBytes(in, DataOffset + range.first, DataOffset + range.second, out);
    if (dataBytes & 1) out.Write("", 1);
    for (const TChunk& chunk : After)
        WriteChunk(in, chunk, out, copied);
    uint8_t size[4];
    WriteLE32(size, uint32_t(out.Position() - 8));
    out.WriteAt(4, size, 4);
    bool closed = out.Close(error);
    if (!copied && closed) error = "the input changed while it was copied";
    return copied && closed;
}

} // namespace

std::unique_ptr<TLosslessPlan> PlanWavCut(const std::string& input, TLosslessMode mode, int64_t startMs,
                                          int64_t endMs, TLosslessCheck& check) {
    auto plan = std::make_unique<TWavPlan>();
    plan->Input = input;
    TByteReader reader;
    if (!OpenForPlan(reader, input, check)) return nullptr;
    int blockAlign = 0, rate = 0;
    int64_t frames = 0;
    check = ReadChunks(reader, *plan, blockAlign, rate, frames);
    if (check.Verdict != TLosslessVerdict::Possible) return nullptr;
    int64_t start = std::min(MarkToSamples(startMs, rate), frames);
    int64_t end = std::min(MarkToSamples(endMs, rate), frames);
    if (end <= start) {
        check = Verdict(TLosslessVerdict::NotAvailable, LosslessText::kBeyondEnd);
        return nullptr;
    }
    if (mode == TLosslessMode::Select) {
        plan->Ranges.push_back({start * blockAlign, end * blockAlign});
        plan->SampleFrames = end - start;
    } else {
        if (start > 0) plan->Ranges.push_back({0, start * blockAlign});
        if (end < frames) plan->Ranges.push_back({end * blockAlign, frames * blockAlign});
        plan->SampleFrames = frames - (end - start);
    }
    if (plan->SampleFrames * blockAlign > int64_t(UINT32_MAX) - 4096) {
        check = Verdict(TLosslessVerdict::NotAvailable,
                        Format(LosslessText::kNoCopyPath, "WAV files this large"));
        return nullptr;
    }
    return plan;
}
