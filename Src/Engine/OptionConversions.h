// Conversions of option values (text) into engine settings. Private to the option handlers.
#pragma once

#include <cstdint>
#include <string>

namespace options {

// Decimal (or "$"/"0x" hexadecimal) text to a signed 32- or 64-bit integer; EConvertError
// "'%s' is not a valid integer value".
int32_t ToInt(const std::string& value);
int64_t ToInt64(const std::string& value);
// Decimal text to a finite single-precision number; EConvertError
// "'%s' is not a valid floating point value" (also for infinities, NaN and values out of range).
float ToFloat(const std::string& value);
// True unless the value is exactly "0" (an empty value gives True).
bool ToFlag(const std::string& value);
// A duration ("[-][HH:]MM:SS[.m...]" or "[-]S+[.m...][s|ms|us]") in µs; FFmpegException
// "Invalid duration specification for <option>: <value>".
int64_t ToDuration(const std::string& option, const std::string& value);
// A date ("now", "YYYY-MM-DD HH:MM:SS[.m...][Z]", ...) in µs since 1970; FFmpegException
// "Invalid date specification for <option>: <value>".
int64_t ToDate(const std::string& option, const std::string& value);
// Four characters as a little-endian tag (first character in the lowest byte).
int32_t ToTag(const std::string& value);

// Reads the numbers of "map", "map_meta_data" and "itsscale" values: base-0 integers and reals
// by the C rules, each followed by exactly one skipped separator of any kind.
class TNumberReader {
public:
    explicit TNumberReader(const std::string& text) : FText(text), FPos(FText.c_str()) {}
    bool AtEnd() const { return *FPos == '\0'; }
    // No digits give 0; values beyond the long range saturate as strtol does.
    long ReadInt();
    double ReadReal();

private:
    void SkipSeparator();
    std::string FText;
    const char* FPos;
};

} // namespace options
