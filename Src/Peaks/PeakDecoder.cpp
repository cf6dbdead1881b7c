// Decoding for the summary and the sample reader: opening, seeking and placing the decoded
// frames on the file's timeline.
#include "PeakDecoder.h"

#include "BinWriter.h"

#include "DecodedPlacement.h"
#include "FFUtils.h"
#include "MyUtils.h"
#include "UnicodeProtocol.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr double kSeekPrerollSeconds = 1.0; // MP3's bit reservoir needs a few frames
constexpr int kReadRetries = 16;
constexpr int kRawChunkBytes = 256 * 1024;

// Little-endian PCM codecs whose bytes are the decoder's output, and that output's format.
int RawSampleFormat(AVCodecID codec) {
    switch (codec) {
    case AV_CODEC_ID_PCM_U8:
        return AV_SAMPLE_FMT_U8;
    case AV_CODEC_ID_PCM_S16LE:
        return AV_SAMPLE_FMT_S16;
    case AV_CODEC_ID_PCM_S32LE:
        return AV_SAMPLE_FMT_S32;
    case AV_CODEC_ID_PCM_F32LE:
        return AV_SAMPLE_FMT_FLT;
    case AV_CODEC_ID_PCM_F64LE:
        return AV_SAMPLE_FMT_DBL;
    default:
        return -1;
    }
}
constexpr int kWavPacketBytes = 65536; // the WAV demuxer's 4 KiB default costs more in calls than in bytes
// A WAV file's PCM is probed for compressed audio in disguise (DTS, AC-3): one 64 KiB packet holds
// many of their frames. The default of 2500 packets runs every format probe over 5 MB of PCM in
// growing steps, once per decoder: most of the opening of a WAV file.
constexpr int kCodecProbePackets = 1;

} // namespace

TPeakDecoder::TPeakDecoder(const std::atomic<bool>& abort)
    : FAbort(abort), FPacket(av::av_packet_alloc()), FFrame(av::av_frame_alloc()) {}

TPeakDecoder::~TPeakDecoder() {
    if (FRawFd >= 0) ::close(FRawFd);
    std::lock_guard<std::mutex> guard(CodecLock());
    FCodec.reset();
}

int TPeakDecoder::InterruptCallback(void* opaque) {
    return static_cast<TPeakDecoder*>(opaque)->FAbort.load() ? 1 : 0;
}

bool TPeakDecoder::Open(const std::string& fileName, std::string& error) {
    AVFormatContext* context = av::avformat_alloc_context();
    if (!context || !FPacket || !FFrame) {
        error = FormatOpenError(fileName, AVERROR(ENOMEM));
        return false;
    }
    context->interrupt_callback.callback = &TPeakDecoder::InterruptCallback;
    context->interrupt_callback.opaque = this;
    AVDictionary* options = nullptr;
    av::av_dict_set_int(&options, "max_size", kWavPacketBytes, 0);
    av::av_dict_set_int(&options, "max_probe_packets", kCodecProbePackets, 0);
    int rc = OpenMediaInput(&context, LocalMediaName(fileName), nullptr, &options);
    av::av_dict_free(&options);
    if (rc < 0) {
        error = FormatOpenError(fileName, InputOpenErrorCode(fileName, rc, nullptr));
        return false;
    }
    FFormat.reset(context);
    {
        std::lock_guard<std::mutex> guard(CodecLock());
        rc = av::avformat_find_stream_info(context, nullptr);
    }
    if (rc < 0) {
        error = FormatOpenError(fileName, rc);
        return false;
    }
    for (unsigned i = 0; i < context->nb_streams && !FStream; ++i)
        if (context->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) FStream = context->streams[i];
    for (unsigned i = 0; i < context->nb_streams; ++i)
        if (context->streams[i] != FStream) context->streams[i]->discard = AVDISCARD_ALL;
    const AVCodec* codec = FStream ? av::avcodec_find_decoder(FStream->codecpar->codec_id) : nullptr;
    if (!codec) {
        error = Format("%s: no audio stream that can be decoded", fileName.c_str());
        return false;
    }
    FCodec.reset(av::avcodec_alloc_context3(codec));
    if (!FCodec || av::avcodec_parameters_to_context(FCodec.get(), FStream->codecpar) < 0) {
        error = FormatOpenError(fileName, AVERROR(ENOMEM));
        return false;
    }
    FCodec->pkt_timebase = FStream->time_base;
    FCodec->thread_count = 1; // the build runs its own threads
    {
        std::lock_guard<std::mutex> guard(CodecLock());
        rc = av::avcodec_open2(FCodec.get(), codec, nullptr);
    }
    if (rc < 0 || FCodec->sample_rate <= 0 || FCodec->ch_layout.nb_channels <= 0) {
        error = Format("%s: the audio decoder could not be opened", fileName.c_str());
        return false;
    }
    FFacts.Channels = FCodec->ch_layout.nb_channels;
    FFacts.SampleRate = FCodec->sample_rate;
    FOriginTs = StreamOrigin(*FStream);
    AVRational frameBase{1, FFacts.SampleRate};
    if (FStream->duration != AV_NOPTS_VALUE && FStream->duration > 0)
        FFacts.DurationFrames =
            av::av_rescale_q(DecodedStreamDuration(*context, *FStream), FStream->time_base, frameBase);
    else if (context->duration != AV_NOPTS_VALUE && context->duration > 0)
        FFacts.DurationFrames =
            av::av_rescale_q(DecodedContainerDuration(*context), AVRational{1, AV_TIME_BASE}, frameBase);
    FFacts.Seekable = context->pb && (context->pb->seekable & AVIO_SEEKABLE_NORMAL) &&
                      !(context->iformat->flags & AVFMT_NOTIMESTAMPS) && FFacts.DurationFrames > 0;
    TryRawPcm(fileName);
    return true;
}

