// The option table: 105 option names, each with its handler. Names are exact and
// case-sensitive; a name outside the table goes to the media libraries' option contexts.
#include "FFmpeg.h"
#include "OptionTable.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace {

using THandler = void (*)(TCustomFFmpeg& engine, const std::string& name, const std::string& value);

struct TOptionEntry {
    std::string_view Name;
    THandler Handler;
};

// Adapters from the table's uniform signature to the handlers.
#define VALUE_HANDLER(method) [](TCustomFFmpeg& e, const std::string&, const std::string& v) { e.method(v); }
#define NAMED_HANDLER(method)                                                                                \
    [](TCustomFFmpeg& e, const std::string& n, const std::string& v) { e.method(n, v); }
#define NAME_ONLY_HANDLER(method)                                                                            \
    [](TCustomFFmpeg& e, const std::string& n, const std::string&) { e.method(n); }

constexpr TOptionEntry kGeneralAndAudioOptions[] = {
    {"L", NAME_ONLY_HANDLER(OptDoNothing)},
    {"h", NAME_ONLY_HANDLER(OptDoNothing)},
    {"version", NAME_ONLY_HANDLER(OptDoNothing)},
    {"formats", NAME_ONLY_HANDLER(OptDoNothing)},
    {"benchmark", NAME_ONLY_HANDLER(OptDoNothing)},
    {"i", NAME_ONLY_HANDLER(OptDoNothing)},
    {"y", NAME_ONLY_HANDLER(OptDoNothing)},
    {"f", VALUE_HANDLER(OptFormat)},
    {"map", VALUE_HANDLER(OptMap)},
    {"map_meta_data", VALUE_HANDLER(OptMapMetaData)},
    {"t", VALUE_HANDLER(OptRecordingTime)},
    {"fs", VALUE_HANDLER(OptLimitFileSize)},
    {"ss", VALUE_HANDLER(OptStartTime)},
    {"itsoffset", VALUE_HANDLER(OptInputTsOffset)},
    {"itsscale", VALUE_HANDLER(OptInputTsScale)},
    {"timestamp", VALUE_HANDLER(OptRecordingTimestamp)},
    {"metadata", VALUE_HANDLER(OptMetadata)},
    {"dframes", VALUE_HANDLER(OptDataFrames)},
    {"aframes", VALUE_HANDLER(OptAudioFrames)},
    {"dump", VALUE_HANDLER(OptPacketDump)},
    {"hex", VALUE_HANDLER(OptHexDump)},
    {"re", VALUE_HANDLER(OptRateEmulation)},
    {"loop_input", VALUE_HANDLER(OptLoopInput)},
    {"loop_output", VALUE_HANDLER(OptLoopOutput)},
    {"v", VALUE_HANDLER(OptVerbose)},
    {"loglevel", VALUE_HANDLER(OptLogLevel)},
    {"threads", VALUE_HANDLER(OptThreads)},
    {"async", VALUE_HANDLER(OptAudioSyncMethod)},
    {"adrift_threshold", VALUE_HANDLER(OptAudioDriftThreshold)},
    {"copyts", VALUE_HANDLER(OptCopyTs)},
    {"shortest", VALUE_HANDLER(OptShortest)},
    {"dts_delta_threshold", VALUE_HANDLER(OptDtsDeltaThreshold)},
    {"programid", VALUE_HANDLER(OptProgramId)},
    {"xerror", VALUE_HANDLER(OptExitOnError)},
    {"copyinkf", VALUE_HANDLER(OptCopyInitialNonKeyframes)},
    {"isync", VALUE_HANDLER(OptInputSync)},
    {"muxdelay", VALUE_HANDLER(OptMuxMaxDelay)},
    {"muxpreload", VALUE_HANDLER(OptMuxPreload)},
    {"b", NAMED_HANDLER(OptBitrate)},
    {"ab", NAMED_HANDLER(OptBitrate)},
    {"aq", VALUE_HANDLER(OptAudioQScale)},
    {"ar", VALUE_HANDLER(OptAudioSampleRate)},
    {"ac", VALUE_HANDLER(OptAudioChannels)},
    {"an", VALUE_HANDLER(OptAudioDisable)},
    {"vn", VALUE_HANDLER(OptVideoDisable)},
    {"acodec", VALUE_HANDLER(OptAudioCodec)},
    {"atag", VALUE_HANDLER(OptAudioTag)},
    {"vol", VALUE_HANDLER(OptAudioVolume)},
    {"newaudio", VALUE_HANDLER(OptNewAudioStream)},
    {"alang", VALUE_HANDLER(OptAudioLanguage)},
    {"sample_fmt", VALUE_HANDLER(OptSampleFmt)},
    {"absf", NAMED_HANDLER(OptBitstreamFilter)},
    {"apre", NAMED_HANDLER(ApplyPreset)},
};

