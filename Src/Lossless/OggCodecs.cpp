#include "OggCodecs.h"

#include "ByteFile.h"

#include <cstring>

namespace {

int ILog(unsigned v) {
    int bits = 0;
    while (v) {
        ++bits;
        v >>= 1;
    }
    return bits;
}

// Vorbis packs its fields from the least significant bit of each byte on.
unsigned Bits(const uint8_t* data, size_t bit, int count) {
    unsigned v = 0;
    for (int i = 0; i < count; ++i)
        v |= unsigned((data[(bit + size_t(i)) / 8] >> ((bit + size_t(i)) % 8)) & 1) << i;
    return v;
}

bool ReadVorbisIdentification(const uint8_t* p, size_t size, TOggStream& stream) {
    if (size < 30 || std::memcmp(p, "\x01vorbis", 7) != 0) return false;
    stream.Codec = TOggCodec::Vorbis;
    stream.HeaderPackets = 3;
    stream.SampleRate = int(ReadLE32(p + 12));
    stream.BlockSizes[0] = 1 << (p[28] & 0x0F);
    stream.BlockSizes[1] = 1 << (p[28] >> 4);
    return p[11] > 0 && stream.SampleRate > 0 && stream.BlockSizes[0] >= 64 &&
           stream.BlockSizes[0] <= stream.BlockSizes[1] && stream.BlockSizes[1] <= 8192 && (p[29] & 1);
}

bool ReadOpusHead(const uint8_t* p, size_t size, TOggStream& stream) {
    if (size < 19 || std::memcmp(p, "OpusHead", 8) != 0 || (p[8] >> 4) != 0) return false;
    stream.Codec = TOggCodec::Opus;
    stream.HeaderPackets = 2;
    stream.SampleRate = 48000;
    stream.PreSkip = ReadLE16(p + 10);
    return p[9] > 0;
}

} // namespace

int OpusFrameSamples(uint8_t toc) {
    int config = toc >> 3;
    if (config < 12) return (config & 3) == 3 ? 2880 : 480 << (config & 3); // 10, 20, 40, 60 ms
    if (config < 16) return 480 << (config & 1);                            // 10, 20 ms
    return 120 << (config & 3);                                             // 2.5 .. 20 ms
}

bool ReadOggIdentification(const uint8_t* data, size_t size, TOggStream& stream) {
    stream = TOggStream();
    return ReadVorbisIdentification(data, size, stream) || ReadOpusHead(data, size, stream);
}

// The modes close the setup header, before its framing bit, 41 bits each (block flag, window
// and transform type both 0, mapping); their count minus one precedes them in 6 bits. The fields
// before vary in size, so the count is found from the end: the longest run of plausible modes
// whose count field agrees.
bool ReadVorbisSetup(const uint8_t* data, size_t size, TOggStream& stream) {
    if (size < 8 || std::memcmp(data, "\x05vorbis", 7) != 0) return false;
    size_t framing = size * 8;
    while (framing > 7 * 8 && !Bits(data, framing - 1, 1))
        --framing;
    if (framing <= 7 * 8) return false;
    size_t end = framing - 1; // the framing bit
    int count = 0;
    for (int n = 1; n <= 64; ++n) {
        if (end < size_t(41 * n) + 6 + 7 * 8) break;
        size_t mode = end - size_t(41 * n);
        if (Bits(data, mode + 1, 16) != 0 || Bits(data, mode + 17, 16) != 0 || Bits(data, mode + 33, 8) > 63)
            break;
        if (int(Bits(data, mode - 6, 6)) + 1 == n) count = n;
    }
    if (count == 0) return false;
    stream.LongModes.clear();
    for (int i = 0; i < count; ++i)
        stream.LongModes.push_back(Bits(data, end - size_t(41 * (count - i)), 1) != 0);
    stream.ModeBits = ILog(unsigned(count - 1));
    return true;
}

int64_t OggPacketSamples(const TOggStream& stream, const uint8_t* data, size_t size, int& previousBlock) {
    if (size == 0) return stream.Codec == TOggCodec::Opus ? 0 : -1;
    if (stream.Codec == TOggCodec::Opus) {
        int frames = (data[0] & 3) == 0 ? 1 : (data[0] & 3) < 3 ? 2 : size >= 2 ? (data[1] & 0x3F) : -1;
        return frames < 0 ? -1 : int64_t(frames) * OpusFrameSamples(data[0]);
    }
    if (data[0] & 1) return -1; // a header packet
    unsigned mode = Bits(data, 1, stream.ModeBits);
    if (mode >= stream.LongModes.size() || size * 8 < size_t(1 + stream.ModeBits)) return -1;
    int block = stream.BlockSizes[stream.LongModes[mode] ? 1 : 0];
    int64_t samples = previousBlock == 0 ? 0 : previousBlock / 4 + block / 4;
    previousBlock = block;
    return samples;
}
