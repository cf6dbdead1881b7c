#include "FlacFrames.h"
#include "Id3v2Frames.h"

#include <array>
#include <cstring>

namespace {

constexpr int kStreamInfo = 0;
constexpr size_t kMaxHeader = 16;
constexpr int64_t kSearchBytes = 1 << 20; // how far a frame header is looked for

const std::array<uint8_t, 256>& Crc8Table() {
    static const std::array<uint8_t, 256> table = [] {
        std::array<uint8_t, 256> t{};
        for (int i = 0; i < 256; ++i) {
            uint8_t r = uint8_t(i);
            for (int b = 0; b < 8; ++b)
                r = uint8_t((r & 0x80) ? (r << 1) ^ 0x07 : r << 1);
            t[size_t(i)] = r;
        }
        return t;
    }();
    return table;
}

const std::array<uint16_t, 256>& Crc16Table() {
    static const std::array<uint16_t, 256> table = [] {
        std::array<uint16_t, 256> t{};
        for (int i = 0; i < 256; ++i) {
            uint16_t r = uint16_t(i << 8);
            for (int b = 0; b < 8; ++b)
                r = uint16_t((r & 0x8000) ? (r << 1) ^ 0x8005 : r << 1);
            t[size_t(i)] = r;
        }
        return t;
    }();
    return table;
}

uint8_t Crc8(const uint8_t* p, size_t n) {
    const auto& t = Crc8Table();
    uint8_t crc = 0;
    for (size_t i = 0; i < n; ++i)
        crc = t[crc ^ p[i]];
    return crc;
}

uint16_t Crc16(const uint8_t* p, size_t n) {
    const auto& t = Crc16Table();
    uint16_t crc = 0;
    for (size_t i = 0; i < n; ++i)
        crc = uint16_t(crc << 8 ^ t[(crc >> 8 ^ p[i]) & 0xFF]);
    return crc;
}

// The frame or sample number as the header codes it (UTF-8 style, up to 36 bits).
bool ReadCodedNumber(const uint8_t* p, size_t available, int64_t& value, int& bytes) {
    uint8_t lead = p[0];
    int extra = lead < 0x80    ? 0
                : lead < 0xC0  ? -1
                : lead < 0xE0  ? 1
                : lead < 0xF0  ? 2
                : lead < 0xF8  ? 3
                : lead < 0xFC  ? 4
                : lead < 0xFE  ? 5
                : lead == 0xFE ? 6
                               : -1;
    if (extra < 0 || size_t(extra) + 1 > available) return false;
    value = extra == 0 ? lead : lead & (0x3F >> extra);
    for (int i = 1; i <= extra; ++i) {
        if ((p[i] & 0xC0) != 0x80) return false;
        value = value << 6 | (p[i] & 0x3F);
    }
    bytes = extra + 1;
    return true;
}

void WriteCodedNumber(int64_t value, std::vector<uint8_t>& out) {
    if (value < 0x80) {
        out.push_back(uint8_t(value));
        return;
    }
    int extra = value < 0x800          ? 1
                : value < 0x10000      ? 2
                : value < 0x200000     ? 3
                : value < 0x4000000    ? 4
                : value < 0x80000000LL ? 5
                                       : 6;
    uint8_t lead = extra == 6 ? 0xFE : uint8_t(0xFF00 >> (extra + 1));
    out.push_back(uint8_t(lead | (value >> (6 * extra))));
    for (int i = extra - 1; i >= 0; --i)
        out.push_back(uint8_t(0x80 | ((value >> (6 * i)) & 0x3F)));
}

int BlockSizeOfCode(int code) {
    if (code == 1) return 192;
    if (code >= 2 && code <= 5) return 576 << (code - 2);
    if (code >= 8) return 256 << (code - 8);
    return 0; // 0: reserved; 6 and 7: given after the number
}

// Appends bits most significant first.
class TBitWriter {
public:
    explicit TBitWriter(std::vector<uint8_t>& out) : FOut(out) {}
    void Put(uint32_t value, int bits) {
        for (int i = bits - 1; i >= 0; --i) {
            FByte = uint8_t(FByte << 1 | ((value >> i) & 1));
            if (++FCount == 8) {
                FOut.push_back(FByte);
                FByte = 0;
                FCount = 0;
            }
        }
    }
    void Align() {
        if (FCount > 0) Put(0, 8 - FCount);
    }

private:
    std::vector<uint8_t>& FOut;
    uint8_t FByte = 0;
    int FCount = 0;
};

void AppendChecksum16(std::vector<uint8_t>& frame, uint16_t flip) {
    uint16_t crc = uint16_t(Crc16(frame.data(), frame.size()) ^ flip);
    frame.push_back(uint8_t(crc >> 8));
    frame.push_back(uint8_t(crc));
}

} // namespace

