#include "UnitFunction.h"

#include "MarkTime.h"
#include "MyUtils.h"

std::string FormatMediaTime(int64_t t) {
    if (t < 0) t = 0;
    int64_t ms = t / 1000;
    int64_t milli = ms % 1000;
    int64_t s = ms / 1000;
    int64_t seconds = s % 60;
    int64_t minutes = (s / 60) % 60;
    int64_t hours = (s / 60) / 60;
    return Format("%02lld:%02lld:%02lld.%03lld", static_cast<long long>(hours),
                  static_cast<long long>(minutes), static_cast<long long>(seconds),
                  static_cast<long long>(milli));
}

std::string GetAppPath() {
    return GetExecutableFolder();
}

bool ParseMediaTime(const std::string& text, int64_t& ms) {
    return ParseMarkText(text, TMarkNotation{.SecondsWithoutColon = true, .MaxDigits = 9}, ms);
}
