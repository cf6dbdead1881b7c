// Creating output files: the container format, which kinds of streams the output gets, an
// encoder context per output stream with the collected settings, the pending metadata, the file
// opened for writing through the runtime's open helper, muxer parameters and join mode.
#include "FFmpeg.h"
#include "FFmpegLogger.h"
#include "RunState.h"
#include "UnicodeProtocol.h"

#include <bit>
#include <cstring>

TRunState& TCustomFFmpeg::RunState() {
    if (!FRun) FRun = std::make_unique<TRunState>(*this);
    return *FRun;
}

int TRunState::OutputFileIndexOf(const AVFormatContext* output) const {
    for (int i = 0; i < Engine.FOutputFileCount; ++i)
        if (Engine.FOutputFiles[i].get() == output) return i; // join entries share entry 0's context
    return Engine.FOutputFileCount;                           // not registered yet: it becomes the next entry
}

void TRunState::DiscardOutputStreams(int index, int32_t outputCodecCount) {
    Engine.FOutputCodecContexts[index].clear();
    for (auto& chain : Engine.FBitstreamFilters[index])
        chain.clear();
    StreamCopy[index].fill(false);
    for (int i = outputCodecCount; i < Engine.FOutputCodecCount && i < kMaxCodecs; ++i)
        Engine.FOutputCodecs[i] = nullptr;
    Engine.FOutputCodecCount = outputCodecCount;
}

