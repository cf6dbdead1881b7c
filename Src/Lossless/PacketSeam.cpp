#include "PacketSeam.h"

#include "LosslessFormats.h"

TLosslessCheck SeamCheck(int64_t start, int64_t end, int64_t before, int64_t after, int64_t overlap,
                         int rate) {
    TLosslessCheck check = Verdict(TLosslessVerdict::Possible, "");
    check.SampleExact = false;
    check.StartOffsetMs = double(before + overlap / 2 - start) * 1000.0 / rate;
    check.EndOffsetMs = double(after + overlap / 2 - end) * 1000.0 / rate;
    return check;
}

TLosslessCheck OneSideCheck(const TLosslessCheck& select, bool keptEnd, int64_t start, int rate) {
    TLosslessCheck check = select;
    if (check.Verdict != TLosslessVerdict::Possible) return check;
    if (keptEnd) {
        check.EndOffsetMs = select.StartOffsetMs;
        check.StartOffsetMs = double(-start) * 1000.0 / rate;
    } else {
        check.StartOffsetMs = select.EndOffsetMs;
        check.EndOffsetMs = 0.0; // the stream ends there
    }
    check.SampleExact = check.StartOffsetMs == 0.0 && check.EndOffsetMs == 0.0;
    return check;
}
