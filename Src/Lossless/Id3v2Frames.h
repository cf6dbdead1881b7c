// An ID3v2 tag copied in front of a cut: the frames that describe the whole input's length or
// its encoder's gapless trim (TLEN, an iTunSMPB comment) no longer hold for the cut, and a
// player that reads them would show the old length or trim the wrong samples.
#pragma once

#include <cstdint>
#include <vector>

// `tag` is a whole ID3v2 tag, header included. Returns it with those frames blanked out into the
// tag's padding, so its size stays the same. A tag this cannot walk safely (version 2.2,
// unsynchronised, with an extended header or a footer, a frame that overruns) is returned as it is.
std::vector<uint8_t> WithoutStaleLengthFrames(std::vector<uint8_t> tag);
