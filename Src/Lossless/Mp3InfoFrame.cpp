#include "Mp3InfoFrame.h"

#include <cstring>

namespace {

constexpr int kXingBytes = 120; // tag, flags, frames, bytes, seek table, quality
constexpr int kLameBytes = 36;
// The extension's encoder text when the input had none; the common decoders read delay and
// padding only behind one of the texts they know.
constexpr char kEncoderText[9] = {'L', 'a', 'v', 'f', 0, 0, 0, 0, 0};

int InfoBitRateIndex(const TMp3InfoFields& f, int needed) {
    // A constant-rate stream keeps its bitrate, so that players that assume one see it.
    if (f.Cbr && Mp3FrameBytes(f.Stream, f.Stream.BitRateIndex) >= needed) return f.Stream.BitRateIndex;
    for (int index = 1; index < 15; ++index)
        if (Mp3FrameBytes(f.Stream, index) >= needed) return index;
    return 14;
}

uint32_t InfoHeaderWord(const TMp3Header& stream, int bitRateIndex) {
    uint32_t word = stream.Word;
    word &= ~(1u << 9);                  // no padding
    word |= 1u << 16;                    // no CRC
    word &= ~(15u << 12);                // bitrate
    word |= uint32_t(bitRateIndex) << 12;
    word &= ~(3u << 4);                  // no mode extension
    return word;
}

} // namespace

uint16_t Mp3TagCrc(const uint8_t* data, size_t count) {
    uint16_t crc = 0;
    for (size_t i = 0; i < count; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
    }
    return crc;
}

std::vector<uint8_t> BuildMp3InfoFrame(const TMp3InfoFields& f) {
    int tagAt = 4 + f.Stream.SideInfoBytes;
    int index = InfoBitRateIndex(f, tagAt + kXingBytes + kLameBytes);
    std::vector<uint8_t> frame(size_t(Mp3FrameBytes(f.Stream, index)), 0);
    WriteBE32(frame.data(), InfoHeaderWord(f.Stream, index));

    uint8_t* xing = frame.data() + tagAt;
    std::memcpy(xing, f.Cbr ? "Info" : "Xing", 4);
    WriteBE32(xing + 4, 0x0F); // frames, bytes, seek table, quality
    int64_t totalBytes = int64_t(frame.size()) + f.AudioBytes;
    WriteBE32(xing + 8, uint32_t(f.Frames));
    WriteBE32(xing + 12, uint32_t(totalBytes));
    for (int i = 0; i < 100; ++i) {
        int64_t at = int64_t(frame.size()) + f.TocOffsets[size_t(i)];
        xing[16 + i] = uint8_t(std::min<int64_t>(255, at * 256 / std::max<int64_t>(1, totalBytes)));
    }
    std::memcpy(xing + 116, f.Source.Quality, 4);

    uint8_t* lame = xing + kXingBytes;
    if (f.Source.HasLame) {
        std::memcpy(lame, f.Source.Lame, sizeof f.Source.Lame);
        std::memset(lame + 11, 0, 8); // peak and replay gains were measured on the whole input
    } else {
        std::memcpy(lame, kEncoderText, sizeof kEncoderText);
    }
    lame[21] = uint8_t(f.Delay >> 4);
    lame[22] = uint8_t((f.Delay & 15) << 4 | (f.Padding >> 8));
    lame[23] = uint8_t(f.Padding);
    WriteBE32(lame + 28, uint32_t(totalBytes));
    uint16_t crc = Mp3TagCrc(frame.data(), size_t(lame + 34 - frame.data()));
    lame[34] = uint8_t(crc >> 8);
    lame[35] = uint8_t(crc);
    return frame;
}
