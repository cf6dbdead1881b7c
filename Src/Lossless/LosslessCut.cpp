#include "LosslessCut.h"

#include "ByteFile.h"
#include "LosslessFormats.h"
#include "LosslessTexts.h"
#include "MyUtils.h"

#include <cstdio>
#include <cstring>

namespace {

enum class TByteFormat { Unknown, Mp3, Wav, Ogg, Flac, Adts, Packets };

TByteFormat SniffFormat(const std::string& input) {
    uint8_t head[12] = {};
    if (FILE* f = std::fopen(input.c_str(), "rb")) {
        size_t got = std::fread(head, 1, sizeof head, f);
        std::fclose(f);
        if (got >= 12 && std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WAVE", 4) == 0)
            return TByteFormat::Wav;
        if (got >= 4 && std::memcmp(head, "OggS", 4) == 0) return TByteFormat::Ogg;
        if (got >= 4 && std::memcmp(head, "fLaC", 4) == 0) return TByteFormat::Flac;
        if (got >= 8 && std::memcmp(head + 4, "ftyp", 4) == 0) return TByteFormat::Packets;
        static const uint8_t kAsfHeader[4] = {0x30, 0x26, 0xB2, 0x75};
        if (got >= 4 && std::memcmp(head, kAsfHeader, 4) == 0) return TByteFormat::Packets;
    }
    std::string ext = LowerCase(ExtractFileExt(input));
    if (ext == ".mp3") return TByteFormat::Mp3;
    if (ext == ".wav") return TByteFormat::Wav;
    if (ext == ".flac") return TByteFormat::Flac;
    if (ext == ".aac") return TByteFormat::Adts;
    return TByteFormat::Unknown;
}

} // namespace

TLosslessCheck Verdict(TLosslessVerdict verdict, const std::string& reason) {
    TLosslessCheck check;
    check.Verdict = verdict;
    check.Reason = reason;
    return check;
}

bool OpenForPlan(TByteReader& reader, const std::string& input, TLosslessCheck& check) {
    std::string error;
    if (reader.Open(input, error)) return true;
    check = Verdict(TLosslessVerdict::Refused, Format(LosslessText::kCannotRead, error.c_str()));
    return false;
}

int64_t MarkToSamples(int64_t ms, int64_t rate) {
    return (ms * rate + 500) / 1000;
}

TLosslessCutter::TLosslessCutter() = default;
TLosslessCutter::~TLosslessCutter() = default;

TLosslessCheck TLosslessCutter::Plan(const std::string& input, TLosslessMode mode, int64_t startMs,
                                     int64_t endMs) {
    FPlan.reset();
    TLosslessCheck check;
    switch (SniffFormat(input)) {
    case TByteFormat::Mp3:
        FPlan = PlanMp3Cut(input, mode, startMs, endMs, check);
        break;
    case TByteFormat::Wav:
        FPlan = PlanWavCut(input, mode, startMs, endMs, check);
        break;
    case TByteFormat::Ogg:
        FPlan = PlanOggCut(input, mode, startMs, endMs, check);
        break;
    case TByteFormat::Flac:
        FPlan = PlanFlacCut(input, mode, startMs, endMs, check);
        break;
    case TByteFormat::Adts:
        FPlan = PlanAdtsCut(input, mode, startMs, endMs, check);
        break;
    case TByteFormat::Packets:
        FPlan = PlanPacketCut(input, mode, startMs, endMs, check);
        break;
    case TByteFormat::Unknown: {
        std::string ext = UpperCase(ExtractFileExt(input));
        if (!ext.empty() && ext[0] == '.') ext.erase(0, 1);
        check.Verdict = TLosslessVerdict::NotAvailable;
        check.Reason = Format(LosslessText::kNoCopyPath, ext.empty() ? "these" : ext.c_str());
        break;
    }
    }
    if (check.Verdict != TLosslessVerdict::Possible) FPlan.reset();
    return check;
}

bool TLosslessCutter::Write(const std::string& output) {
    LastError.clear();
    if (!FPlan) {
        LastError = "no lossless cut is planned";
        return false;
    }
    return FPlan->Write(output, LastError);
}
