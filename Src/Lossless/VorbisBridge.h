// The codec side of a lossless Vorbis delete, through the loaded libraries: decoding copied
// packets with the stream's own headers, and an encoder whose setup header (codebooks, floors,
// residues, modes) is byte for byte the stream's, so that the bridge packets it gives decode
// with the copied headers.
#pragma once

#include "FFOwners.h"
#include "CodecSupport.h"

#include <cstdint>
#include <string>
#include <vector>

using TVorbisPackets = std::vector<std::vector<uint8_t>>;

// Decodes audio packets in order with the stream's three headers. The first packet gives no
// samples (it only overlaps the second); the others give what they add to the stream.
bool DecodeVorbisPackets(const TVorbisPackets& headers, const TVorbisPackets& packets, TPcmBlock& pcm,
                         std::string& error);

// A setting of the libraries' libvorbis encoder: an average bit rate, or a quality.
struct TVorbisSetting {
    int64_t BitRate = 0;   // bit/s; 0: Quality applies
    int GlobalQuality = 0; // the libraries' global quality: oggenc's -1..10 times FF_QP2LAMBDA
    std::string Describe() const;
};

class TVorbisBridgeEncoder {
public:
    // Looks for a setting whose headers match the stream's identification (rate, channels, block
    // sizes) and setup header: the nominal bit rate, then the quality that gives it and qualities
    // in steps of 0.1 around it (every quality when the stream states no nominal rate). False
    // with the reason when none does (another encoder made it).
    bool Find(const TVorbisPackets& headers, std::string& error);
    // Encodes `pcm` from its first sample on and flushes; the audio packets land in `packets`.
    // Packet 0 is a block centred on pcm sample 0, as every packet's centre lies where the
    // samples it adds end.
    bool Encode(const TPcmBlock& pcm, TVorbisPackets& packets, std::string& error) const;

    TVorbisSetting Setting;
    int Tries = 0; // encoder settings opened by Find()

private:
    // Opens the encoder at `setting`; true (and Setting) when its headers are the stream's.
    bool Try(const TVorbisSetting& setting, int64_t& nominal);
    int QualityOfRate(int64_t nominal, bool& found);

    TVorbisPackets FHeaders;
    TCodecContextPtr FDecoder; // opened with the stream's headers: its rate and channel layout
};
