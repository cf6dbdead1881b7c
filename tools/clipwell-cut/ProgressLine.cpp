// The progress display of clipwell-cut.
#include "ProgressLine.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr int kDefaultColumns = 80;
constexpr int kMaxBarWidth = 40;
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
// The time left is a guess from the pace over this window; shorter spans, or before this share
// is done, it means little.
constexpr double kPaceWindowSeconds = 5.0;
constexpr double kShortestPaceSeconds = 0.5;
constexpr double kEstimateFromPercent = 1.0;

// The percentage of a progress event: the text has two decimals, the position whole percent.
double PercentOf(int32_t position, const std::string& text) {
    double percent = 0.0;
    if (std::sscanf(text.c_str(), "Progress: %lf", &percent) != 1) percent = position;
    return std::clamp(percent, 0.0, 100.0);
}

} // namespace

std::string FormatDuration(double seconds) {
    long long total = std::llround(std::max(seconds, 0.0));
    char text[32];
    if (total >= 3600)
        std::snprintf(text, sizeof(text), "%lld:%02lld:%02lld", total / 3600, total / 60 % 60, total % 60);
    else
        std::snprintf(text, sizeof(text), "%lld:%02lld", total / 60, total % 60);
    return text;
}

std::string FormatProgressLine(double percent, double seconds, bool done, int columns) {
    percent = std::clamp(percent, 0.0, 100.0);
    char head[16];
    std::snprintf(head, sizeof(head), "%6.2f%%", percent);
    std::string tail = done ? "done in " + FormatDuration(seconds)
                            : (seconds < 0 ? std::string("--:--") : FormatDuration(seconds)) + " left";
    int room = columns - 1 - int(std::string(head).size()) - 4 - int(tail.size()); // " [" "] "
    int width = std::min(room, kMaxBarWidth);
    if (width < 5) return std::string(head) + " " + tail;
    int filled = int(std::floor(percent / 100.0 * width));
    return std::string(head) + " [" + std::string(size_t(filled), '#') +
           std::string(size_t(width - filled), '.') + "] " + tail;
}

TProgressDisplay::TProgressDisplay(int fd) : FFd(fd), FTerminal(::isatty(fd) == 1) {}

void TProgressDisplay::Show(int32_t position, const std::string& text) {
    std::lock_guard<std::mutex> guard(FLock);
    if (!FTerminal) {
        if (text == FLastText) return;
        FLastText = text;
        Write(text + "\n");
        return;
    }
    double percent = PercentOf(position, text);
    // Redraw at a readable pace; each new whole percent is drawn at once.
    bool due = FDrawnLength == 0 || std::floor(percent) != std::floor(FPercent) ||
               TClock::now() - FDrawnAt >= kRedrawInterval;
    if (due) Draw(percent, false);
}

void TProgressDisplay::BreakLine() {
    std::lock_guard<std::mutex> guard(FLock);
    if (FDrawnLength == 0) return;
    Write("\n");
    FDrawnLength = 0;
}

void TProgressDisplay::Finish(bool done) {
    std::lock_guard<std::mutex> guard(FLock);
    if (!FTerminal) return;
    if (done) Draw(100.0, true);
    if (FDrawnLength == 0) return;
    Write("\n");
    FDrawnLength = 0;
}

void TProgressDisplay::Draw(double percent, bool done) {
    double seconds =
        done ? std::chrono::duration<double>(TClock::now() - FStart).count() : SecondsLeft(percent);
    std::string line = FormatProgressLine(percent, seconds, done, Columns());
    // Spaces cover what is left of a longer line drawn before (no terminal escapes needed).
    std::string padding(FDrawnLength > line.size() ? FDrawnLength - line.size() : 0, ' ');
    Write("\r" + line + padding);
    FDrawnLength = line.size();
    FDrawnAt = TClock::now();
    FPercent = percent;
}

double TProgressDisplay::SecondsLeft(double percent) {
    double now = std::chrono::duration<double>(TClock::now() - FStart).count();
    FRecent.emplace_back(now, percent);
    while (FRecent.size() > 2 && now - FRecent[1].first >= kPaceWindowSeconds)
        FRecent.pop_front();
    if (percent < kEstimateFromPercent) return -1.0;
    auto [since, from] = FRecent.front();
    double span = now - since;
    if (span >= kShortestPaceSeconds && percent > from) return (100.0 - percent) * span / (percent - from);
    return now * (100.0 - percent) / percent; // the pace of the whole save so far
}

void TProgressDisplay::Write(const std::string& text) const {
    const char* data = text.data();
    size_t left = text.size();
    while (left > 0) {
        ssize_t written = ::write(FFd, data, left);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return; // a closed or failing stderr is not worth failing the save
        data += written;
        left -= size_t(written);
    }
}

int TProgressDisplay::Columns() const {
    winsize size{};
    if (::ioctl(FFd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    const char* columns = std::getenv("COLUMNS");
    int fromEnvironment = columns ? std::atoi(columns) : 0;
    return fromEnvironment > 0 ? fromEnvironment : kDefaultColumns;
}
