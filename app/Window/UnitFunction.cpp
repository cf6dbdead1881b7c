#include "UnitFunction.h"

#include "MyUtils.h"

#include <vector>

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

namespace {

// Up to nine digits, so that no sum of fields leaves 64 bits.
bool ParseDigits(const std::string& text, int64_t& value) {
    if (text.empty() || text.size() > 9) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

std::string Trimmed(const std::string& text) {
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

} // namespace

bool ParseMediaTime(const std::string& text, int64_t& ms) {
    std::string rest = Trimmed(text);
    if (rest.find_first_of(":.") == std::string::npos) return ParseDigits(rest, ms);

    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t colon; (colon = rest.find(':', start)) != std::string::npos; start = colon + 1)
        fields.push_back(rest.substr(start, colon - start));
    fields.push_back(rest.substr(start));
    if (fields.size() > 3) return false;

    // The last field: seconds with up to three decimals.
    std::string seconds = fields.back(), fraction = "0";
    if (size_t dot = seconds.find('.'); dot != std::string::npos) {
        fraction = seconds.substr(dot + 1);
        seconds.erase(dot);
        if (fraction.size() > 3) return false;
        fraction.append(3 - fraction.size(), '0');
    }
    int64_t value = 0, milli = 0;
    if (!ParseDigits(seconds, value) || !ParseDigits(fraction, milli)) return false;
    if (fields.size() > 1 && value >= 60) return false;
    int64_t total = value;
    int64_t scale = 60;
    for (size_t i = fields.size() - 1; i-- > 0; scale *= 60) {
        if (!ParseDigits(fields[i], value)) return false;
        if (i > 0 && value >= 60) return false; // minutes below the hours
        total += value * scale;
    }
    ms = total * 1000 + milli;
    return true;
}
