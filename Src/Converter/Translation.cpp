// Turning a task's option records into engine settings, in the order the engine consumes them:
// input settings before the input opens, output settings after the last input and before the
// output is created, stream lines after it exists. Runs on the configuring thread.
#include "RAzevaVUV.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <ctime>
#include <string_view>

namespace {

// The names of ExtOptions lines that are held back from the general pass.
bool IsPresetOption(const std::string& name) {
    return name == "apre" || name == "vpre" || name == "spre";
}

bool IsStreamOption(const std::string& name) {
    return name == "newvideo" || name == "newaudio" || name == "newsubtitle";
}

bool BelongsToPass(const std::string& name, int pass) {
    switch (pass) {
    case 0:
        return IsStreamOption(name);
    case 1:
        return IsPresetOption(name);
    case 2:
        return !IsStreamOption(name) && !IsPresetOption(name);
    default:
        return false;
    }
}

// A number of milliseconds as µs; text that is not a number counts as -1 ms. Saturates instead of
// overflowing for absurd values.
int64_t MillisecondTextToMicroseconds(const std::string& text) {
    int64_t ms = -1;
    try {
        ms = StrToInt64(text);
    } catch (const EConvertError&) {
        ms = -1;
    }
    constexpr int64_t kLimit = INT64_MAX / 1000;
    return Clip<int64_t>(ms, -kLimit, kLimit) * 1000;
}

std::string DecimalText(int64_t value) {
    return std::to_string(value);
}

// The classic palette behind the toolkit's system colour codes (index = the code's low byte).
constexpr std::array<uint32_t, 31> kSystemColors = {
    0xD4D0C8, 0x3A6EA5, 0x0A246A, 0x808080, 0xD4D0C8, 0xFFFFFF, 0x000000, 0x000000,
    0x000000, 0xFFFFFF, 0xD4D0C8, 0xD4D0C8, 0x808080, 0x0A246A, 0xFFFFFF, 0xD4D0C8,
    0x808080, 0x808080, 0x000000, 0xD4D0C8, 0xFFFFFF, 0x404040, 0xD4D0C8, 0x000000,
    0xFFFFE1, 0xB5B5B5, 0x000080, 0xA6CAF0, 0xC0C0C0, 0x316AC5, 0xECE9D8,
};

} // namespace

std::vector<THookRange> ParseHookRanges(const std::string& text) {
    std::vector<THookRange> ranges;
    std::string rest = Trim(text);
    while (!rest.empty()) {
        std::string item;
        SplitString(rest, ",", true, item);
        item = Trim(item);
        std::string startText;
        std::string endText = item;
        if (item.find('-') != std::string::npos) {
            SplitString(endText, "-", true, startText);
        } else {
            startText = item;
            endText.clear();
        }
        THookRange range{MillisecondTextToMicroseconds(startText), MillisecondTextToMicroseconds(endText)};
        if (range.End >= range.Start && range.End >= 0) ranges.push_back(range);
    }
    std::stable_sort(ranges.begin(), ranges.end(),
                     [](const THookRange& a, const THookRange& b) { return a.End < b.End; });
    return ranges;
}

int64_t DateTimeToUnixSeconds(double dateTime) {
    constexpr double kUnixEpochDay = 25569.0; // 1 January 1970 in days since 30 December 1899
    // The wall-clock seconds since 1970 as if local time were UTC, then the local zone's rules for
    // that instant (daylight saving included) through mktime.
    const double wallSeconds = std::nearbyint((dateTime - kUnixEpochDay) * 86400.0);
    const time_t wall = static_cast<time_t>(wallSeconds);
    std::tm fields{};
    if (gmtime_r(&wall, &fields) == nullptr) return static_cast<int64_t>(wallSeconds);
    fields.tm_isdst = -1;
    const time_t utc = mktime(&fields);
    return utc == static_cast<time_t>(-1) ? static_cast<int64_t>(wallSeconds) : static_cast<int64_t>(utc);
}

