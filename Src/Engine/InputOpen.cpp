// Opening input files: the format context through the runtime's open helper (unicode names
// included), a decoder context per stream with the recorded options, the start-time seek, the
// audio settings taken from the file, and the reset of the settings that belong to one file.
#include "DecodedPlacement.h"
#include "FFmpeg.h"
#include "FFmpegLogger.h"
#include "RunState.h"
#include "UnicodeProtocol.h"

#include <algorithm>
#include <cstring>

namespace {

// Decoders that depend on earlier frames (MP3's bit reservoir, Vorbis' overlap) need this much
// audio before the start time to produce it correctly; the part before the start is decoded and
// dropped to the sample.
constexpr int64_t kSeekPreRoll = 1000000; // µs

struct TDictionaryOwner {
    AVDictionary* Dict = nullptr;
    ~TDictionaryOwner() { av::av_dict_free(&Dict); }
};

} // namespace

bool TCustomFFmpeg::FindCodecId(const std::string& name, int mediaType, bool encoder, int& id) {
    if (name.empty()) {
        id = AV_CODEC_ID_NONE;
        return true;
    }
    const char* kind = encoder ? "encoder" : "decoder";
    const AVCodec* codec = encoder ? av::avcodec_find_encoder_by_name(name.c_str())
                                   : av::avcodec_find_decoder_by_name(name.c_str());
    if (!codec) {
        FLastError = Format(kMsgUnknownCodec, kind, name.c_str());
        return false;
    }
    if (codec->type != mediaType) {
        FLastError = Format(kMsgInvalidCodecType, kind, name.c_str());
        return false;
    }
    id = codec->id;
    return true;
}

void TRunState::ResetPerFileSettings() {
    Engine.FForcedInputFormat = nullptr;
    Engine.FForcedOutputFormat = nullptr;
    Engine.FVideoCodecName.clear();
    Engine.FAudioCodecName.clear();
    Engine.FSubtitleCodecName.clear();
}

namespace {

// Raw inputs take their rate and layout from the audio settings; other demuxers ignore these.
void SetRawInputOptions(const TCustomFFmpeg& e, AVDictionary** options) {
    av::av_dict_set_int(options, "sample_rate", e.FAudioSampleRate, 0);
    if (e.FAudioChannels <= 0) return;
    AVChannelLayout layout{};
    av::av_channel_layout_default(&layout, e.FAudioChannels);
    char text[64] = {0};
    if (av::av_channel_layout_describe(&layout, text, sizeof text) > 0)
        av::av_dict_set(options, "ch_layout", text, 0);
    av::av_channel_layout_uninit(&layout);
}

// The context's settings before opening: the forced decoders' ids, the recorded format
// options, and reads that give up once the conversion is asked to stop.
void PrepareInputContext(TCustomFFmpeg& e, AVFormatContext* ic, int videoId, int audioId, int subtitleId) {
    ic->video_codec_id = static_cast<AVCodecID>(videoId);
    ic->audio_codec_id = static_cast<AVCodecID>(audioId);
    ic->subtitle_codec_id = static_cast<AVCodecID>(subtitleId);
    CopyOptionsToContext(&e.FOptionContexts, ic, e.FOptionContexts.FormatOptions, AV_OPT_FLAG_DECODING_PARAM);
    ic->flags |= AVFMT_FLAG_NONBLOCK;
    ic->interrupt_callback.callback = [](void* engine) {
        return static_cast<TCustomFFmpeg*>(engine)->FStopRequested.load() ? 1 : 0;
    };
    ic->interrupt_callback.opaque = &e;
}

// The chosen program, the streams' parameters and the stream limit; false with FLastError.
bool ProbeStreams(TCustomFFmpeg& e, AVFormatContext* ic, const std::string& fileName) {
    if (e.FProgramId != 0)
        for (unsigned i = 0; i < ic->nb_programs; ++i)
            if (ic->programs[i]->id != e.FProgramId) ic->programs[i]->discard = AVDISCARD_ALL;
    int rc;
    {
        std::lock_guard<std::mutex> lock(CodecLock()); // it may open and close decoders
        rc = FindMediaStreamInfo(ic);
    }
    if (rc == kErrReadBound) {
        e.FLastError = MediaOpenErrorText(fileName, rc, e.FForcedInputFormat);
        return false;
    }
    if (rc < 0 && e.FVerbose >= 0) {
        e.FLastError = Format(kMsgNoCodecParameters, fileName.c_str());
        FFLogger().Log(&e, llVerbose, e.FLastError);
        return false;
    }
    if (ic->nb_streams > static_cast<unsigned>(kMaxStreams)) {
        e.FLastError = Format(kMsgTooManyInputStreams, fileName.c_str(), kMaxStreams);
        return false;
    }
    return true;
}

// Seeks towards the requested start with a pre-roll and uses the start up; the timestamp the
// offset maps to 0 (µs).
int64_t SeekToStart(TCustomFFmpeg& e, AVFormatContext* ic) {
    int64_t fileStart = ic->start_time != AV_NOPTS_VALUE ? ic->start_time : 0;
    int64_t seekTimestamp = e.FStartTime + fileStart;
    if (e.FStartTime != 0) {
        int64_t target = std::max(seekTimestamp - kSeekPreRoll, fileStart);
        // Reading from the file's start needs no seek; a failed seek is not an error. Ogg is read
        // from its start: its granule positions may disagree with the decoded samples, and only
        // decoding from the start places the audio by its sample count.
        bool byCount = std::strcmp(ic->iformat->name, "ogg") == 0;
        if (target > fileStart && !byCount) av::av_seek_frame(ic, -1, target, AVSEEK_FLAG_BACKWARD);
        e.FStartTime = 0;
    }
    return seekTimestamp;
}

} // namespace