bool ReadFlacMetadata(TByteReader& reader, TFlacInfo& info, std::vector<TFlacBlock>& blocks,
                      int64_t& id3Bytes, int64_t& audio, std::string& reason) {
    uint8_t head[4];
    id3Bytes = Id3v2TagBytes(reader);
    if (!reader.Read(id3Bytes, 4, head) || std::memcmp(head, "fLaC", 4) != 0) {
        reason = "no FLAC stream marker";
        return false;
    }
    int64_t at = id3Bytes + 4;
    bool last = false;
    while (!last) {
        uint8_t h[4];
        if (!reader.Read(at, 4, h)) {
            reason = "the metadata blocks end early";
            return false;
        }
        TFlacBlock block;
        block.Type = h[0] & 0x7F;
        block.Offset = at;
        block.Size = int64_t(h[1]) << 16 | int64_t(h[2]) << 8 | h[3];
        last = h[0] & 0x80;
        if (block.Type == 127 || at + 4 + block.Size > reader.Size()) {
            reason = "a metadata block is damaged";
            return false;
        }
        if (block.Type == kStreamInfo) {
            uint8_t s[34];
            if (block.Size < 34 || !reader.Read(at + 4, 34, s)) {
                reason = "the stream information is too short";
                return false;
            }
            info.MinBlock = ReadBE16(s);
            info.MaxBlock = ReadBE16(s + 2);
            info.SampleRate = int(ReadBE32(s + 10) >> 12);
            info.Channels = ((s[12] >> 1) & 7) + 1;
            info.BitsPerSample = ((s[12] & 1) << 4 | s[13] >> 4) + 1;
            info.TotalSamples = int64_t(s[13] & 0x0F) << 32 | ReadBE32(s + 14);
        }
        blocks.push_back(block);
        at += 4 + block.Size;
    }
    if (blocks.empty() || blocks[0].Type != kStreamInfo || info.SampleRate <= 0) {
        reason = "the stream information is missing";
        return false;
    }
    audio = at;
    return true;
}

std::vector<uint8_t> FlacStreamInfo(const TFlacInfo& info) {
    std::vector<uint8_t> s(34, 0);
    s[0] = uint8_t(info.MinBlock >> 8), s[1] = uint8_t(info.MinBlock);
    s[2] = uint8_t(info.MaxBlock >> 8), s[3] = uint8_t(info.MaxBlock);
    // Bytes 4-9: the smallest and largest frame sizes, 0: unknown. 18-33: MD5, 0: not computed.
    uint64_t packed = uint64_t(info.SampleRate) << 44 | uint64_t(info.Channels - 1) << 41 |
                      uint64_t(info.BitsPerSample - 1) << 36 | uint64_t(info.TotalSamples & 0xFFFFFFFFFLL);
    for (int i = 0; i < 8; ++i)
        s[10 + size_t(i)] = uint8_t(packed >> (56 - 8 * i));
    return s;
}

bool TFlacFrameWalk::ParseHeader(int64_t offset, TFlacFrame& frame) {
    size_t available = 0;
    const uint8_t* p = FReader.Peek(offset, kMaxHeader, available);
    if (!p || available < 6 || p[0] != 0xFF || (p[1] & 0xFE) != 0xF8) return false;
    int blockCode = p[2] >> 4, rateCode = p[2] & 0x0F, channelCode = p[3] >> 4, sizeCode = (p[3] >> 1) & 7;
    if (blockCode == 0 || rateCode == 15 || channelCode > 10 || sizeCode == 3 || sizeCode == 7 || (p[3] & 1))
        return false;
    int channels = channelCode < 8 ? channelCode + 1 : 2;
    if (channels != FInfo.Channels) return false;
    int64_t number = 0;
    int numberBytes = 0;
    if (!ReadCodedNumber(p + 4, available - 4, number, numberBytes)) return false;
    size_t at = 4 + size_t(numberBytes);
    int blockSize = BlockSizeOfCode(blockCode);
    if (blockCode == 6 || blockCode == 7) {
        size_t n = blockCode == 6 ? 1 : 2;
        if (at + n > available) return false;
        blockSize = (n == 1 ? p[at] : ReadBE16(p + at)) + 1;
        at += n;
    }
    int rateBytes = rateCode == 12 ? 1 : (rateCode == 13 || rateCode == 14) ? 2 : 0;
    if (at + size_t(rateBytes) + 1 > available) return false;
    frame.RateByteCount = rateBytes;
    std::memcpy(frame.RateBytes, p + at, size_t(rateBytes));
    at += size_t(rateBytes);
    if (Crc8(p, at) != p[at]) return false;
    bool fixed = !(p[1] & 1);
    frame.Offset = offset;
    frame.Bytes = 0;
    frame.BlockSize = blockSize;
    frame.FirstSample = fixed ? number * FInfo.MaxBlock : number;
    frame.HeaderBytes = int(at + 1);
    frame.NumberAt = 4;
    frame.NumberBytes = numberBytes;
    frame.Codes[0] = p[2];
    frame.Codes[1] = p[3];
    return true;
}

