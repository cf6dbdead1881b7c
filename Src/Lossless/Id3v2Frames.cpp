#include "Id3v2Frames.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {

constexpr size_t kHeaderBytes = 10;

uint32_t SyncSafe(const uint8_t* p) {
    return uint32_t(p[0]) << 21 | uint32_t(p[1]) << 14 | uint32_t(p[2]) << 7 | p[3];
}

bool IsFrameId(const uint8_t* p) {
    for (int i = 0; i < 4; ++i)
        if (!((p[i] >= 'A' && p[i] <= 'Z') || (p[i] >= '0' && p[i] <= '9'))) return false;
    return true;
}

// The description of a COMM or TXXX frame, its text encoding honoured; characters outside ASCII
// become '?' (the descriptions looked for are ASCII).
std::string Description(const uint8_t* text, size_t size, uint8_t encoding) {
    std::string out;
    if (encoding == 0 || encoding == 3) {
        for (size_t i = 0; i < size && text[i] != 0; ++i)
            out += text[i] < 0x80 ? char(text[i]) : '?';
        return out;
    }
    bool bigEndian = encoding == 2;
    size_t i = 0;
    if (encoding == 1 && size >= 2 && (text[0] == 0xFE || text[0] == 0xFF) && (text[0] ^ text[1]) == 0x01) {
        bigEndian = text[0] == 0xFE;
        i = 2;
    }
    for (; i + 1 < size; i += 2) {
        unsigned unit = bigEndian ? text[i] << 8 | text[i + 1] : text[i + 1] << 8 | text[i];
        if (unit == 0) break;
        out += unit < 0x80 ? char(unit) : '?';
    }
    return out;
}

struct TFrame {
    const uint8_t* Id;
    const uint8_t* Content;
    size_t ContentBytes;
    bool Plain; // neither compressed, encrypted, grouped nor unsynchronised: the content is readable
};

bool IsStale(const TFrame& frame) {
    if (std::memcmp(frame.Id, "TLEN", 4) == 0) return true;
    bool comment = std::memcmp(frame.Id, "COMM", 4) == 0;
    if (!frame.Plain || frame.ContentBytes < 1 || !(comment || std::memcmp(frame.Id, "TXXX", 4) == 0))
        return false;
    size_t skip = comment ? 4 : 1; // the encoding byte, and a comment's language
    if (frame.ContentBytes < skip) return false;
    return Description(frame.Content + skip, frame.ContentBytes - skip, frame.Content[0]) == "iTunSMPB";
}

} // namespace

int64_t Id3v2TagBytes(TByteReader& reader) {
    uint8_t h[kHeaderBytes];
    if (!reader.Read(0, kHeaderBytes, h) || std::memcmp(h, "ID3", 3) != 0) return 0;
    if ((h[6] | h[7] | h[8] | h[9]) & 0x80) return 0;
    int64_t size = int64_t(kHeaderBytes) + SyncSafe(&h[6]);
    if (h[5] & 0x10) size += int64_t(kHeaderBytes); // footer
    return std::min(size, reader.Size());
}

bool CopyId3v2Tag(TByteReader& in, int64_t bytes, TByteWriter& out) {
    if (bytes <= 0) return true;
    std::vector<uint8_t> tag(static_cast<size_t>(bytes));
    if (!in.Read(0, tag.size(), tag.data())) return false;
    tag = WithoutStaleLengthFrames(std::move(tag));
    out.Write(tag.data(), tag.size());
    return true;
}

std::vector<uint8_t> WithoutStaleLengthFrames(std::vector<uint8_t> tag) {
    if (tag.size() < kHeaderBytes || std::memcmp(tag.data(), "ID3", 3) != 0) return tag;
    int version = tag[3];
    if ((version != 3 && version != 4) || (tag[5] & 0xD0) != 0) return tag;
    size_t end = kHeaderBytes + SyncSafe(&tag[6]);
    if (end > tag.size()) return tag;

    std::vector<uint8_t> out(tag.begin(), tag.begin() + kHeaderBytes);
    size_t at = kHeaderBytes;
    while (at + kHeaderBytes <= end && tag[at] != 0) {
        const uint8_t* head = &tag[at];
        if (!IsFrameId(head)) return tag;
        if (version == 4 && ((head[4] | head[5] | head[6] | head[7]) & 0x80)) return tag;
        size_t bytes = version == 4 ? SyncSafe(head + 4) : size_t(head[4]) << 24 | head[5] << 16 | head[6] << 8 | head[7];
        if (bytes > end - at - kHeaderBytes) return tag;
        uint8_t format = head[9];
        bool plain = version == 4 ? (format & 0x4F) == 0 : (format & 0xE0) == 0;
        TFrame frame{head, head + kHeaderBytes, bytes, plain};
        if (!IsStale(frame)) out.insert(out.end(), head, head + kHeaderBytes + bytes);
        at += kHeaderBytes + bytes;
    }
    out.resize(tag.size(), 0); // padding where the blanked frames were, the rest as it was
    std::copy(tag.begin() + std::ptrdiff_t(end), tag.end(), out.begin() + std::ptrdiff_t(end));
    return out;
}
