// What the Ogg cutter needs of the codecs it copies: the stream's parameters from its headers
// and the number of samples each audio packet adds to the decoded stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

enum class TOggCodec { Unknown, Vorbis, Opus };

struct TOggStream {
    TOggCodec Codec = TOggCodec::Unknown;
    int HeaderPackets = 0; // Vorbis 3, Opus 2
    int SampleRate = 0;    // of the decoded audio (Opus: 48 kHz)
    int PreSkip = 0;       // Opus: samples decoders drop at the start
    // Vorbis: the two block sizes and, per mode, whether it uses the long one.
    int BlockSizes[2] = {0, 0};
    std::vector<bool> LongModes;
    int ModeBits = 0;
};

// The codec of a stream's first packet; false when it is none of those above or damaged.
bool ReadOggIdentification(const uint8_t* data, size_t size, TOggStream& stream);
// Vorbis: reads the modes from the setup header (the third packet). False when not found.
bool ReadVorbisSetup(const uint8_t* data, size_t size, TOggStream& stream);

// Samples an audio packet adds, -1 when it is not an audio packet of the stream. Vorbis counts
// the overlap with the packet before (`previousBlock`, 0 for the stream's first packet, which
// adds none) and sets `previousBlock` to this packet's block size.
// Opus: the samples of one frame of a packet whose TOC byte is `toc`, at 48 kHz.
int OpusFrameSamples(uint8_t toc);

int64_t OggPacketSamples(const TOggStream& stream, const uint8_t* data, size_t size, int& previousBlock);
