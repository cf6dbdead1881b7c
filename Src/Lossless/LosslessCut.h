// Cutting without re-encoding: the marked samples (select) or everything outside them (delete)
// copied from the input's compressed frames, with the exact start and end signalled to the
// decoder where the format can say it. Plan() reads the input's layout and says whether the copy
// is possible; Write() then writes the planned cut. Runs on the caller's thread; no toolkit.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

enum class TLosslessMode { Select, Delete };

enum class TLosslessVerdict {
    Possible,     // Write() copies the file
    NotAvailable, // no copy path for this format, mode or selection: save by re-encoding (a notice)
    Refused,      // the file cannot be copied safely (free format, damaged header): offer re-encoding
};

struct TLosslessCheck {
    TLosslessVerdict Verdict = TLosslessVerdict::NotAvailable;
    std::string Reason; // why not, when not Possible; a sentence without a final full stop
    // Sample-exact formats play exactly the marked samples. For the others the copy starts and
    // ends at frame boundaries, and these say how far from the marks (ms, positive: later).
    bool SampleExact = true;
    double StartOffsetMs = 0.0;
    double EndOffsetMs = 0.0;
};

struct TLosslessPlan;

class TLosslessCutter {
public:
    TLosslessCutter();
    ~TLosslessCutter();
    TLosslessCutter(const TLosslessCutter&) = delete;
    TLosslessCutter& operator=(const TLosslessCutter&) = delete;

    // Plans the cut of the marks [startMs, endMs) of `input` (ms of the decoded audio).
    TLosslessCheck Plan(const std::string& input, TLosslessMode mode, int64_t startMs, int64_t endMs);
    // Writes the planned cut into `output` (created or truncated). False with LastError.
    bool Write(const std::string& output);

    std::string LastError;

private:
    std::unique_ptr<TLosslessPlan> FPlan;
};
