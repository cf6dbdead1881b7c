// ADTS AAC frames for the lossless cutters: the frame header, a walk over the frames between the
// file's tags, and the plan that copies byte ranges of the input between those tags.
#pragma once

#include "ByteFile.h"
#include "LosslessFormats.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// A decoder overlaps each raw data block with the one before: a block's decoded samples are the
// second half of the one before and the first half of its own.
inline constexpr int kAdtsBlockSamples = 1024;

struct TAdtsHeader {
    int Bytes = 0;   // the whole frame's
    int Samples = 0; // decoded from it
    int RateIndex = 0;
    int Channels = 0;
};

int AdtsSampleRate(const TAdtsHeader& h);

// The audio between the tags: an ID3v2 tag before it and an ID3v1 tag after it are kept as they are.
struct TAdtsLayout {
    int64_t Id3Bytes = 0;
    int64_t AudioEnd = 0;   // where the ID3v1 tag begins, or the file's end
    int64_t Id3v1From = -1; // -1: none
};
TAdtsLayout ReadAdtsLayout(TByteReader& reader);

// Walks the frames, each followed by the next (or the end): junk between frames is skipped.
// Position is the first decoded sample of the current frame.
class TAdtsWalk {
public:
    TAdtsWalk(TByteReader& reader, int64_t from, int64_t end) : FReader(reader), FAt(from), FEnd(end) {}
    bool Next();
    int64_t Offset = 0;
    int64_t Position = 0;
    TAdtsHeader Header;
    int64_t SkippedBytes = 0;

private:
    bool Follows(int64_t at, const TAdtsHeader& h);

    TByteReader& FReader;
    int64_t FAt, FEnd;
    bool FStarted = false;
};

// Copies the ID3v2 tag, byte ranges of the frames and the ID3v1 tag.
class TAdtsPlan : public TLosslessPlan {
public:
    bool Write(const std::string& output, std::string& error) override;

    std::string Input;
    TAdtsLayout Layout;
    std::vector<std::pair<int64_t, int64_t>> Ranges; // [from, to) of the input, in order
};

// Whole-frame select of the samples [start, stop) (planned as AdtsCut.cpp describes).
std::unique_ptr<TAdtsPlan> PlanAdtsSelect(const std::string& input, TByteReader& reader, int64_t startMs,
                                          int64_t endMs, TLosslessCheck& check);
std::unique_ptr<TLosslessPlan> PlanAdtsDelete(const std::string& input, TByteReader& reader, int64_t startMs,
                                              int64_t endMs, TLosslessCheck& check);
