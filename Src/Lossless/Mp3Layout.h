// What the MP3 cutters share: the layout of an MP3 file around its frames (ID3 tags, the info
// frame and what it says a decoder skips) and writing a cut behind a new info frame.
#pragma once

#include "LosslessFormats.h"
#include "Mp3InfoFrame.h"

#include <vector>

struct TMp3Layout {
    int64_t Id3v2Bytes = 0;
    int64_t AudioEnd = 0;   // before a trailing ID3v1 tag
    int64_t Id3v1From = -1; // the trailing ID3v1 tag, when there is one
    TMp3InfoTag Tag;
    int64_t SkipRaw = 0; // raw samples a decoder drops at the start
    int64_t EndRaw = -1; // raw sample where the decoded audio ends, -1: at the last frame
};

// Reads the tags, finds the first frame and reads its info frame; `walk` is left on the first
// audio frame and `stream` holds the stream's first header. Not Possible: the reason.
TLosslessCheck ReadMp3Layout(TByteReader& reader, TMp3FrameWalk& walk, TMp3Layout& layout,
                             TMp3Header& stream);

// One piece of a cut's audio: a byte range of the input, or bytes of its own.
struct TMp3Piece {
    int64_t From = 0, To = 0;
    std::vector<uint8_t> Bytes; // used when not empty
};

// The input's ID3v2 tag (less the frames a cut makes stale), the info frame of `fields`, the
// pieces, the input's ID3v1 tag.
bool WriteMp3Cut(const std::string& input, const std::string& output, const TMp3Layout& layout,
                 const TMp3InfoFields& fields, const std::vector<TMp3Piece>& pieces, std::string& error);

std::unique_ptr<TLosslessPlan> PlanMp3Select(const std::string& input, int64_t startMs, int64_t endMs,
                                             TLosslessCheck& check);
std::unique_ptr<TLosslessPlan> PlanMp3Delete(const std::string& input, int64_t startMs, int64_t endMs,
                                             TLosslessCheck& check);
