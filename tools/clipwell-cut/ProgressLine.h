// The progress display of clipwell-cut --progress. On a terminal it is one line redrawn in place:
// the percentage, a bar and the time left ("  42.50% [########............] 0:07 left"). Anywhere
// else it prints the workflow's own progress texts, one a line, each once.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <utility>

// The terminal line for `percent` (0..100) in at most columns - 1 characters (the last column
// would make some terminals wrap). seconds: the time left, < 0 when not known yet; with done
// the time the save took.
std::string FormatProgressLine(double percent, double seconds, bool done, int columns);
// "0:07", "12:30", "1:02:03".
std::string FormatDuration(double seconds);

class TProgressDisplay {
public:
    // fd: where to write (stderr); whether it is a terminal decides the form.
    explicit TProgressDisplay(int fd);

    // One progress event: the bar position (0..100) and its text ("Progress: 25.00%").
    // Called on the conversion threads, one at a time.
    void Show(int32_t position, const std::string& text);
    // Ends a drawn line, so that a message written next starts on a line of its own.
    void BreakLine();
    // The save ended: a finished one draws its last line at 100%.
    void Finish(bool done);

    bool OnTerminal() const { return FTerminal; }

private:
    using TClock = std::chrono::steady_clock;

    void Draw(double percent, bool done); // FLock held
    double SecondsLeft(double percent);   // FLock held; < 0 when not known
    void Write(const std::string& text) const;
    int Columns() const;

    const int FFd;
    const bool FTerminal;
    const TClock::time_point FStart = TClock::now();

    std::mutex FLock;            // guards the fields below (conversion threads and the main thread)
    std::string FLastText;       // the last text printed as a line
    double FPercent = 0.0;       // the last percentage drawn
    size_t FDrawnLength = 0;     // characters of the line on the terminal, 0: no line open
    TClock::time_point FDrawnAt; // when it was drawn
    // Recent (seconds since the start, percent) pairs: the pace of the last few seconds, since
    // the steps of a save (PCM parts, then an encoding join) do not run at one speed.
    std::deque<std::pair<double, double>> FRecent;
};