uint32_t ColorToRGB(TColor color) {
    uint32_t bgr = static_cast<uint32_t>(color);
    if (color < 0) {
        const uint32_t index = bgr & 0xFF;
        // The palette is kept as 0xRRGGBB already.
        return index < kSystemColors.size() ? kSystemColors[index] : 0;
    }
    return ((bgr & 0xFF) << 16) | (bgr & 0xFF00) | ((bgr >> 16) & 0xFF);
}

// ---- TFFmpeg: the translation steps ----------------------------------------------------------

void TFFmpeg::ApplyOptionText(const std::string& text, int pass) {
    std::string rest = NormaliseLineBreaks(Trim(text));
    while (!rest.empty()) {
        std::string line;
        SplitString(rest, "\n", true, line);
        std::string value = line;
        std::string name;
        if (line.find('=') != std::string::npos) {
            SplitString(value, "=", true, name);
        } else {
            name = line;
            value.clear();
        }
        if (BelongsToPass(name, pass)) ApplyOption(name, value);
    }
}

void TFFmpeg::ApplyInputOptions(const TInputOptions& options) {
    // Preset and stream lines of an input record are never applied: there is no output yet.
    if (!options.ExtOptions.empty()) ApplyOptionText(options.ExtOptions, 2);
    if (!options.ForceFormat.empty()) SetInputFormat(options.ForceFormat);
    if (options.StartTimeMs > 0) FStartTime = int64_t(options.StartTimeMs) * 1000;
    if (options.StartTime > 0) FStartTime = options.StartTime;
    if (options.ProgramId >= 0) FProgramId = options.ProgramId;
}

void TFFmpeg::ApplyTarget(const TOutputOptions& options) {
    static constexpr const char* kTypes[] = {"vcd", "svcd", "dvd"};
    if (options.TargetType < 1 || options.TargetType > 3) return;
    const char* norm = options.TargetNorm == 1 ? "pal" : (options.TargetNorm == 2 ? "ntsc" : "auto");
    OptTarget(kTypes[options.TargetType - 1], norm, options.TargetDefaultNorm == 1 ? "pal" : "ntsc");
}

void TFFmpeg::SetHookRanges(const std::string& text) {
    FHookRanges = ParseHookRanges(text);
}

