#include "MarkTime.h"

#include <vector>

namespace {

// Marks are handed on in microseconds: beyond this many milliseconds they would not fit 64 bits.
constexpr int64_t kMaxMarkMs = INT64_MAX / 1000;

bool ReadDigits(const std::string& text, size_t maxDigits, int64_t& value) {
    if (text.empty() || text.size() > maxDigits || text.size() > 18) return false;
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

std::vector<std::string> ColonFields(const std::string& text) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t colon; (colon = text.find(':', start)) != std::string::npos; start = colon + 1)
        fields.push_back(text.substr(start, colon - start));
    fields.push_back(text.substr(start));
    return fields;
}

// "ss" or "ss.z" to "ss.zzz": whole seconds and milliseconds.
bool ReadSeconds(std::string seconds, size_t maxDigits, int64_t& whole, int64_t& milli) {
    milli = 0;
    if (size_t dot = seconds.find('.'); dot != std::string::npos) {
        std::string fraction = seconds.substr(dot + 1);
        seconds.erase(dot);
        if (fraction.size() > 3 || !ReadDigits(fraction, 3, milli)) return false;
        for (size_t i = fraction.size(); i < 3; ++i) milli *= 10;
    }
    return ReadDigits(seconds, maxDigits, whole);
}

} // namespace

bool ParseMarkText(const std::string& text, const TMarkNotation& notation, int64_t& ms) {
    std::string rest = Trimmed(text);
    bool colon = rest.find(':') != std::string::npos;
    bool dot = rest.find('.') != std::string::npos;
    if (!colon && !dot) {
        int64_t value = 0;
        if (!ReadDigits(rest, notation.MaxDigits, value) || value > kMaxMarkMs) return false;
        ms = value;
        return true;
    }
    if (!colon && !notation.SecondsWithoutColon) return false;

    std::vector<std::string> fields = ColonFields(rest);
    if (fields.size() > 3) return false;
    int64_t total = 0, milli = 0;
    if (!ReadSeconds(fields.back(), notation.MaxDigits, total, milli)) return false;
    if (fields.size() > 1 && total >= 60) return false; // a higher field exists
    int64_t scale = 60;
    for (size_t i = fields.size() - 1; i-- > 0; scale *= 60) {
        int64_t value = 0, part = 0;
        if (!ReadDigits(fields[i], notation.MaxDigits, value)) return false;
        if (i > 0 && value >= 60) return false; // minutes below the hours
        if (__builtin_mul_overflow(value, scale, &part) || __builtin_add_overflow(total, part, &total))
            return false;
    }
    if (total > (kMaxMarkMs - 999) / 1000) return false;
    ms = total * 1000 + milli;
    return true;
}
