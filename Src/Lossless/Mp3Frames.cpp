#include "Mp3Frames.h"

#include <cstring>

namespace {

// kbit/s by bitrate index; row 0 MPEG-1, row 1 MPEG-2 and 2.5 (layer III).
constexpr int kBitRates[2][16] = {
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
};
constexpr int kSampleRates[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};

// Bytes past the end of a frame that confirm a candidate header with the next one.
constexpr int64_t kMaxResyncBytes = 1 << 20;

} // namespace

TMp3HeaderKind ParseMp3Header(uint32_t word, TMp3Header& h) {
    if ((word & 0xFFE00000u) != 0xFFE00000u) return TMp3HeaderKind::NotAHeader;
    int versionBits = (word >> 19) & 3;
    int layerBits = (word >> 17) & 3;
    int rateIndex = (word >> 12) & 15;
    int srIndex = (word >> 10) & 3;
    if (versionBits == 1 || layerBits != 1 || rateIndex == 15 || srIndex == 3) return TMp3HeaderKind::NotAHeader;
    h = TMp3Header();
    h.Word = word;
    h.Version = versionBits == 3 ? 1 : versionBits == 2 ? 2 : 3;
    h.Crc = ((word >> 16) & 1) == 0;
    h.BitRateIndex = rateIndex;
    h.SampleRateIndex = srIndex;
    h.SampleRate = kSampleRates[h.Version - 1][srIndex];
    h.Padding = ((word >> 9) & 1) != 0;
    h.ChannelMode = (word >> 6) & 3;
    h.SamplesPerFrame = h.Version == 1 ? 1152 : 576;
    h.SideInfoBytes = h.Version == 1 ? (h.Channels() == 1 ? 17 : 32) : (h.Channels() == 1 ? 9 : 17);
    if (rateIndex == 0) return TMp3HeaderKind::FreeFormat;
    h.BitRate = Mp3BitRate(h, rateIndex);
    h.FrameBytes = Mp3FrameBytes(h, rateIndex) + (h.Padding ? 1 : 0);
    return TMp3HeaderKind::Valid;
}

int Mp3BitRate(const TMp3Header& h, int bitRateIndex) {
    return kBitRates[h.Version == 1 ? 0 : 1][bitRateIndex] * 1000;
}

int Mp3FrameBytes(const TMp3Header& h, int bitRateIndex) {
    int factor = h.Version == 1 ? 144 : 72;
    return factor * Mp3BitRate(h, bitRateIndex) / h.SampleRate;
}

int Mp3MainDataBegin(const uint8_t* frame, const TMp3Header& h) {
    const uint8_t* side = frame + 4 + (h.Crc ? 2 : 0);
    return h.Version == 1 ? (side[0] << 1 | side[1] >> 7) : side[0];
}

TMp3InfoTag ReadMp3InfoTag(const uint8_t* frame, size_t bytes, const TMp3Header& h) {
    TMp3InfoTag tag;
    size_t at = 4 + (h.Crc ? 2 : 0) + size_t(h.SideInfoBytes);
    if (bytes >= 36 + 26 && std::memcmp(frame + 36, "VBRI", 4) == 0) {
        tag.Present = true;
        tag.HasFrames = true;
        tag.Frames = ReadBE32(frame + 36 + 14);
        return tag;
    }
    if (bytes < at + 8 || (std::memcmp(frame + at, "Xing", 4) != 0 && std::memcmp(frame + at, "Info", 4) != 0))
        return tag;
    tag.Present = true;
    uint32_t flags = ReadBE32(frame + at + 4);
    at += 8;
    if ((flags & 1) && at + 4 <= bytes) {
        tag.HasFrames = true;
        tag.Frames = ReadBE32(frame + at);
        at += 4;
    }
    if (flags & 2) at += 4;
    if (flags & 4) at += 100;
    if ((flags & 8) && at + 4 <= bytes) {
        std::memcpy(tag.Quality, frame + at, 4);
        at += 4;
    }
    if (at + 24 > bytes) return tag;
    const uint8_t* lame = frame + at;
    // The encoders whose extension the common decoders read the delay and padding from.
    bool known = std::memcmp(lame, "LAME", 4) == 0 || std::memcmp(lame, "Lavf", 4) == 0 ||
                 std::memcmp(lame, "Lavc", 4) == 0;
    if (!known) return tag;
    tag.HasLame = true;
    std::memcpy(tag.Lame, lame, sizeof tag.Lame);
    tag.Delay = lame[21] << 4 | lame[22] >> 4;
    tag.Padding = (lame[22] & 15) << 8 | lame[23];
    return tag;
}

bool TMp3FrameWalk::HeaderAt(int64_t offset, TMp3Header& header, TMp3HeaderKind* kind) {
    uint8_t bytes[4];
    if (offset + 4 > FEnd || !FReader.Read(offset, 4, bytes)) return false;
    TMp3HeaderKind k = ParseMp3Header(ReadBE32(bytes), header);
    if (kind) *kind = k;
    return k == TMp3HeaderKind::Valid && offset + header.FrameBytes <= FEnd;
}

bool TMp3FrameWalk::First(int64_t offset) {
    FreeFormat = false;
    return Resync(offset, nullptr);
}

// The next offset at or after `offset` that starts a frame (of `stream`, when given) followed by
// another frame of the same stream, or a last frame that ends exactly at the end.
bool TMp3FrameWalk::Resync(int64_t offset, const TMp3Header* stream) {
    int64_t limit = std::min(FEnd, offset + kMaxResyncBytes);
    for (int64_t at = offset; at + 4 <= limit; ++at) {
        size_t available = 0;
        const uint8_t* p = FReader.Peek(at, 1, available);
        if (!p || *p != 0xFF) continue;
        TMp3Header h, next;
        TMp3HeaderKind kind;
        if (!HeaderAt(at, h, &kind)) {
            if (kind == TMp3HeaderKind::FreeFormat && !stream) {
                FreeFormat = true;
                return false;
            }
            continue;
        }
        if (stream && !h.SameStream(*stream)) continue;
        int64_t after = at + h.FrameBytes;
        if (after != FEnd && !(HeaderAt(after, next) && next.SameStream(h))) continue;
        if (Offset >= 0) SkippedBytes += at - offset;
        Offset = at;
        Header = h;
        return true;
    }
    return false;
}

bool TMp3FrameWalk::Next() {
    int64_t after = Offset + Header.FrameBytes;
    TMp3Header h;
    if (HeaderAt(after, h) && h.SameStream(Header)) {
        Offset = after;
        Header = h;
        return true;
    }
    TMp3Header stream = Header;
    return Resync(after, &stream);
}