void TPeakDecoder::TryRawPcm(const std::string& fileName) {
    const AVCodecParameters* par = FStream->codecpar;
    int format = RawSampleFormat(par->codec_id);
    if (format < 0 || std::strcmp(FFormat->iformat->name, "wav") != 0 || !FFacts.Seekable ||
        par->block_align !=
            FFacts.Channels * av::av_get_bytes_per_sample(static_cast<AVSampleFormat>(format)))
        return;
    // The first packet starts at the first sample.
    if (av::av_read_frame(FFormat.get(), FPacket.get()) < 0) return;
    int64_t start = FPacket->pos;
    av::av_packet_unref(FPacket.get());
    int fd = start >= 0 ? ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC) : -1;
    if (fd < 0) {
        av::av_seek_frame(FFormat.get(), FStream->index, FOriginTs, AVSEEK_FLAG_BACKWARD);
        return;
    }
    FRawFd = fd;
    FRawFormat = format;
    FRawBlockAlign = par->block_align;
    FRawDataStart = start;
    FRawBuffer.resize(static_cast<size_t>(kRawChunkBytes / FRawBlockAlign * FRawBlockAlign));
}

TDecodeEnd TPeakDecoder::RunRaw(int64_t start, int64_t end, const TSink& sink) {
    int64_t last = end >= 0 ? std::min(end, FFacts.DurationFrames) : FFacts.DurationFrames;
    int64_t frame = std::max(start, FRawNext);
    uint8_t* planes[1] = {FRawBuffer.data()};
    AVFrame block{};
    block.format = FRawFormat;
    block.ch_layout.nb_channels = FFacts.Channels;
    block.extended_data = planes;
    while (frame < last) {
        if (FAbort.load()) return TDecodeEnd::Stopped;
        size_t want =
            static_cast<size_t>(std::min<int64_t>(last - frame, FRawBuffer.size() / FRawBlockAlign)) *
            FRawBlockAlign;
        size_t got = 0;
        while (got < want) {
            ssize_t n = ::pread(FRawFd, FRawBuffer.data() + got, want - got,
                                FRawDataStart + frame * FRawBlockAlign + static_cast<int64_t>(got));
            if (n <= 0 && !(n < 0 && errno == EINTR)) break;
            if (n > 0) got += static_cast<size_t>(n);
        }
        int frames = static_cast<int>(got / FRawBlockAlign);
        if (frames == 0) return TDecodeEnd::ReadFailed; // the file ends before its header says
        block.nb_samples = frames;
        sink(frame, block, 0, frames);
        frame += frames;
        FRawNext = frame;
    }
    return end >= 0 && frame >= end ? TDecodeEnd::Reached : TDecodeEnd::Ended;
}

bool TPeakDecoder::SeekBefore(int64_t frame) {
    if (FRawFd >= 0) {
        FRawNext = 0; // Run starts where it is asked to
        return true;
    }
    int64_t target = frame - static_cast<int64_t>(kSeekPrerollSeconds * FFacts.SampleRate);
    if (target <= 0) return true; // decoding from the start gets there without a seek
    int64_t ts = FOriginTs + av::av_rescale_q(target, AVRational{1, FFacts.SampleRate}, FStream->time_base);
    if (av::av_seek_frame(FFormat.get(), FStream->index, ts, AVSEEK_FLAG_BACKWARD) < 0) return false;
    av::avcodec_flush_buffers(FCodec.get());
    FPlaced = false;
    FHaveFrame = false;
    FInputEnded = false;
    return true;
}

// Places FFrame on the timeline. Sample counts decide, except where the timestamps run ahead of
// them by more than half a frame: there packets were lost, and the timeline keeps a gap. (Vorbis
// timestamps stray by part of a block where the block size changes; half of the larger block of
// the two keeps those apart from a lost packet.)
bool TPeakDecoder::PlaceFrame() {
    const AVFrame& frame = *FFrame;
    int64_t ts = frame.best_effort_timestamp;
    int64_t pos = ts == AV_NOPTS_VALUE ? AV_NOPTS_VALUE
                                       : av::av_rescale_q(ts - FOriginTs, FStream->time_base,
                                                          AVRational{1, FFacts.SampleRate});
    int64_t start = 0; // a decoder whose stamps lie later than its audio (WMA)
    if (pos != AV_NOPTS_VALUE && frame.sample_rate == FFacts.SampleRate &&
        DecodedFrameStart(*FStream, frame, ts, start))
        pos = start;
    if (!FPlaced) {
        if (pos == AV_NOPTS_VALUE) return false;
        FNextFrame = pos;
        FPlaced = true;
    } else if (pos != AV_NOPTS_VALUE) {
        int64_t tolerance =
            std::max<int64_t>(std::max(frame.nb_samples, FLastFrameSamples) / 2, FFacts.SampleRate / 1000);
        if (pos > FNextFrame + tolerance) FNextFrame = pos;
    }
    FFramePos = FNextFrame;
    FFrameOffset = 0;
    FNextFrame += frame.nb_samples;
    FLastFrameSamples = frame.nb_samples;
    return true;
}

