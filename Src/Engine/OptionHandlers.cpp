// Handlers of the general and audio options: each converts its value and writes one or a few
// settings of the engine, or appends to one of its tables.
#include "EngineTexts.h"
#include "FFmpeg.h"
#include "FFmpegLogger.h"
#include "MediaApi.h"
#include "OptionConversions.h"

#include <algorithm>
#include <cmath>

using namespace options;

namespace {

const char* kHandlersSource = "Src/Engine/OptionHandlers";

// An assertion failure whose message begins with the given text, as a failed assertion with a
// message reads ("<text> (<source>)").
class ETagAssertion : public EAssertionFailed {
public:
    ETagAssertion(const char* text, const char* source)
        : EAssertionFailed(source), FMessage(Format("%s (%s)", text, source)) {}
    const char* what() const noexcept override { return FMessage.c_str(); }

private:
    std::string FMessage;
};

// A value of a map as a table entry: out-of-range numbers stay out of range instead of wrapping
// into a valid index (the run checks them).
int32_t MapNumber(long v) {
    return static_cast<int32_t>(std::clamp<long>(v, INT32_MIN, INT32_MAX));
}

} // namespace

// ---- Do-nothing and refused options ------------------------------------------------------------

void TCustomFFmpeg::OptDoNothing(const std::string& name) {
    FFLogger().Log(this, llInfo, kMsgDoNothing + name);
}

void TCustomFFmpeg::OptThreads(const std::string&) {
    throw FFmpegException(std::string(kMsgTodoOption) + "threads");
}

// ---- Formats --------------------------------------------------------------------------------

namespace {

// "pgmyuv" is read as "image2" with the pgmyuv decoder for the next input's video.
std::string ReplacePgmYuv(const void* engine, const std::string& name, bool& pgmYuv) {
    if (name != "pgmyuv") return name;
    pgmYuv = true;
    FFLogger().Log(engine, llInfo, kMsgPgmYuvDeprecated);
    return "image2";
}

} // namespace

void TCustomFFmpeg::OptFormat(const std::string& value) {
    if (value.empty()) return;
    RequireLibraries();
    std::string name = ReplacePgmYuv(this, value, FPgmYuv);
    FForcedInputFormat = av::av_find_input_format(name.c_str());
    FForcedOutputFormat = av::av_guess_format(name.c_str(), nullptr, nullptr);
    if (!FForcedInputFormat && !FForcedOutputFormat)
        throw FFmpegException(Format(kMsgUnknownInOutFormat, name.c_str()));
}

void TCustomFFmpeg::SetInputFormat(const std::string& name) {
    if (name.empty()) return;
    RequireLibraries();
    std::string format = ReplacePgmYuv(this, name, FPgmYuv);
    FForcedInputFormat = av::av_find_input_format(format.c_str());
    if (!FForcedInputFormat) throw FFmpegException(Format(kMsgUnknownInputFormat, format.c_str()));
}

void TCustomFFmpeg::SetOutputFormat(const std::string& name) {
    if (name.empty()) return;
    RequireLibraries();
    std::string format = ReplacePgmYuv(this, name, FPgmYuv);
    FForcedOutputFormat = av::av_guess_format(format.c_str(), nullptr, nullptr);
    if (!FForcedOutputFormat) throw FFmpegException(Format(kMsgUnknownOutputFormat, format.c_str()));
}

// ---- Maps and timestamp scales ----------------------------------------------------------------

void TCustomFFmpeg::OptMap(const std::string& value) {
    RequireLibraries();
    if (FStreamMapCount >= kMaxStreamMaps) throw FFmpegException(Format(kMsgStreamMapsFull, kMaxStreamMaps));
    TNumberReader reader(value);
    TStreamMapEntry entry;
    entry.FileIndex = MapNumber(reader.ReadInt());
    entry.StreamIndex = MapNumber(reader.ReadInt());
    if (reader.AtEnd()) {
        entry.SyncFileIndex = entry.FileIndex;
        entry.SyncStreamIndex = entry.StreamIndex;
    } else {
        entry.SyncFileIndex = MapNumber(reader.ReadInt());
        entry.SyncStreamIndex = MapNumber(reader.ReadInt());
    }
    FStreamMaps[FStreamMapCount++] = entry;
}