constexpr TOptionEntry kVideoAndSubtitleOptions[] = {
    {"target", VALUE_HANDLER(OptTarget)},
    {"vsync", VALUE_HANDLER(OptVideoSync)},
    {"vglobal", NAMED_HANDLER(OptVideoSetting)},
    {"vb", NAMED_HANDLER(OptBitrate)},
    {"vframes", VALUE_HANDLER(OptVideoFrames)},
    {"r", VALUE_HANDLER(OptFrameRate)},
    {"s", VALUE_HANDLER(OptFrameSize)},
    {"aspect", VALUE_HANDLER(OptFrameAspectRatio)},
    {"pix_fmt", NAMED_HANDLER(OptVideoSetting)},
    {"croptop", VALUE_HANDLER(OptFrameCropTop)},
    {"cropbottom", VALUE_HANDLER(OptFrameCropBottom)},
    {"cropleft", VALUE_HANDLER(OptFrameCropLeft)},
    {"cropright", VALUE_HANDLER(OptFrameCropRight)},
    {"padtop", VALUE_HANDLER(OptFramePadTop)},
    {"padbottom", VALUE_HANDLER(OptFramePadBottom)},
    {"padleft", VALUE_HANDLER(OptFramePadLeft)},
    {"padright", VALUE_HANDLER(OptFramePadRight)},
    {"padcolor", VALUE_HANDLER(OptPadColor)},
    {"intra", NAMED_HANDLER(OptVideoSetting)},
    {"vdt", NAMED_HANDLER(OptVideoSetting)},
    {"qscale", NAMED_HANDLER(OptVideoSetting)},
    {"rc_override", NAMED_HANDLER(OptVideoSetting)},
    {"vcodec", VALUE_HANDLER(OptVideoCodec)},
    {"me_threshold", NAMED_HANDLER(OptVideoSetting)},
    {"sameq", NAMED_HANDLER(OptVideoSetting)},
    {"pass", NAMED_HANDLER(OptVideoSetting)},
    {"passlogfile", NAMED_HANDLER(OptVideoSetting)},
    {"deinterlace", NAMED_HANDLER(OptVideoSetting)},
    {"psnr", NAMED_HANDLER(OptVideoSetting)},
    {"vstats", NAMED_HANDLER(OptVideoSetting)},
    {"vstats_file", NAMED_HANDLER(OptVideoSetting)},
    {"vhook", NAMED_HANDLER(OptVideoSetting)},
    {"vfilters", VALUE_HANDLER(OptVideoFilters)},
    {"intra_matrix", NAMED_HANDLER(OptVideoSetting)},
    {"inter_matrix", NAMED_HANDLER(OptVideoSetting)},
    {"top", NAMED_HANDLER(OptVideoSetting)},
    {"dc", NAMED_HANDLER(OptVideoSetting)},
    {"vtag", VALUE_HANDLER(OptVideoTag)},
    {"newvideo", VALUE_HANDLER(OptNewVideoStream)},
    {"qphist", NAMED_HANDLER(OptVideoSetting)},
    {"force_fps", NAMED_HANDLER(OptVideoSetting)},
    {"sn", VALUE_HANDLER(OptSubtitleDisable)},
    {"scodec", VALUE_HANDLER(OptSubtitleCodec)},
    {"newsubtitle", VALUE_HANDLER(OptNewSubtitleStream)},
    {"slang", VALUE_HANDLER(OptSubtitleLanguage)},
    {"stag", VALUE_HANDLER(OptSubtitleTag)},
    {"vc", NAMED_HANDLER(OptVideoSetting)},
    {"tvstd", NAMED_HANDLER(OptVideoSetting)},
    {"vbsf", NAMED_HANDLER(OptBitstreamFilter)},
    {"sbsf", NAMED_HANDLER(OptBitstreamFilter)},
    {"vpre", NAMED_HANDLER(ApplyPreset)},
    {"spre", NAMED_HANDLER(ApplyPreset)},
};

#undef VALUE_HANDLER
#undef NAMED_HANDLER
#undef NAME_ONLY_HANDLER

static_assert(std::size(kGeneralAndAudioOptions) == 53);
static_assert(std::size(kVideoAndSubtitleOptions) == 52);

const TOptionEntry* FindIn(const TOptionEntry* begin, const TOptionEntry* end, std::string_view name) {
    const TOptionEntry* it = std::find_if(begin, end, [&](const TOptionEntry& e) { return e.Name == name; });
    return it != end ? it : nullptr;
}

const TOptionEntry* FindOption(std::string_view name) {
    if (auto* e = FindIn(std::begin(kGeneralAndAudioOptions), std::end(kGeneralAndAudioOptions), name))
        return e;
    return FindIn(std::begin(kVideoAndSubtitleOptions), std::end(kVideoAndSubtitleOptions), name);
}

} // namespace

bool IsEngineOption(const std::string& name) {
    return FindOption(name) != nullptr;
}

std::vector<std::string> EngineOptionNames() {
    std::vector<std::string> names;
    for (const auto& e : kGeneralAndAudioOptions)
        names.emplace_back(e.Name);
    for (const auto& e : kVideoAndSubtitleOptions)
        names.emplace_back(e.Name);
    return names;
}

void TCustomFFmpeg::ApplyOption(const std::string& name, const std::string& value) {
    if (const TOptionEntry* entry = FindOption(name)) {
        entry->Handler(*this, name, value);
        return;
    }
    // Outside the table: a named option of the media libraries' codec, format or scaling
    // contexts, or else of the next output's muxer. An option that none of them accepts changes
    // nothing.
    RequireLibraries();
    if (!SetOptionDefault(&FOptionContexts, name, value)) FMuxerOptions.emplace_back(name, value);
}
