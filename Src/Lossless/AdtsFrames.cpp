#include "AdtsFrames.h"
#include "Id3v2Frames.h"

#include <cstring>

namespace {

constexpr int kSampleRates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                  22050, 16000, 12000, 11025, 8000,  7350};

bool ParseAdts(const uint8_t* p, size_t available, TAdtsHeader& h) {
    if (available < 7 || p[0] != 0xFF || (p[1] & 0xF6) != 0xF0) return false;
    h.RateIndex = (p[2] >> 2) & 0x0F;
    h.Channels = (p[2] & 1) << 2 | p[3] >> 6;
    h.Bytes = (p[3] & 3) << 11 | p[4] << 3 | p[5] >> 5;
    h.Samples = kAdtsBlockSamples * ((p[6] & 3) + 1);
    int header = (p[1] & 1) ? 7 : 9;
    return h.RateIndex < 13 && h.Bytes > header;
}

} // namespace

int AdtsSampleRate(const TAdtsHeader& h) {
    return kSampleRates[h.RateIndex];
}

TAdtsLayout ReadAdtsLayout(TByteReader& reader) {
    TAdtsLayout layout;
    layout.Id3Bytes = Id3v2TagBytes(reader);
    layout.AudioEnd = reader.Size();
    uint8_t tag[3];
    if (layout.AudioEnd >= 128 && reader.Read(layout.AudioEnd - 128, 3, tag) &&
        std::memcmp(tag, "TAG", 3) == 0)
        layout.Id3v1From = layout.AudioEnd -= 128;
    return layout;
}

bool TAdtsWalk::Next() {
    if (FStarted) Position += Header.Samples;
    while (FAt + 7 <= FEnd) {
        size_t available = 0;
        const uint8_t* p = FReader.Peek(FAt, 9, available);
        TAdtsHeader h;
        if (p && ParseAdts(p, available, h) && FAt + h.Bytes <= FEnd && Follows(FAt + h.Bytes, h)) {
            Offset = FAt;
            Header = h;
            FAt += h.Bytes;
            FStarted = true;
            return true;
        }
        ++FAt;
        ++SkippedBytes;
    }
    return false;
}

bool TAdtsWalk::Follows(int64_t at, const TAdtsHeader& h) {
    if (at + 7 > FEnd) return true;
    size_t available = 0;
    const uint8_t* p = FReader.Peek(at, 9, available);
    TAdtsHeader next;
    return p && ParseAdts(p, available, next) && next.RateIndex == h.RateIndex && next.Channels == h.Channels;
}

bool TAdtsPlan::Write(const std::string& output, std::string& error) {
    TByteReader in;
    TByteWriter out;
    if (!in.Open(Input, error) || !out.Open(output, error)) return false;
    bool copied = CopyId3v2Tag(in, Layout.Id3Bytes, out);
    for (const auto& [from, to] : Ranges)
        copied = copied && CopyBytes(in, from, to, out);
    if (Layout.Id3v1From >= 0)
        copied = copied && CopyBytes(in, Layout.Id3v1From, Layout.Id3v1From + 128, out);
    bool closed = out.Close(error);
    if (!copied && closed) error = "the input changed while it was copied";
    return copied && closed;
}