// Hands out what of FFrame lies in [start, end); true when the end has been reached inside it.
bool TPeakDecoder::DeliverFrame(int64_t start, int64_t end, const TSink& sink) {
    int64_t from = std::max(FFramePos + FFrameOffset, start);
    int64_t to = FFramePos + FFrame->nb_samples;
    bool reached = end >= 0 && to >= end;
    if (reached) to = end;
    if (to > from) sink(from, *FFrame, static_cast<int>(from - FFramePos), static_cast<int>(to - from));
    if (reached) {
        FFrameOffset = static_cast<int>(std::max(to, FFramePos + FFrameOffset) - FFramePos);
        FHaveFrame = FFrameOffset < FFrame->nb_samples;
    }
    return reached;
}

// Feeds the decoder one packet of the stream (or its flush at the end of the input).
int TPeakDecoder::ReadAndSend() {
    for (;;) {
        int rc = av::av_read_frame(FFormat.get(), FPacket.get());
        if (rc < 0) {
            if (FAbort.load()) return rc;
            AVIOContext* pb = FFormat->pb;
            bool ioError = pb && pb->error < 0;
            bool atEnd = rc == AVERROR_EOF || (pb && av::avio_feof(pb));
            // A demuxer that stumbles over damaged data usually finds the next frame on its own.
            if (!ioError && !atEnd && ++FReadRetries < kReadRetries) continue;
            // Only the demuxer's own end counts as the end; a read error leaves the rest undecoded.
            if (ioError || !atEnd) FReadFailed = true;
            FInputEnded = true;
            return av::avcodec_send_packet(FCodec.get(), nullptr);
        }
        FReadRetries = 0;
        if (FPacket->stream_index != FStream->index) {
            av::av_packet_unref(FPacket.get());
            continue;
        }
        rc = av::avcodec_send_packet(FCodec.get(), FPacket.get());
        av::av_packet_unref(FPacket.get());
        if (rc < 0 && rc != AVERROR(EAGAIN)) ++FDecodeErrors;
        return 0;
    }
}

TDecodeEnd TPeakDecoder::Run(int64_t start, int64_t end, const TSink& sink) {
    if (FRawFd >= 0) return RunRaw(start, end, sink);
    for (;;) {
        if (FAbort.load()) return TDecodeEnd::Stopped;
        if (FHaveFrame) {
            if (DeliverFrame(start, end, sink)) return TDecodeEnd::Reached;
            FHaveFrame = false;
        }
        int rc = av::avcodec_receive_frame(FCodec.get(), FFrame.get());
        if (rc == 0) {
            if (!PlaceFrame()) return TDecodeEnd::Unplaceable;
            FHaveFrame = true;
            continue;
        }
        if (rc == AVERROR_EOF) return FReadFailed ? TDecodeEnd::ReadFailed : TDecodeEnd::Ended;
        if (rc != AVERROR(EAGAIN)) ++FDecodeErrors;
        if (FInputEnded) {
            if (rc != AVERROR(EAGAIN)) return FReadFailed ? TDecodeEnd::ReadFailed : TDecodeEnd::Ended;
            continue;
        }
        ReadAndSend();
    }
}

float FrameSample(const AVFrame& frame, int index, int channel) {
    bool planar = IsPlanarFormat(frame.format);
    int channels = frame.ch_layout.nb_channels;
    const uint8_t* data = frame.extended_data[planar ? channel : 0];
    size_t at = planar ? static_cast<size_t>(index) : static_cast<size_t>(index) * channels + channel;
    switch (PackedFormat(frame.format)) {
    case AV_SAMPLE_FMT_U8:
        return (data[at] - 128) / 128.0f;
    case AV_SAMPLE_FMT_S16:
        return reinterpret_cast<const int16_t*>(data)[at] / 32768.0f;
    case AV_SAMPLE_FMT_S32:
        return static_cast<float>(reinterpret_cast<const int32_t*>(data)[at] / 2147483648.0);
    case AV_SAMPLE_FMT_S64:
        return static_cast<float>(reinterpret_cast<const int64_t*>(data)[at] / 9223372036854775808.0);
    case AV_SAMPLE_FMT_FLT:
        return reinterpret_cast<const float*>(data)[at];
    case AV_SAMPLE_FMT_DBL:
        return static_cast<float>(reinterpret_cast<const double*>(data)[at]);
    default:
        return 0.0f;
    }
}