namespace {

// Which kinds of streams an output gets.
struct TStreamKinds {
    bool Video = false, Audio = false, Subtitle = false;
};

// Those the format or the settings ask for and the inputs have; false when an input stream has
// a type outside the known ones.
bool ChooseStreamKinds(const TCustomFFmpeg& e, const AVOutputFormat* format, bool join, TStreamKinds& kinds) {
    kinds.Video = format->video_codec != AV_CODEC_ID_NONE || e.FVideoStreamCopy || !e.FVideoCodecName.empty();
    kinds.Audio = format->audio_codec != AV_CODEC_ID_NONE || e.FAudioStreamCopy || !e.FAudioCodecName.empty();
    kinds.Subtitle =
        format->subtitle_codec != AV_CODEC_ID_NONE || e.FSubtitleStreamCopy || !e.FSubtitleCodecName.empty();
    if (e.FInputFileCount > 0) {
        bool hasVideo = false, hasAudio = false, hasSubtitle = false;
        int files = join ? 1 : e.FInputFileCount;
        for (int f = 0; f < files; ++f)
            for (unsigned s = 0; s < e.FInputFiles[f]->nb_streams; ++s) {
                int type = e.FInputFiles[f]->streams[s]->codecpar->codec_type;
                if (type < AVMEDIA_TYPE_UNKNOWN || type > AVMEDIA_TYPE_ATTACHMENT) return false;
                hasVideo |= type == AVMEDIA_TYPE_VIDEO;
                hasAudio |= type == AVMEDIA_TYPE_AUDIO;
                hasSubtitle |= type == AVMEDIA_TYPE_SUBTITLE;
            }
        kinds.Video &= hasVideo;
        kinds.Audio &= hasAudio;
        kinds.Subtitle &= hasSubtitle;
    }
    kinds.Audio &= !e.FAudioDisabled;
    kinds.Video &= !e.FVideoDisabled;
    kinds.Subtitle &= !e.FSubtitleDisabled;
    return true;
}

// Creates the streams of the chosen kinds; the failure's text, or "".
std::string CreateStreams(TCustomFFmpeg& e, AVFormatContext* oc, const TStreamKinds& kinds) {
    struct TStreamKind {
        bool Use;
        void (TCustomFFmpeg::*Create)(AVFormatContext*);
        const char* Failure;
    };
    const TStreamKind list[] = {
        {kinds.Video, &TCustomFFmpeg::NewVideoStream, kMsgNewVideoStreamFailed},
        {kinds.Audio, &TCustomFFmpeg::NewAudioStream, kMsgNewAudioStreamFailed},
        {kinds.Subtitle, &TCustomFFmpeg::NewSubtitleStream, kMsgNewSubtitleStreamFailed}};
    for (const TStreamKind& kind : list) {
        if (!kind.Use) continue;
        try {
            (e.*kind.Create)(oc);
        } catch (const std::exception& error) {
            return Format(kind.Failure, error.what());
        }
    }
    return "";
}

// The recording timestamp as the creation time, then the pending pairs from the last added to
// the first added; the pending pairs are used up.
void WritePendingMetadata(TCustomFFmpeg& e, AVFormatContext* oc) {
    if (e.FRecordingTimestamp != 0) {
        time_t seconds = static_cast<time_t>(e.FRecordingTimestamp);
        struct tm utc {};
        char text[32] = {0};
        if (gmtime_r(&seconds, &utc) && strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.000000Z", &utc))
            av::av_dict_set(&oc->metadata, "creation_time", text, 0);
    }
    for (auto it = e.FMetadata.rbegin(); it != e.FMetadata.rend(); ++it)
        av::av_dict_set(&oc->metadata, it->first.c_str(), it->second.c_str(), 0);
    e.FMetadata.clear();
}

// Muxer parameters. The preload goes to muxers that have the option; options meant for this
// muxer alone that it does not have are dropped with the rest.
void SetMuxerParameters(TCustomFFmpeg& e, AVFormatContext* oc) {
    oc->max_delay = static_cast<int>(e.FMuxMaxDelay * 1000000.0f);
    if (oc->priv_data && av::av_opt_find(oc->priv_data, "preload", nullptr, 0, 0))
        av::av_opt_set_int(oc->priv_data, "preload", static_cast<int64_t>(e.FMuxPreload * 1000000.0f), 0);
    for (const auto& [name, value] : e.FMuxerOptions)
        if (oc->priv_data && av::av_opt_find(oc->priv_data, name.c_str(), nullptr, 0, 0) &&
            av::av_opt_set(oc->priv_data, name.c_str(), value.c_str(), 0) < 0)
            FFLogger().Log(&e, llError,
                           Format("Invalid value \"%s\" for option \"%s\"", value.c_str(), name.c_str()));
    e.FMuxerOptions.clear();
    oc->flags |= AVFMT_FLAG_NONBLOCK;
    CopyOptionsToContext(&e.FOptionContexts, oc, e.FOptionContexts.FormatOptions, AV_OPT_FLAG_ENCODING_PARAM);
}

// Join mode: one entry per input, all sharing the context just registered; the total duration
// is the sum of the inputs'.
void AddJoinEntries(TCustomFFmpeg& e) {
    e.FJoin = true;
    int64_t sum = 0;
    for (int i = 0; i < e.FInputFileCount; ++i)
        if (e.FInputFiles[i]->duration != AV_NOPTS_VALUE) sum += e.FInputFiles[i]->duration / 1000;
    e.FTotalDuration = sum == 0 ? -1 : static_cast<int32_t>(std::min<int64_t>(sum, INT32_MAX));
    for (int i = 1; i < e.FInputFileCount; ++i) {
        e.FOutputFiles[e.FOutputFileCount] = e.FOutputFiles[e.FOutputFileCount - 1];
        ++e.FOutputFileCount;
    }
}

} // namespace

int TCustomFFmpeg::OpenOutputFile(const std::string& fileName, bool join) {
    auto clearForcedFormats = [this] {
        FForcedOutputFormat = nullptr;
        FForcedInputFormat = nullptr;
    };
    if (FJoin) {
        FLastError = kMsgCannotJoinTwice;
        clearForcedFormats();
        return -1;
    }
    bool joining = join && FInputFileCount > 1;
    CheckOutputFileRoom(joining ? FInputFileCount : 1);

    const std::string mediaName = LocalMediaName(fileName);
    const AVOutputFormat* format =
        FForcedOutputFormat ? FForcedOutputFormat : av::av_guess_format(nullptr, mediaName.c_str(), nullptr);
    // The feed format ("ffm" over http) no longer exists in the media libraries.
    if (!format || std::strcmp(format->name, "ffm") == 0) {
        FLastError = Format(kMsgNoOutputFormat, fileName.c_str());
        clearForcedFormats();
        return -1;
    }
    // Allocated for its format, so the muxer's own options exist and can be set below.
    AVFormatContext* oc = nullptr;
    if (av::avformat_alloc_output_context2(&oc, format, nullptr, mediaName.c_str()) < 0 || !oc)
        throw FFmpegException(kMsgAllocContextFailed);
    TOutputContextPtr output(oc);

    const int index = FOutputFileCount;
    const int32_t outputCodecCount = FOutputCodecCount;
    auto fail = [&](const std::string& text) {
        FLastError = text;
        RunState().DiscardOutputStreams(index, outputCodecCount);
        clearForcedFormats();
        return -1; // `output` releases the context (and closes a file it opened)
    };

    TStreamKinds kinds;
    if (!ChooseStreamKinds(*this, format, join, kinds))
        return fail(Format(kMsgCheckInputsFailed, kMsgInvalidInputCodecType));
    std::string failure = CreateStreams(*this, oc, kinds);
    if (!failure.empty()) return fail(failure);
    WritePendingMetadata(*this, oc);

    if ((format->flags & AVFMT_NEEDNUMBER) && !av::av_filename_number_test(oc->url))
        return fail(FormatOpenError(DisplayFileName(oc->url), -33));
    if (!(format->flags & AVFMT_NOFILE) && OpenMediaOutput(oc, mediaName) < 0)
        return fail(Format(kMsgCouldNotOpen, fileName.c_str()));
    SetMuxerParameters(*this, oc);

    // Registered once its file is open: the table owns it from here on, and closing it deletes
    // the file when nothing was written to it.
    FOutputFiles[index] = OwnOutputFile(output.release());
    ++FOutputFileCount;
    if (joining) AddJoinEntries(*this);
    clearForcedFormats();
    return FOutputFileCount;
}

AVStream* TRunState::NewOutputStream(AVFormatContext* oc, AVMediaType type, const std::string& codecName,
                                     bool copy, int32_t codecTag,
                                     std::vector<const AVBitStreamFilter*>& bsfChain, AVCodecContext*& enc,
                                     const AVCodec*& encoder) {
    const int fileIndex = OutputFileIndexOf(oc);
    if (oc->nb_streams >= static_cast<unsigned>(kMaxStreams) || Engine.FOutputCodecCount >= kMaxCodecs ||
        fileIndex >= kMaxFiles)
        throw FFmpegException(kMsgCouldNotAllocStream);

    // The encoder: by name, else the format's default for this kind and file name. A name that
    // does not resolve fails before anything is added to the output.
    encoder = nullptr;
    AVCodecID codecId = AV_CODEC_ID_NONE;
    if (!copy) {
        if (!codecName.empty()) {
            int id = 0;
            if (!Engine.FindCodecId(codecName, type, true, id)) throw FFmpegException(Engine.FLastError);
            encoder = av::avcodec_find_encoder_by_name(codecName.c_str());
            codecId = static_cast<AVCodecID>(id);
            Engine.FOutputCodecs[Engine.FOutputCodecCount] = encoder;
        } else {
            codecId = av::av_guess_codec(oc->oformat, nullptr, oc->url, nullptr, type);
            encoder = av::avcodec_find_encoder(codecId);
        }
    }

    AVStream* st = av::avformat_new_stream(oc, nullptr);
    if (!st) throw FFmpegException(kMsgCouldNotAllocStream);
    st->id = static_cast<int>(oc->nb_streams) - 1;
    enc = av::avcodec_alloc_context3(encoder);
    if (!enc) throw FFmpegException(kMsgCodecContextFailed);
    auto& contexts = Engine.FOutputCodecContexts[fileIndex];
    if (contexts.size() <= static_cast<size_t>(st->index)) contexts.resize(st->index + 1);
    contexts[st->index].reset(enc); // owned from here on

    Engine.FBitstreamFilters[fileIndex][st->index] = std::move(bsfChain);
    bsfChain.clear();
    enc->thread_count = Engine.FThreadCount;
    enc->codec_type = type;
    if (codecTag != 0) enc->codec_tag = static_cast<unsigned>(codecTag);
    if (oc->oformat->flags & AVFMT_GLOBALHEADER) {
        enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        // Streams created later inherit it through the recorded options.
        AVCodecContext* options = static_cast<AVCodecContext*>(Engine.FOptionContexts.CodecOptions[type]);
        if (options) options->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    StreamCopy[fileIndex][st->index] = copy;
    if (!copy) enc->codec_id = codecId;
    ++Engine.FOutputCodecCount;
    return st;
}

void TCustomFFmpeg::NewAudioStream(AVFormatContext* oc) {
    AVCodecContext* enc = nullptr;
    const AVCodec* encoder = nullptr;
    AVStream* st = nullptr;
    try {
        st = RunState().NewOutputStream(oc, AVMEDIA_TYPE_AUDIO, FAudioCodecName, FAudioStreamCopy,
                                        FAudioCodecTag, FAudioBsfChain, enc, encoder);
    } catch (...) {
        FAudioCodecName.clear();
        FAudioLanguage.clear();
        throw;
    }

    if (FAudioStreamCopy) {
        av::av_channel_layout_uninit(&enc->ch_layout);
        av::av_channel_layout_default(&enc->ch_layout, FAudioChannels);
    } else {
        CopyOptionsToContext(&FOptionContexts, enc, FOptionContexts.CodecOptions[AVMEDIA_TYPE_AUDIO],
                             AV_OPT_FLAG_ENCODING_PARAM | AV_OPT_FLAG_AUDIO_PARAM);
        // Options no generic context knows that the encoder itself has (LAME's "abr").
        for (const auto& [name, value] : FMuxerOptions)
            if (enc->priv_data && av::av_opt_find(enc->priv_data, name.c_str(), nullptr, 0, 0))
                av::av_opt_set(enc->priv_data, name.c_str(), value.c_str(), 0);
        if (FAudioQScale > -99999.0f) {
            enc->flags |= AV_CODEC_FLAG_QSCALE;
            enc->global_quality = static_cast<int>(FAudioQScale * FF_QP2LAMBDA);
        }
        enc->thread_count = FThreadCount;
        // The recorded layout when it has the requested channel count, else the default one.
        av::av_channel_layout_uninit(&enc->ch_layout);
        uint64_t mask = static_cast<uint64_t>(FAudioChannelLayout);
        if (mask != 0 && std::popcount(mask) == FAudioChannels)
            av::av_channel_layout_from_mask(&enc->ch_layout, mask);
        else
            av::av_channel_layout_default(&enc->ch_layout, FAudioChannels);
        enc->sample_fmt = static_cast<AVSampleFormat>(FAudioSampleFormat);
        if (encoder && encoder->sample_fmts) {
            bool listed = false;
            for (const AVSampleFormat* f = encoder->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f)
                listed |= *f == enc->sample_fmt;
            if (!listed) enc->sample_fmt = encoder->sample_fmts[0];
        }
    }
    enc->sample_rate = FAudioSampleRate;
    enc->time_base = AVRational{1, FAudioSampleRate};
    if (!FAudioLanguage.empty()) av::av_dict_set(&st->metadata, "language", FAudioLanguage.c_str(), 0);
    FAudioLanguage.clear();
    FAudioDisabled = false;
    FAudioCodecName.clear();
    FAudioStreamCopy = false;
}

void TCustomFFmpeg::NewVideoStream(AVFormatContext* oc) {
    AVCodecContext* enc = nullptr;
    const AVCodec* encoder = nullptr;
    try {
        RunState().NewOutputStream(oc, AVMEDIA_TYPE_VIDEO, FVideoCodecName, FVideoStreamCopy, FVideoCodecTag,
                                   FVideoBsfChain, enc, encoder);
    } catch (...) {
        FVideoCodecName.clear();
        throw;
    }
    // Video is only ever copied; an encoder would need the video settings of a later version.
    FVideoDisabled = false;
    FVideoCodecName.clear();
    FVideoStreamCopy = false;
}

void TCustomFFmpeg::NewSubtitleStream(AVFormatContext* oc) {
    AVCodecContext* enc = nullptr;
    const AVCodec* encoder = nullptr;
    AVStream* st = nullptr;
    try {
        st = RunState().NewOutputStream(oc, AVMEDIA_TYPE_SUBTITLE, FSubtitleCodecName, FSubtitleStreamCopy,
                                        FSubtitleCodecTag, FSubtitleBsfChain, enc, encoder);
    } catch (...) {
        FSubtitleCodecName.clear();
        FSubtitleLanguage.clear();
        throw;
    }
    if (!FSubtitleLanguage.empty()) av::av_dict_set(&st->metadata, "language", FSubtitleLanguage.c_str(), 0);
    FSubtitleLanguage.clear();
    FSubtitleDisabled = false;
    FSubtitleCodecName.clear();
    FSubtitleStreamCopy = false;
}