bool TFlacFrameWalk::Find(int64_t offset, int64_t nextSample, TFlacFrame& frame) {
    int64_t end = AudioEnd > 0 ? AudioEnd : FReader.Size();
    int64_t limit = std::min(end, offset + kSearchBytes);
    while (offset + 6 <= limit) {
        size_t available = 0;
        // Small requests keep the reader's window: a request past its end refills it.
        const uint8_t* p =
            FReader.Peek(offset, size_t(std::min<int64_t>(limit - offset, 64 << 10)), available);
        if (!p || available < 2) return false;
        const void* hit = std::memchr(p, 0xFF, available - 1);
        if (!hit) {
            offset += int64_t(available - 1);
            continue;
        }
        offset += static_cast<const uint8_t*>(hit) - p;
        if (ParseHeader(offset, frame) && (nextSample < 0 || frame.FirstSample == nextSample)) return true;
        ++offset;
    }
    return false;
}

bool TFlacFrameWalk::Next(TFlacFrame& frame) {
    TFlacFrame next;
    int64_t end = AudioEnd > 0 ? AudioEnd : FReader.Size();
    // The smallest frame: header, one bit per subframe's header byte, checksum.
    int64_t from = frame.Offset + frame.HeaderBytes + FInfo.Channels + 2;
    if (!Find(from, frame.FirstSample + frame.BlockSize, next)) {
        frame.Bytes = end - frame.Offset;
        // No frame follows: the end of the audio, unless the stream says that more samples follow
        // or the bytes left hold a frame header (that does not continue the numbering).
        Lost = (FInfo.TotalSamples > 0 && frame.FirstSample + frame.BlockSize < FInfo.TotalSamples) ||
               Find(from, -1, next);
        return false;
    }
    frame.Bytes = next.Offset - frame.Offset;
    frame = next;
    return true;
}

std::vector<uint8_t> RenumberFlacFrame(const std::vector<uint8_t>& frame, const TFlacFrame& place,
                                       int64_t firstSample) {
    // The frame's own error, if any, so that the new checksum shows it too.
    size_t body = frame.size() - 2;
    uint16_t flip = uint16_t(Crc16(frame.data(), body) ^ (frame[body] << 8 | frame[body + 1]));
    std::vector<uint8_t> out = {0xFF, 0xF9, frame[2], frame[3]};
    WriteCodedNumber(firstSample, out);
    size_t rest = size_t(place.NumberAt + place.NumberBytes);
    out.insert(out.end(), frame.begin() + int64_t(rest), frame.begin() + place.HeaderBytes - 1);
    out.push_back(Crc8(out.data(), out.size()));
    out.insert(out.end(), frame.begin() + place.HeaderBytes, frame.begin() + int64_t(body));
    AppendChecksum16(out, flip);
    return out;
}

std::vector<uint8_t> VerbatimFlacFrame(const TFlacInfo& info, const TFlacFrame& model,
                                       const std::vector<int32_t>& samples, int frames, int64_t firstSample) {
    std::vector<uint8_t> out = {0xFF, 0xF9, uint8_t(0x70 | (model.Codes[0] & 0x0F)),
                                uint8_t((info.Channels - 1) << 4 | (model.Codes[1] & 0x0F))};
    WriteCodedNumber(firstSample, out);
    out.push_back(uint8_t((frames - 1) >> 8));
    out.push_back(uint8_t(frames - 1));
    out.insert(out.end(), model.RateBytes, model.RateBytes + model.RateByteCount);
    out.push_back(Crc8(out.data(), out.size()));
    TBitWriter bits(out);
    int width = info.BitsPerSample;
    uint32_t mask = width == 32 ? 0xFFFFFFFFu : (1u << width) - 1;
    for (int c = 0; c < info.Channels; ++c) {
        bits.Put(0x02, 8); // zero bit, type 000001 (verbatim), no wasted bits
        for (int i = 0; i < frames; ++i)
            bits.Put(uint32_t(samples[size_t(i * info.Channels + c)]) & mask, width);
    }
    bits.Align();
    AppendChecksum16(out, 0);
    return out;
}
