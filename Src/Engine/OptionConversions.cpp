#include "OptionConversions.h"

#include "EngineTexts.h"
#include "FFmpeg.h"
#include "MediaApi.h"
#include "MyUtils.h"

#include <cmath>
#include <limits>

namespace options {

int32_t ToInt(const std::string& value) {
    return StrToInt(value);
}

int64_t ToInt64(const std::string& value) {
    return StrToInt64(value);
}

float ToFloat(const std::string& value) {
    double v = StrToFloat(value);
    // A single cannot hold it: the setting would become infinite (and later casts undefined).
    if (!std::isfinite(v) || std::fabs(v) > std::numeric_limits<float>::max())
        throw EConvertError(Format("'%s' is not a valid floating point value", value.c_str()));
    return static_cast<float>(v);
}

bool ToFlag(const std::string& value) {
    return value != "0";
}

namespace {

int64_t ParseTime(const char* kind, const std::string& option, const std::string& value, bool duration) {
    int64_t result = 0;
    // A NUL inside the text would hide the rest of it from the parser.
    bool ok = value.find('\0') == std::string::npos &&
              av::av_parse_time(&result, value.c_str(), duration ? 1 : 0) >= 0 && result != AV_NOPTS_VALUE;
    if (!ok) throw FFmpegException(Format(kMsgInvalidSpec, kind, option.c_str(), value.c_str()));
    return result;
}

} // namespace

int64_t ToDuration(const std::string& option, const std::string& value) {
    return ParseTime("duration", option, value, true);
}

int64_t ToDate(const std::string& option, const std::string& value) {
    return ParseTime("date", option, value, false);
}

int32_t ToTag(const std::string& value) {
    uint32_t tag = 0;
    for (size_t i = 0; i < 4 && i < value.size(); ++i)
        tag |= static_cast<uint32_t>(static_cast<unsigned char>(value[i])) << (8 * i);
    return static_cast<int32_t>(tag);
}

long TNumberReader::ReadInt() {
    char* end = nullptr;
    long v = myutil::my_strtol(FPos, &end, 0);
    if (end) FPos = end;
    SkipSeparator();
    return v;
}

double TNumberReader::ReadReal() {
    char* end = nullptr;
    double v = myutil::my_strtod(FPos, &end);
    if (end) FPos = end;
    SkipSeparator();
    return v;
}

void TNumberReader::SkipSeparator() {
    if (*FPos != '\0') ++FPos;
}

} // namespace options