void TCustomFFmpeg::OptMapMetaData(const std::string& value) {
    RequireLibraries();
    if (FMetadataMapCount >= kMaxMetadataMaps)
        throw FFmpegException(Format(kMsgMetadataMapsFull, kMaxMetadataMaps));
    TNumberReader reader(value);
    TMetadataMapEntry entry;
    entry.OutFile = MapNumber(reader.ReadInt());
    entry.InFile = MapNumber(reader.ReadInt());
    FMetadataMaps[FMetadataMapCount++] = entry;
}

void TCustomFFmpeg::OptInputTsScale(const std::string& value) {
    RequireLibraries();
    TNumberReader reader(value);
    long stream = reader.ReadInt();
    double scale = reader.ReadReal();
    if (stream < 0 || stream >= kMaxStreams) throw FFmpegException(Format(kMsgStreamIndexOver, kMaxStreams));
    // The scale belongs to the input opened next; there is none after the last row.
    if (FInputFileCount >= kMaxFiles)
        throw FFmpegException(Format(kMsgInputTsScalesFull, FInputFileCount + 1, kMaxFiles));
    // Timestamps are multiplied by it during the run: it must be a number.
    if (!std::isfinite(scale))
        throw FFmpegException(Format(kMsgInvalidTsScale, static_cast<int>(stream), value.c_str()));
    FInputTsScales[FInputFileCount][stream] = scale;
}

// ---- Times --------------------------------------------------------------------------------

void TCustomFFmpeg::OptRecordingTime(const std::string& value) {
    RequireLibraries();
    int64_t t = ToDuration("t", value);
    if (t <= 0) return; // no limit
    FRecordingTime = t;
    FTotalDuration = static_cast<int32_t>(std::min<int64_t>(t / 1000, INT32_MAX)); // ms
}

void TCustomFFmpeg::OptStartTime(const std::string& value) {
    RequireLibraries();
    FStartTime = ToDuration("ss", value);
}

void TCustomFFmpeg::OptInputTsOffset(const std::string& value) {
    RequireLibraries();
    FInputTsOffset = ToDuration("itsoffset", value);
}

void TCustomFFmpeg::OptRecordingTimestamp(const std::string& value) {
    RequireLibraries();
    FRecordingTimestamp =
        static_cast<int64_t>(std::nearbyint(static_cast<double>(ToDate("timestamp", value)) / 1e6));
}

// ---- Metadata -------------------------------------------------------------------------------

void TCustomFFmpeg::OptMetadata(const std::string& value) {
    size_t eq = value.find('=');
    if (eq == std::string::npos) throw FFmpegException(kMsgMissingEquals);
    AddMetadata(value.substr(0, eq), value.substr(eq + 1));
}

void TCustomFFmpeg::AddMetadata(const std::string& key, const std::string& value) {
    FMetadata.emplace_back(key, value);
}

// ---- Plain settings -----------------------------------------------------------------------------

