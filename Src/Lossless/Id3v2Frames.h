// An ID3v2 tag copied in front of a cut: the frames that describe the whole input's length or
// its encoder's gapless trim (TLEN, an iTunSMPB comment) no longer hold for the cut, and a
// player that reads them would show the old length or trim the wrong samples.
#pragma once

#include "ByteFile.h"

#include <cstdint>
#include <vector>

// The bytes of the ID3v2 tag at the start of the file (its footer included), 0 when there is
// none or its size field is not a valid one.
int64_t Id3v2TagBytes(TByteReader& reader);
// Copies the file's first `bytes` (its ID3v2 tag) to `out` without the stale frames below; false
// when they cannot be read.
bool CopyId3v2Tag(TByteReader& in, int64_t bytes, TByteWriter& out);

// `tag` is a whole ID3v2 tag, header included. Returns it with those frames blanked out into the
// tag's padding, so its size stays the same. A tag this cannot walk safely (version 2.2,
// unsynchronised, with an extended header or a footer, a frame that overruns) is returned as it is.
std::vector<uint8_t> WithoutStaleLengthFrames(std::vector<uint8_t> tag);