bool TCustomFFmpeg::OpenInputFile(const std::string& fileName) {
    CheckInputFileRoom();
    // Settings meant for this one file never reach the next one, however this call ends.
    struct TPerFileReset {
        TCustomFFmpeg* Engine;
        ~TPerFileReset() { Engine->RunState().ResetPerFileSettings(); }
    } perFileReset{this};

    // Forced decoders by name: the demuxer reports these codec ids.
    int videoId = 0, audioId = 0, subtitleId = 0;
    if (!FindCodecId(FVideoCodecName, AVMEDIA_TYPE_VIDEO, false, videoId) ||
        !FindCodecId(FAudioCodecName, AVMEDIA_TYPE_AUDIO, false, audioId) ||
        !FindCodecId(FSubtitleCodecName, AVMEDIA_TYPE_SUBTITLE, false, subtitleId))
        return false;
    if (FPgmYuv) videoId = AV_CODEC_ID_PGMYUV;

    AVFormatContext* ic = av::avformat_alloc_context();
    if (!ic) throw FFmpegException(kMsgAllocContextFailed);
    TDictionaryOwner options;
    SetRawInputOptions(*this, &options.Dict);
    PrepareInputContext(*this, ic, videoId, audioId, subtitleId);
    int rc = OpenMediaInput(&ic, LocalMediaName(fileName), FForcedInputFormat, &options.Dict);
    if (rc < 0) { // the helper has freed the context
        FLastError = MediaOpenErrorText(fileName, rc, FForcedInputFormat);
        return false;
    }
    TInputContextPtr input(ic);
    if (!ProbeStreams(*this, ic, fileName)) return false;
    const int64_t seekTimestamp = SeekToStart(*this, ic);

    std::vector<TLockedCodecContextPtr> decoders;
    for (unsigned i = 0; i < ic->nb_streams; ++i)
        RunState().OpenInputStream(ic->streams[i], decoders);
    if (const int64_t duration = DecodedContainerDuration(*ic); duration != AV_NOPTS_VALUE) {
        int64_t ms = duration / 1000;
        if (FTotalDuration < ms) FTotalDuration = static_cast<int32_t>(std::min<int64_t>(ms, INT32_MAX));
    }

    FInputFiles[FInputFileCount] = std::move(input);
    FInputCodecContexts[FInputFileCount] = std::move(decoders);
    FInputTsOffsets[FInputFileCount] = FCopyTs ? FInputTsOffset : FInputTsOffset - seekTimestamp;
    if (FVerbose >= 0) av::av_dump_format(ic, FInputFileCount, LocalMediaName(fileName).c_str(), 0);
    ++FInputFileCount;
    return true;
}

