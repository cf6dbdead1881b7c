// Deletes by whole frames, for codecs whose decoder overlaps each frame with the one before (AAC,
// WMA): the frames before the removed stretch and after it are copied and joined. The frame
// decoded across the join holds the overlap half of the last frame kept before it and the first
// half of the first one after it: a crossfade from the input there to the input at the resumption,
// centred half a frame in (the halves' aliasing, which the two frames' neighbours would cancel,
// stays: measured on noise and tones it keeps the level and makes no click). Before that frame
// and after it the output decodes as the input. Positions are samples of the decoded audio.
#pragma once

#include "LosslessCut.h"

#include <cstdint>

// The frame at which a join at `mark` crossfades: the first frame whose first `overlap`
// samples reach it (so the crossfade's centre lies within half a frame of the mark).
inline bool CrossfadesAt(int64_t position, int64_t overlap, int64_t mark) {
    return position + overlap >= mark;
}

// The check of a join that crossfades the input at `before` (the first sample of that decoded
// frame) into the input at `after`, for the marks [start, end).
TLosslessCheck SeamCheck(int64_t start, int64_t end, int64_t before, int64_t after, int64_t overlap,
                         int rate);

// A delete that reaches the file's start or end keeps one side: its select's check, with the
// distance moved to the mark it belongs to. `keptEnd`: the select kept [end mark, file's end);
// `start` is the delete's start mark (samples) whose stretch before the kept side is lost.
TLosslessCheck OneSideCheck(const TLosslessCheck& select, bool keptEnd, int64_t start, int rate);
