// MPEG audio layer III frames as the MP3 cutter sees them: frame headers, the side information's
// main_data_begin, the Xing/Info frame with its encoder delay and padding, and the frame walk
// that follows a stream through damaged stretches the way a decoder resynchronises.
#pragma once

#include "ByteFile.h"

#include <cstdint>
#include <string>

// Decoders output this many samples of filter delay before the first encoded sample; the delay
// and padding fields of the info frame count without it.
constexpr int kMp3DecoderDelay = 529;
constexpr int kMp3MaxTagDelay = 4095; // 12-bit fields

struct TMp3Header {
    uint32_t Word = 0;
    int Version = 0; // 1: MPEG-1, 2: MPEG-2, 3: MPEG-2.5
    bool Crc = false;
    int BitRateIndex = 0;
    int BitRate = 0; // bit/s
    int SampleRateIndex = 0;
    int SampleRate = 0;
    bool Padding = false;
    int ChannelMode = 0; // 3: mono
    int FrameBytes = 0;
    int SamplesPerFrame = 0;
    int SideInfoBytes = 0;

    int Channels() const { return ChannelMode == 3 ? 1 : 2; }
    // Bytes of main data the frame carries (what follows its header, CRC and side information).
    int MainDataBytes() const { return FrameBytes - 4 - (Crc ? 2 : 0) - SideInfoBytes; }
    // Same stream: version, sample rate and mono/stereo agree.
    bool SameStream(const TMp3Header& other) const {
        return Version == other.Version && SampleRate == other.SampleRate &&
               Channels() == other.Channels();
    }
};

enum class TMp3HeaderKind { Valid, NotAHeader, FreeFormat };

// Parses a 4-byte big-endian header word (layer III only).
TMp3HeaderKind ParseMp3Header(uint32_t word, TMp3Header& header);
// The frame size of `header` with another bitrate index (no padding).
int Mp3FrameBytes(const TMp3Header& header, int bitRateIndex);
int Mp3BitRate(const TMp3Header& header, int bitRateIndex);
// main_data_begin of a frame that starts at `frame` (at least 6 bytes).
int Mp3MainDataBegin(const uint8_t* frame, const TMp3Header& header);

// The Xing/Info frame (or VBRI) at the start of a stream.
struct TMp3InfoTag {
    bool Present = false;   // the first frame is an info frame, not audio
    bool HasFrames = false; // its frame count is known
    int64_t Frames = 0;     // audio frames after it
    bool HasLame = false;   // an encoder extension that decoders read delay and padding from
    int Delay = 0;
    int Padding = 0;
    uint8_t Lame[21] = {};  // the extension's first 21 bytes (encoder, method, lowpass, ...)
    uint8_t Quality[4] = {};
};
// Reads an info frame from the whole frame at `frame` (`header` parsed from it).
TMp3InfoTag ReadMp3InfoTag(const uint8_t* frame, size_t bytes, const TMp3Header& header);

// Walks the frames of a stream from a start offset: each call to Next() moves to the next frame
// of the same stream, skipping bytes that do not start one (a damaged stretch is then left inside
// the byte range the cutter copies, as it was).
class TMp3FrameWalk {
public:
    TMp3FrameWalk(TByteReader& reader, int64_t end) : FReader(reader), FEnd(end) {}
    // Finds the first frame at or after `offset` that is followed by another frame of its
    // stream. Free-format frames set FreeFormat and stop the search.
    bool First(int64_t offset);
    void SetEnd(int64_t end) { FEnd = end; }
    // The frame after the current one; false at the end of the stream.
    bool Next();

    int64_t Offset = -1; // of the current frame
    TMp3Header Header;
    bool FreeFormat = false;
    int64_t SkippedBytes = 0; // bytes skipped between frames so far

private:
    bool HeaderAt(int64_t offset, TMp3Header& header, TMp3HeaderKind* kind = nullptr);
    bool Resync(int64_t offset, const TMp3Header* stream);

    TByteReader& FReader;
    int64_t FEnd;
};
