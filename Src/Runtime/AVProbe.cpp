#include "AVProbe.h"

#include "FFPtr.h"
#include "FFUtils.h"
#include "FFmpegLoader.h"
#include "MediaApi.h"
#include "MyUtils.h"
#include "UnicodeProtocol.h"

#include <climits>
#include <stdexcept>

namespace {

int32_t ClampToInt32(int64_t value) {
    return int32_t(Clip<int64_t>(value, INT32_MIN, INT32_MAX));
}

// Microseconds of a stream time, or -1 when the library gives none.
int64_t ToMicroseconds(int64_t value, AVRational timeBase) {
    if (value == AV_NOPTS_VALUE) return -1;
    return av::av_rescale_q(value, timeBase, AVRational{1, AV_TIME_BASE});
}

} // namespace

TCustomAVProbe::TCustomAVProbe() = default;

TCustomAVProbe::~TCustomAVProbe() {
    // Without the libraries an owned context cannot be closed any more; it is abandoned rather
    // than closed through an empty entry point.
    if (FOwnsContext && FFormatContext && !FFLoader().IsLoaded(libAVFormat)) FFormatContext = nullptr;
    Close();
}

void TCustomAVProbe::CheckLibraries() const {
    static const struct {
        TLibraryID ID;
        const char* Text;
    } kRequired[] = {
        {libAVCodec, "LibAVCodec not loaded."},
        {libAVFormat, "LibAVFormat not loaded."},
        {libAVUtil, "LibAVUtil not loaded."},
        {libSWScale, "LibSwScale not loaded."},
    };
    for (const auto& lib : kRequired)
        if (!FFLoader().IsLoaded(lib.ID)) throw std::runtime_error(lib.Text);
}

void TCustomAVProbe::AttachContext(AVFormatContext* context) {
    CheckLibraries();
    Close();
    FFormatContext = context;
    FOwnsContext = false;
    Recount();
}

void TCustomAVProbe::Close() {
    FFormatName.clear();
    if (FFormatContext && FOwnsContext) CloseMediaInput(&FFormatContext);
    FFormatContext = nullptr;
    FOwnsContext = false;
    Recount();
}

bool TCustomAVProbe::LoadFile(const std::string& fileName, const std::string& formatName) {
    CheckLibraries();
    Close();

    const AVInputFormat* format = nullptr;
    if (!formatName.empty()) {
        format = av::av_find_input_format(formatName.c_str());
        if (!format) {
            LastErrMsg = Format("Unknown input format: %s", formatName.c_str());
            return false;
        }
    }

    FFormatContext = av::avformat_alloc_context();
    FOwnsContext = true;
    // Every name is a local file; the conversion opens the same one the same way.
    int rc = FFormatContext ? OpenMediaInput(&FFormatContext, LocalMediaName(fileName), format, nullptr)
                            : AVERROR(ENOMEM);
    if (rc < 0) { // the open has freed the context
        FFormatContext = nullptr;
        LastErrMsg = MediaOpenErrorText(fileName, rc, format);
        Close();
        return false;
    }

    rc = FindMediaStreamInfo(FFormatContext);
    if (rc < 0) {
        LastErrMsg = rc == kErrReadBound || rc == AVERROR_EXIT
                         ? MediaOpenErrorText(fileName, rc, format)
                         : Format("%s: could not find codec parameters", fileName.c_str());
        Close();
        return false;
    }

    Recount();
    FFormatName = formatName;
    return true;
}

void TCustomAVProbe::Recount() {
    StreamCount = ProgramCount = -1;
    AudioStreamCount = VideoStreamCount = SubtitleStreamCount = -1;
    FirstAudioStream = FirstVideoStream = FirstSubtitleStream = -1;
    if (!FFormatContext) return;
    StreamCount = int32_t(FFormatContext->nb_streams);
    ProgramCount = int32_t(FFormatContext->nb_programs);
    AudioStreamCount = VideoStreamCount = SubtitleStreamCount = 0;
    for (unsigned i = 0; i < FFormatContext->nb_streams; ++i) {
        const AVStream* stream = FFormatContext->streams[i];
        int32_t* count = nullptr;
        int32_t* first = nullptr;
        switch (stream->codecpar->codec_type) {
        case AVMEDIA_TYPE_VIDEO:
            count = &VideoStreamCount;
            first = &FirstVideoStream;
            break;
        case AVMEDIA_TYPE_AUDIO:
            count = &AudioStreamCount;
            first = &FirstAudioStream;
            break;
        case AVMEDIA_TYPE_SUBTITLE:
            count = &SubtitleStreamCount;
            first = &FirstSubtitleStream;
            break;
        default:
            continue;
        }
        ++*count;
        if (*first == -1) *first = int32_t(i);
    }
}

bool TCustomAVProbe::GetAudioStreamInfo(TAudioStreamInfo& info) {
    return GetAudioStreamInfo(-1, info);
}

bool TCustomAVProbe::GetAudioStreamInfo(int streamIndex, TAudioStreamInfo& info) {
    info = TAudioStreamInfo{};
    if (!FFormatContext) {
        av::av_log(nullptr, AV_LOG_WARNING, "file not loaded.\n");
        LastErrMsg = "file not loaded.";
        return false;
    }
    if (streamIndex < 0) {
        streamIndex = FirstAudioStream;
        if (streamIndex == -1) {
            av::av_log(nullptr, AV_LOG_ERROR, "no audio stream.\n");
            LastErrMsg = "no audio stream.";
            return false;
        }
    }
    if (streamIndex >= StreamCount) {
        av::av_log(nullptr, AV_LOG_ERROR, "stream index #%d is invalid.\n", streamIndex);
        LastErrMsg = Format("stream index #%d is invalid.", streamIndex);
        return false;
    }
    AVStream* stream = FFormatContext->streams[streamIndex];
    if (stream->codecpar->codec_type != AVMEDIA_TYPE_AUDIO) {
        av::av_log(nullptr, AV_LOG_ERROR, "stream #%d is not audio stream.\n", streamIndex);
        LastErrMsg = Format("stream #%d is not audio stream.", streamIndex);
        return false;
    }

    // The probe's own view of the decoder parameters (never opened).
    TCodecContextPtr decoder(av::avcodec_alloc_context3(nullptr));
    if (!decoder || av::avcodec_parameters_to_context(decoder.get(), stream->codecpar) < 0) {
        LastErrMsg = "memory allocation error occurred";
        return false;
    }

    info.Language = GetMetadataValue(stream->metadata, "language", std::string());
    info.Codec = CodecDescription(decoder.get(), false);
    // A time base with denominator 0 would make every conversion divide by zero: the stream's
    // record is repaired in place.
    if (stream->time_base.den == 0) {
        stream->time_base.den = stream->time_base.num;
        if (stream->time_base.den == 0) stream->time_base.den = 1;
    }
    info.StartTime = stream->start_time;
    info.StartTimeUS = ToMicroseconds(stream->start_time, stream->time_base);
    info.Duration = stream->duration;
    info.DurationUS = ToMicroseconds(stream->duration, stream->time_base);
    info.BitRate = ClampToInt32(decoder->bit_rate);
    info.Channels = decoder->ch_layout.nb_channels;
    info.SampleRate = decoder->sample_rate;
    info.SampleFormat = decoder->sample_fmt;
    return true;
}