void TCustomFFmpeg::OptLimitFileSize(const std::string& value) {
    FLimitFileSize = ToInt64(value);
}
void TCustomFFmpeg::OptDataFrames(const std::string& value) {
    FMaxFrames[AVMEDIA_TYPE_DATA] = ToInt(value);
}
void TCustomFFmpeg::OptAudioFrames(const std::string& value) {
    FMaxFrames[AVMEDIA_TYPE_AUDIO] = ToInt(value);
}
void TCustomFFmpeg::OptVideoFrames(const std::string& value) {
    FMaxFrames[AVMEDIA_TYPE_VIDEO] = ToInt(value);
}
void TCustomFFmpeg::OptPacketDump(const std::string& value) {
    FPacketDump = ToFlag(value);
}
void TCustomFFmpeg::OptHexDump(const std::string& value) {
    FHexDump = ToFlag(value);
}
void TCustomFFmpeg::OptRateEmulation(const std::string& value) {
    FRateEmulation = ToFlag(value);
}
void TCustomFFmpeg::OptLoopInput(const std::string& value) {
    FLoopInput = ToFlag(value);
}
void TCustomFFmpeg::OptLoopOutput(const std::string& value) {
    FLoopOutput = ToInt(value);
}
void TCustomFFmpeg::OptVerbose(const std::string& value) {
    FVerbose = ToInt(value);
}
void TCustomFFmpeg::OptAudioSyncMethod(const std::string& value) {
    FAudioSyncMethod = ToInt(value);
}
void TCustomFFmpeg::OptAudioDriftThreshold(const std::string& value) {
    FAudioDriftThreshold = ToFloat(value);
}
void TCustomFFmpeg::OptCopyTs(const std::string&) {
    FCopyTs = true;
}
void TCustomFFmpeg::OptShortest(const std::string& value) {
    FShortest = ToFlag(value);
}
void TCustomFFmpeg::OptDtsDeltaThreshold(const std::string& value) {
    FDtsDeltaThreshold = ToFloat(value);
}
void TCustomFFmpeg::OptProgramId(const std::string& value) {
    FProgramId = ToInt(value);
}
void TCustomFFmpeg::OptExitOnError(const std::string&) {
    FExitOnError = true;
}
void TCustomFFmpeg::OptCopyInitialNonKeyframes(const std::string& value) {
    FCopyInitialNonKeyframes = ToInt(value);
}
void TCustomFFmpeg::OptInputSync(const std::string& value) {
    FInputSync = ToFlag(value);
}
void TCustomFFmpeg::OptMuxMaxDelay(const std::string& value) {
    FMuxMaxDelay = ToFloat(value);
}
void TCustomFFmpeg::OptMuxPreload(const std::string& value) {
    FMuxPreload = ToFloat(value);
}
void TCustomFFmpeg::OptAudioQScale(const std::string& value) {
    FAudioQScale = ToFloat(value);
}
void TCustomFFmpeg::OptAudioDisable(const std::string& value) {
    FAudioDisabled = ToFlag(value);
}
void TCustomFFmpeg::OptVideoDisable(const std::string& value) {
    FVideoDisabled = ToFlag(value);
}
void TCustomFFmpeg::OptSubtitleDisable(const std::string& value) {
    FSubtitleDisabled = ToFlag(value);
}
void TCustomFFmpeg::OptAudioVolume(const std::string& value) {
    FAudioVolume = ToInt(value);
}
void TCustomFFmpeg::OptAudioLanguage(const std::string& value) {
    FAudioLanguage = value;
}
void TCustomFFmpeg::OptSubtitleLanguage(const std::string& value) {
    FSubtitleLanguage = value;
}

void TCustomFFmpeg::OptAudioSampleRate(const std::string& value) {
    int32_t rate = ToInt(value);
    if (rate > 0) FAudioSampleRate = rate;
}

void TCustomFFmpeg::OptAudioChannels(const std::string& value) {
    int32_t channels = ToInt(value);
    if (channels > 0) FAudioChannels = channels;
}

void TCustomFFmpeg::OptLogLevel(const std::string& value) {
    FFLogger().SetLogLevelByName(value);
}

// ---- Codec options and bit rate ------------------------------------------------------------------

bool TCustomFFmpeg::OptBitrate(const std::string& name, const std::string& value) {
    if (value.empty()) return false;
    RequireLibraries();
    bool accepted = SetOptionDefault(&FOptionContexts, name, value);
    if (accepted) {
        AVCodecContext* holder =
            FOptionContexts
                .CodecOptions[!name.empty() && name[0] == 'a' ? AVMEDIA_TYPE_AUDIO : AVMEDIA_TYPE_VIDEO];
        int64_t bitRate = 0;
        if (holder && av::av_opt_get_int(holder, "b", 0, &bitRate) >= 0 && bitRate < 1000)
            FFLogger().Log(this, llWarning, kMsgBitrateTooLow);
    }
    return accepted;
}

void TCustomFFmpeg::SetCodecOption(const std::string& name, int32_t value) {
    RequireLibraries();
    SetOptionDefault(&FOptionContexts, name, std::to_string(value));
}

