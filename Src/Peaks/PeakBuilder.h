// Builds the min/max summary of a file's audio in the background: opening, decoding and
// summarising run on named threads ("peaks", and "peaks-2" for the second half of a seekable
// file, so that both cores decode). The view reads the summary while it grows; Stop ends a build
// within one packet. Uses the loaded media libraries (avcodec, avformat, avutil).
#pragma once

#include "PeakSummary.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

enum class TPeakState { Idle, Opening, Building, Done, Failed, Stopped };

struct TPeakOptions {
    int BinFrames = TPeakSummary::kBaseBinFrames;
    int Columns = 0;     // > 0: instead of BinFrames, as many frames per bin as make this many bins
    int64_t StartMs = 0; // the summary's bin 0 starts here
    int64_t EndMs = -1;  // -1: the end of the file
    int Threads = 2;     // decoding threads for a seekable file
};

// A range of timeline frames [First, End).
struct TFrameRange {
    int64_t First = 0;
    int64_t End = 0;
};

class TPeakBuilder {
public:
    TPeakBuilder() = default;
    ~TPeakBuilder();
    TPeakBuilder(const TPeakBuilder&) = delete;
    TPeakBuilder& operator=(const TPeakBuilder&) = delete;

    // Stops a running build and starts one for `fileName`. Returns at once.
    void Start(const std::string& fileName, const TPeakOptions& options = {});
    // Stops the build and waits for its threads (serving main-thread calls while it waits).
    void Stop();
    // Waits until the build has ended; true when it is Done.
    bool Wait();

    TPeakState State() const;
    std::string LastError() const;
    std::string FileName() const;
    // Null until the file is open. Shared so that a view may keep drawing a summary it holds.
    std::shared_ptr<const TPeakSummary> Summary() const;
    // The length of the timeline in frames: the end asked for, else the container's estimate, or
    // the decoded length when that is longer; -1 unknown. Frames past DecodedFrames() that the
    // file promised but did not deliver are the view's to mark.
    int64_t TotalFrames() const;
    int64_t DecodedFrames() const; // the end of the last range decoded
    // The ranges decoded so far; empty bins inside them are gaps the file could not fill.
    std::vector<TFrameRange> BuiltRanges() const;
    double Progress() const; // 0..1
    int DecodeErrors() const;

    // Called on a build thread when the summary has grown (about every 30 ms) and once when the
    // build ends. Set before Start; must not block.
    std::function<void()> OnProgress;

private:
    struct TBuild;
    std::shared_ptr<TBuild> FBuild; // the current build; replaced only on the caller's thread
};