// Field by field in a fixed order: a field that is applied overrides an ExtOptions line of the
// same setting (the general lines came first), and the ones applied "always" do so even at their
// defaults.
void TFFmpeg::ApplyOutputOptions(const TOutputOptions& o) {
    // Container.
    if (!o.ForceFormat.empty()) SetOutputFormat(o.ForceFormat);
    if (o.PacketSize > 0) SetCodecOption("packetsize", o.PacketSize);
    if (o.MuxRate > 0) SetCodecOption("muxrate", o.MuxRate);
    if (o.MuxDelay > 0) FMuxMaxDelay = o.MuxDelay;
    if (o.MuxPreload > 0) FMuxPreload = o.MuxPreload;

    // Audio.
    if (!o.AudioCodec.empty()) OptAudioCodec(o.AudioCodec);
    if (!o.AudioPreset.empty()) ApplyPreset("apre", o.AudioPreset);
    FAudioDisabled = o.DisableAudio;
    if (o.AudioVolume >= 0) FAudioVolume = o.AudioVolume;
    if (o.AudioChannels > 0) FAudioChannels = o.AudioChannels;
    if (o.AudioSampleRate > 0) FAudioSampleRate = o.AudioSampleRate;
    if (o.AudioBitrate > 0) SetCodecOption("ab", o.AudioBitrate);
    if (o.AudioBitrateTolerance > 0) SetCodecOption("abt", o.AudioBitrateTolerance);
    FAudioLanguage = o.AudioLanguage;
    FAudioSyncMethod = o.AudioSyncMethod;
    if (!o.AudioTag.empty()) OptAudioTag(o.AudioTag);

    // Video.
    if (!o.VideoCodec.empty()) OptVideoCodec(o.VideoCodec);
    if (!o.VideoPreset.empty()) ApplyPreset("vpre", o.VideoPreset);
    FVideoDisabled = o.DisableVideo;
    if (!o.FrameRate.empty()) OptFrameRate(o.FrameRate);
    if (!o.FrameSize.empty()) OptFrameSize(o.FrameSize);
    if (!o.FrameAspectRatio.empty()) OptFrameAspectRatio(o.FrameAspectRatio);
    using THandler = void (TCustomFFmpeg::*)(const std::string&);
    const std::pair<THandler, int32_t> margins[] = {
        {&TFFmpeg::OptFrameCropTop, o.CropTop},   {&TFFmpeg::OptFrameCropBottom, o.CropBottom},
        {&TFFmpeg::OptFrameCropLeft, o.CropLeft}, {&TFFmpeg::OptFrameCropRight, o.CropRight},
        {&TFFmpeg::OptFramePadTop, o.PadTop},     {&TFFmpeg::OptFramePadBottom, o.PadBottom},
        {&TFFmpeg::OptFramePadLeft, o.PadLeft},   {&TFFmpeg::OptFramePadRight, o.PadRight},
    };
    for (const auto& [handler, value] : margins)
        if (value >= 0) (this->*handler)(DecimalText(value));
    OptPadColor(Format("%06X", ColorToRGB(o.PadColor)));
    if (o.GroupOfPictures > 0) SetCodecOption("gop", o.GroupOfPictures);
    if (o.VideoBitrate > 0) SetCodecOption("vb", o.VideoBitrate);
    if (o.VideoMaxRate > 0) SetCodecOption("maxrate", o.VideoMaxRate);
    if (o.VideoMinRate > 0) SetCodecOption("minrate", o.VideoMinRate);
    if (o.VideoBitrateTolerance > 0) SetCodecOption("bt", o.VideoBitrateTolerance);
    if (o.VideoBufSize > 0) SetCodecOption("bufsize", o.VideoBufSize);
    OptVideoSync(DecimalText(o.VideoSyncMethod));
    if (!o.VideoTag.empty()) OptVideoTag(o.VideoTag);
    if (!o.VideoFilters.empty()) OptVideoFilters(o.VideoFilters);

    // Subtitles.
    if (!o.SubtitleCodec.empty()) OptSubtitleCodec(o.SubtitleCodec);
    if (!o.SubtitlePreset.empty()) ApplyPreset("spre", o.SubtitlePreset);
    FSubtitleDisabled = o.DisableSubtitle;
    FSubtitleLanguage = o.SubtitleLanguage;

    // Times. The inputs are open already, so the start time here is the output's.
    FCopyTs = o.CopyTimestamps;
    if (o.StartTimeMs > 0) FStartTime = int64_t(o.StartTimeMs) * 1000;
    if (o.StartTime > 0) FStartTime = o.StartTime;
    if (o.DurationMs > 0) {
        FRecordingTime = int64_t(o.DurationMs) * 1000;
        FTotalDuration = o.DurationMs;
    }
    if (o.Duration > 0) {
        FRecordingTime = o.Duration;
        FTotalDuration = static_cast<int32_t>(std::min<int64_t>(o.Duration / 1000, INT32_MAX));
    }

    // Metadata.
    FTagSource = o.TagsFrom;
    if (o.Info.Timestamp == 0.0)
        FRecordingTimestamp = static_cast<int64_t>(std::time(nullptr));
    else if (o.Info.Timestamp > 0.0)
        FRecordingTimestamp = DateTimeToUnixSeconds(o.Info.Timestamp);
    if (o.Info.Year > 0) AddMetadata("year", DecimalText(o.Info.Year));
    if (o.Info.Track > 0) AddMetadata("track", DecimalText(o.Info.Track));
    const std::pair<const char*, const std::string*> texts[] = {
        {"title", &o.Info.Title},     {"author", &o.Info.Author}, {"copyright", &o.Info.Copyright},
        {"comment", &o.Info.Comment}, {"album", &o.Info.Album},   {"genre", &o.Info.Genre},
    };
    for (const auto& [key, value] : texts)
        if (!value->empty()) AddMetadata(key, *value);
}