// ---- Codec names, tags, sample format ------------------------------------------------------------

namespace {

// A codec name handler: "copy" switches stream copy on (and a later name does not switch it off).
void SetCodecName(const std::string& value, std::string& name, bool& streamCopy) {
    if (value.empty()) return;
    name.clear();
    if (value == "copy")
        streamCopy = true;
    else
        name = value;
}

void SetCodecTag(const std::string& value, const char* lengthMessage, int32_t& tag) {
    if (value.empty()) return;
    if (value.size() != 4) throw ETagAssertion(lengthMessage, kHandlersSource);
    tag = ToTag(value);
}

} // namespace

void TCustomFFmpeg::OptAudioCodec(const std::string& value) {
    SetCodecName(value, FAudioCodecName, FAudioStreamCopy);
}
void TCustomFFmpeg::OptVideoCodec(const std::string& value) {
    SetCodecName(value, FVideoCodecName, FVideoStreamCopy);
}
void TCustomFFmpeg::OptSubtitleCodec(const std::string& value) {
    SetCodecName(value, FSubtitleCodecName, FSubtitleStreamCopy);
}

void TCustomFFmpeg::OptAudioTag(const std::string& value) {
    SetCodecTag(value, kMsgAudioTagLength, FAudioCodecTag);
}
void TCustomFFmpeg::OptVideoTag(const std::string& value) {
    SetCodecTag(value, kMsgVideoTagLength, FVideoCodecTag);
}
void TCustomFFmpeg::OptSubtitleTag(const std::string& value) {
    SetCodecTag(value, kMsgSubtitleTagLength, FSubtitleCodecTag);
}

void TCustomFFmpeg::OptSampleFmt(const std::string& value) {
    RequireLibraries();
    if (value != "list") {
        FAudioSampleFormat = av::av_get_sample_fmt(value.c_str()); // AV_SAMPLE_FMT_NONE when unknown
        return;
    }
    // The header line, then one line per sample format the loaded library knows.
    for (int fmt = -1; fmt < 0 || av::av_get_sample_fmt_name(static_cast<AVSampleFormat>(fmt)); ++fmt) {
        char line[128] = {};
        av::av_get_sample_fmt_string(line, sizeof line, static_cast<AVSampleFormat>(fmt));
        FFLogger().Log(this, llInfo, Trim(line));
    }
}

// ---- Extra streams ----------------------------------------------------------------------------

void TCustomFFmpeg::OptNewAudioStream(const std::string&) {
    if (FOutputFileCount < 1) throw FFmpegException(kMsgNoOutputFile);
    NewAudioStream(FOutputFiles[FOutputFileCount - 1].get());
}

void TCustomFFmpeg::OptNewVideoStream(const std::string&) {
    if (FOutputFileCount < 1) throw FFmpegException(kMsgNoOutputFile);
    NewVideoStream(FOutputFiles[FOutputFileCount - 1].get());
}

void TCustomFFmpeg::OptNewSubtitleStream(const std::string&) {
    if (FOutputFileCount < 1) throw FFmpegException(kMsgNoOutputFile);
    NewSubtitleStream(FOutputFiles[FOutputFileCount - 1].get());
}

// ---- Bitstream filters ------------------------------------------------------------------------

void TCustomFFmpeg::OptBitstreamFilter(const std::string& name, const std::string& value) {
    if (value.empty() || value[0] == '=') return;
    RequireLibraries();
    std::string filterName = value.substr(0, value.find('=')); // arguments after "=" are not used
    const AVBitStreamFilter* filter =
        filterName.find('\0') == std::string::npos ? av::av_bsf_get_by_name(filterName.c_str()) : nullptr;
    if (!filter) throw FFmpegException(Format(kMsgUnknownBsf, Trim(value).c_str()));
    char kind = name.empty() ? 's' : name[0];
    auto& chain = kind == 'v' ? FVideoBsfChain : (kind == 'a' ? FAudioBsfChain : FSubtitleBsfChain);
    chain.push_back(filter);
}