namespace {

// The decoder chosen by name for streams of `type`, or null; raises FFmpegException for a type
// outside the known ones.
const AVCodec* NamedDecoder(const TCustomFFmpeg& e, AVMediaType type) {
    const std::string* name = nullptr;
    switch (type) {
    case AVMEDIA_TYPE_AUDIO:
        name = &e.FAudioCodecName;
        break;
    case AVMEDIA_TYPE_VIDEO:
        name = &e.FVideoCodecName;
        break;
    case AVMEDIA_TYPE_SUBTITLE:
        name = &e.FSubtitleCodecName;
        break;
    case AVMEDIA_TYPE_DATA:
    case AVMEDIA_TYPE_ATTACHMENT:
    case AVMEDIA_TYPE_UNKNOWN:
        return nullptr;
    default:
        throw FFmpegException(kMsgInvalidCodecTypeInput);
    }
    return name->empty() ? nullptr : av::avcodec_find_decoder_by_name(name->c_str());
}

} // namespace

void TRunState::OpenInputStream(AVStream* st, std::vector<TLockedCodecContextPtr>& decoders) {
    AVCodecParameters* par = st->codecpar;
    const AVCodec* named = NamedDecoder(Engine, par->codec_type);

    // The decoder context: made with the decoder chosen by name, else the one for the codec id.
    AVCodecContext* dec = av::avcodec_alloc_context3(named ? named : av::avcodec_find_decoder(par->codec_id));
    if (!dec) throw FFmpegException(kMsgCodecContextFailed);
    decoders.emplace_back(dec);
    if (av::avcodec_parameters_to_context(dec, par) < 0) throw FFmpegException(kMsgCodecContextFailed);
    dec->pkt_timebase = st->time_base;
    dec->thread_count = Engine.FThreadCount;

    switch (par->codec_type) {
    case AVMEDIA_TYPE_AUDIO:
        CopyOptionsToContext(&Engine.FOptionContexts, dec,
                             Engine.FOptionContexts.CodecOptions[AVMEDIA_TYPE_AUDIO],
                             AV_OPT_FLAG_DECODING_PARAM | AV_OPT_FLAG_AUDIO_PARAM);
        Engine.FAudioChannelLayout =
            dec->ch_layout.order == AV_CHANNEL_ORDER_NATIVE ? static_cast<int64_t>(dec->ch_layout.u.mask) : 0;
        Engine.FAudioChannels = dec->ch_layout.nb_channels;
        Engine.FAudioSampleRate = dec->sample_rate;
        Engine.FAudioSampleFormat = dec->sample_fmt;
        Engine.FInputCodecs[Engine.FInputCodecCount++] = named;
        if (Engine.FAudioDisabled) st->discard = AVDISCARD_ALL;
        break;
    case AVMEDIA_TYPE_VIDEO:
        CopyOptionsToContext(&Engine.FOptionContexts, dec,
                             Engine.FOptionContexts.CodecOptions[AVMEDIA_TYPE_VIDEO],
                             AV_OPT_FLAG_DECODING_PARAM | AV_OPT_FLAG_VIDEO_PARAM);
        Engine.FInputCodecs[Engine.FInputCodecCount++] = named;
        if (Engine.FVideoDisabled) st->discard = AVDISCARD_ALL;
        break;
    case AVMEDIA_TYPE_SUBTITLE:
        Engine.FInputCodecs[Engine.FInputCodecCount++] = named;
        if (Engine.FSubtitleDisabled) st->discard = AVDISCARD_ALL;
        break;
    case AVMEDIA_TYPE_DATA: // takes no decoder slot
        break;
    default: // attachment, unknown: a slot that keeps its content
        ++Engine.FInputCodecCount;
        break;
    }
}
