#include "DecodedPlacement.h"

#include "MediaApi.h"

#include <algorithm>
#include <cstring>

namespace {

// What an Ogg Opus stream's duration counts besides its decoded audio, in the stream's time
// base: the pre-skip of its header (the stream's extradata) and, when its granule positions do
// not begin at 0, its start time as well. 0 for every other stream.
int64_t CountedBeforeAudio(const AVFormatContext& context, const AVStream& stream) {
    const AVCodecParameters* par = stream.codecpar;
    if (par->codec_id != AV_CODEC_ID_OPUS || !context.iformat ||
        std::strcmp(context.iformat->name, "ogg") != 0 || par->extradata_size < 19 ||
        std::memcmp(par->extradata, "OpusHead", 8) != 0)
        return 0;
    const int preSkip = par->extradata[10] | par->extradata[11] << 8;
    int64_t counted = av::av_rescale_q(preSkip, AVRational{1, 48000}, stream.time_base);
    if (stream.start_time != AV_NOPTS_VALUE && stream.start_time > 0) counted += stream.start_time;
    return counted;
}

} // namespace

int WmaFrameLength(const AVStream& stream, int rate) {
    const AVCodecID codec = stream.codecpar->codec_id;
    if (codec != AV_CODEC_ID_WMAV1 && codec != AV_CODEC_ID_WMAV2) return 0;
    if (rate <= 16000) return 512;
    if (rate <= 22050 || (rate <= 32000 && codec == AV_CODEC_ID_WMAV1)) return 1024;
    return 2048;
}

int64_t StreamOrigin(const AVStream& stream) {
    return stream.start_time != AV_NOPTS_VALUE ? stream.start_time : 0;
}

// WMA: two frames before the stamp, on the frame grid of the stream's start (the millisecond
// stamps are snapped to it first; the plain shift would leave up to a millisecond).
bool DecodedFrameStart(const AVStream& stream, const AVFrame& frame, int64_t pts, int64_t& samples) {
    if (frame.sample_rate <= 0 || pts == AV_NOPTS_VALUE) return false;
    const int n = WmaFrameLength(stream, frame.sample_rate);
    if (n == 0 || frame.nb_samples % n != 0) return false;
    const int64_t origin = StreamOrigin(stream);
    int64_t fromOrigin = av::av_rescale_q(pts - origin, stream.time_base, AVRational{1, frame.sample_rate});
    int64_t frames = fromOrigin >= 0 ? (fromOrigin + n / 2) / n : -((-fromOrigin + n / 2) / n);
    samples = (frames - 2) * n;
    return true;
}

int64_t DecodedStreamDuration(const AVFormatContext& context, const AVStream& stream) {
    if (stream.duration == AV_NOPTS_VALUE) return AV_NOPTS_VALUE;
    return std::max<int64_t>(0, stream.duration - CountedBeforeAudio(context, stream));
}

int64_t DecodedContainerDuration(const AVFormatContext& context) {
    if (context.duration == AV_NOPTS_VALUE) return AV_NOPTS_VALUE;
    for (unsigned i = 0; i < context.nb_streams; ++i) {
        const AVStream& stream = *context.streams[i];
        if (stream.codecpar->codec_type != AVMEDIA_TYPE_AUDIO) continue;
        const int64_t counted = av::av_rescale_q(CountedBeforeAudio(context, stream), stream.time_base,
                                                 AVRational{1, AV_TIME_BASE});
        return std::max<int64_t>(0, context.duration - counted);
    }
    return context.duration;
}
