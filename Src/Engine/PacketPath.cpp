// The packet path: one packet of an input stream decoded (send/receive) or copied, the decoded
// audio placed on the output timeline to the sample, cut at the start and at the recording
// time, and handed to every output stream it feeds; every written packet goes through the
// bitstream filters and the muxer. Conversion thread.
#include "DecodedPlacement.h"
#include "FFmpeg.h"
#include "FFmpegLogger.h"
#include "RunState.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <thread>

namespace {

constexpr AVRational kMicroseconds{1, 1000000};

int64_t SaturatingAdd(int64_t a, int64_t b) {
    if (b > 0 && a > INT64_MAX - b) return INT64_MAX;
    if (b < 0 && a < INT64_MIN - b) return INT64_MIN;
    return a + b;
}

int64_t Clamp64(__int128 v) {
    return v > INT64_MAX ? INT64_MAX : (v < INT64_MIN ? INT64_MIN : static_cast<int64_t>(v));
}

// floor(a / b) and ceil(a / b) for b > 0.
__int128 FloorDiv(__int128 a, __int128 b) {
    return a / b - ((a % b != 0 && a < 0) ? 1 : 0);
}
__int128 CeilDiv(__int128 a, __int128 b) {
    return a / b + ((a % b != 0 && a > 0) ? 1 : 0);
}

// Time of the clock's current sample in µs, rounded down.
int64_t ClockMicroseconds(const TSampleClock& c) {
    __int128 den = static_cast<__int128>(c.TimeBase.den) * c.Rate;
    __int128 num = static_cast<__int128>(c.Pts) * c.TimeBase.num * c.Rate * 1000000 +
                   static_cast<__int128>(c.Samples) * c.TimeBase.den * 1000000;
    return SaturatingAdd(Clamp64(FloorDiv(num, den)), c.ShiftUs);
}

// How many samples, counted from the clock's current one, lie before `boundaryUs` (may be
// negative or beyond the block; the caller clamps). Exact: no rounding of the boundary to the
// container's time base.
int64_t SamplesBefore(const TSampleClock& c, int64_t boundaryUs) {
    __int128 den = static_cast<__int128>(c.TimeBase.den) * 1000000;
    __int128 num = static_cast<__int128>(boundaryUs - c.ShiftUs) * c.TimeBase.den * c.Rate -
                   static_cast<__int128>(c.Pts) * c.TimeBase.num * c.Rate * 1000000 -
                   static_cast<__int128>(c.Samples) * den;
    return Clamp64(CeilDiv(num, den));
}

// Samples from the frame's stamp to its first sample, for decoders whose stamps lie later than
// their audio (WMA); `pts` is then moved to the stream's start, which the result counts from.
int64_t StampLead(const TInputStreamState& ist, const AVFrame* frame, int64_t& pts) {
    int64_t samples = 0;
    if (!DecodedFrameStart(*ist.Stream, *frame, pts, samples)) return 0;
    pts = StreamOrigin(*ist.Stream);
    return samples;
}

// Places a decoded frame on the stream's sample clock. Decoded audio is continuous, so once the
// first frame has anchored the clock, every later frame of the same input lies where the samples
// before it end: container stamps that disagree with the sample count (Ogg granule positions that
// jump, single frames stamped off their place at a change of Vorbis block size) do not move it.
// A new anchor is taken where the sample rate or the file's offset changes (the next input of a
// join, a timestamp discontinuity the loop corrected), and, with audio sync on (`followStamps`:
// the request to follow the timestamps), where two frames in a row are off in the same direction
// (a gap, timestamps that drift) or at once for a jump of a second or more.
void UpdateClock(TInputStreamState& ist, const AVFrame* frame, bool followStamps) {
    TSampleClock& c = ist.Clock;
    const AVRational tb = ist.Stream->time_base;
    const int rate = frame->sample_rate;
    int64_t pts = frame->best_effort_timestamp != AV_NOPTS_VALUE ? frame->best_effort_timestamp : frame->pts;
    bool anchored = c.Pts != AV_NOPTS_VALUE && c.Rate == rate && c.ShiftUs == ist.PacketShiftUs;
    if (anchored && !followStamps) return;
    if (pts == AV_NOPTS_VALUE) {
        if (!anchored) // no timestamp at all: continue from where the stream is expected to be
            c = TSampleClock{ist.NextPts != AV_NOPTS_VALUE ? ist.NextPts : ist.Pts, kMicroseconds, 0, 0,
                             rate};
        return;
    }
    const int64_t lead = StampLead(ist, frame, pts);
    if (anchored && c.TimeBase.num == tb.num && c.TimeBase.den == tb.den) {
        int64_t predicted = c.Pts + av::av_rescale_q(c.Samples - lead, AVRational{1, rate}, tb);
        int64_t tolerance =
            std::max<int64_t>(1, av::av_rescale_q_rnd(1, AVRational{1, rate}, tb, AV_ROUND_UP));
        int64_t deviation = pts - predicted;
        if (std::llabs(deviation) <= tolerance) {
            c.Deviations = 0;
            return;
        }
        bool jump = std::llabs(av::av_rescale_q(deviation, tb, kMicroseconds)) >= 1000000;
        bool confirmed = c.Deviations > 0 && (deviation > 0) == (c.Deviation > 0);
        if (!jump && !confirmed) {
            c.Deviation = deviation;
            c.Deviations = 1;
            return;
        }
    }
    c = TSampleClock{pts, tb, ist.PacketShiftUs, lead, rate};
}

template <class T, class Wide>
void ScaleIntegers(T* p, int count, int volume, Wide low, Wide high, Wide bias) {
    for (int i = 0; i < count; ++i) {
        Wide v = static_cast<Wide>(p[i]) - bias;
        v = (v * volume + 128) >> 8;
        p[i] = static_cast<T>(std::clamp<Wide>(v, low, high) + bias);
    }
}

template <class T> void ScaleFloats(T* p, int count, int volume) {
    const T factor = static_cast<T>(volume) / static_cast<T>(256);
    for (int i = 0; i < count; ++i)
        p[i] *= factor;
}

} // namespace

int TRunState::ProcessPacket(int index, AVPacket* packet, bool flushEncoders) {
    TInputStreamState& ist = *InputStreams[index];
    AVCodecContext* dec = ist.Dec;
    const AVRational tb = ist.Stream->time_base;

    if (ist.NextPts == AV_NOPTS_VALUE) ist.NextPts = ist.Pts;
    if (packet && packet->dts != AV_NOPTS_VALUE)
        ist.NextPts = ist.Pts = av::av_rescale_q(packet->dts, tb, kMicroseconds) + ist.PacketShiftUs;

    // Stream copy takes the packet itself, whether or not the stream is also decoded.
    if (packet) {
        for (auto& ost : OutputStreams)
            if (ost->SourceIndex == index && !ost->Encode) CopyPacket(*ost, ist, packet);
    }
    if (!ist.Decode) {
        if (packet && ist.Stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
            if (packet->duration > 0)
                ist.NextPts += av::av_rescale_q(packet->duration, tb, kMicroseconds);
            else if (dec && dec->sample_rate > 0)
                ist.NextPts += int64_t(1000000) * dec->frame_size / dec->sample_rate;
        }
        return 0;
    }

    int rc = av::avcodec_send_packet(dec, packet);
    bool resend = rc == AVERROR(EAGAIN);
    if (rc < 0 && !resend && rc != AVERROR_EOF) return -1;
    for (;;) {
        rc = av::avcodec_receive_frame(dec, Frame.get());
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) {
            if (resend) { // frames were waiting; the packet goes in now
                resend = false;
                rc = av::avcodec_send_packet(dec, packet);
                if (rc < 0 && rc != AVERROR_EOF) return -1;
                continue;
            }
            break;
        }
        if (rc < 0) return -1;
        if (dec->codec_type != AVMEDIA_TYPE_AUDIO) { // video and subtitles are only ever copied
            av::av_frame_unref(Frame.get());
            return -1;
        }
        DeliverFrame(index, Frame.get());
        av::av_frame_unref(Frame.get());
    }

    if (!packet && flushEncoders)
        for (auto& ost : OutputStreams)
            if (ost->SourceIndex == index && ost->Encode) FlushEncoder(*ost->Writer, *ost);
    return 0;
}

void TRunState::DeliverFrame(int index, AVFrame* frame) {
    TInputStreamState& ist = *InputStreams[index];
    const int rate = frame->sample_rate;
    const int count = frame->nb_samples;
    if (rate <= 0 || count <= 0) return;

    UpdateClock(ist, frame, Engine.FAudioSyncMethod != 0);
    ist.Pts = ClockMicroseconds(ist.Clock);
    TSampleClock after = ist.Clock;
    after.Samples += count;
    ist.NextPts = ClockMicroseconds(after);

    if (Engine.FAudioVolume != 256) ApplyVolume(frame);

    if (Engine.FRateEmulation) {
        int64_t elapsed = av::av_gettime() - ist.StartClock;
        if (ist.Pts - elapsed > 1000)
            std::this_thread::sleep_for(std::chrono::milliseconds((ist.Pts - elapsed) / 1000));
    }

    // The output starts at the start time (a seeked input's start is time 0) and ends at the
    // recording time after it, both to the sample. With "copyts" and no start time nothing
    // before the timeline's zero is dropped.
    int64_t first = 0, end = count;
    if (Engine.FStartTime != 0 || !Engine.FCopyTs)
        first = std::clamp<int64_t>(SamplesBefore(ist.Clock, Engine.FStartTime), 0, count);
    bool reachedEnd = false;
    if (Engine.FRecordingTime != INT64_MAX) {
        end = std::clamp<int64_t>(
            SamplesBefore(ist.Clock, SaturatingAdd(Engine.FStartTime, Engine.FRecordingTime)), 0, count);
        reachedEnd = end < count;
    }
    TSampleClock blockStart = ist.Clock;
    blockStart.Samples += first;
    int64_t blockTimeUs = ClockMicroseconds(blockStart);
    ist.Clock = after;

    for (auto& ost : OutputStreams) {
        if (ost->SourceIndex != index || !ost->Encode) continue;
        if (first < end)
            EncodeAudio(*ost, ist, frame, static_cast<int>(first), static_cast<int>(end - first),
                        blockTimeUs);
        if (reachedEnd) ost->Writer->ReachedEnd = true;
    }
}

void TRunState::ApplyVolume(AVFrame* frame) {
    if (av::av_frame_make_writable(frame) < 0) throw FFmpegException(kMsgOutOfMemory);
    AVSampleFormat format = static_cast<AVSampleFormat>(frame->format);
    int channels = frame->ch_layout.nb_channels;
    bool planar = av::av_sample_fmt_is_planar(format);
    int planes = planar ? channels : 1;
    int perPlane = planar ? frame->nb_samples : frame->nb_samples * channels;
    for (int p = 0; p < planes; ++p) {
        uint8_t* data = frame->extended_data[p];
        switch (av::av_get_packed_sample_fmt(format)) {
        case AV_SAMPLE_FMT_U8:
            ScaleIntegers<uint8_t, int32_t>(data, perPlane, Engine.FAudioVolume, -128, 127, 128);
            break;
        case AV_SAMPLE_FMT_S16:
            ScaleIntegers<int16_t, int32_t>(reinterpret_cast<int16_t*>(data), perPlane, Engine.FAudioVolume,
                                            INT16_MIN, INT16_MAX, 0);
            break;
        case AV_SAMPLE_FMT_S32:
            ScaleIntegers<int32_t, int64_t>(reinterpret_cast<int32_t*>(data), perPlane, Engine.FAudioVolume,
                                            INT32_MIN, INT32_MAX, 0);
            break;
        case AV_SAMPLE_FMT_S64:
            ScaleIntegers<int64_t, __int128>(reinterpret_cast<int64_t*>(data), perPlane, Engine.FAudioVolume,
                                             INT64_MIN, INT64_MAX, 0);
            break;
        case AV_SAMPLE_FMT_FLT:
            ScaleFloats(reinterpret_cast<float*>(data), perPlane, Engine.FAudioVolume);
            break;
        case AV_SAMPLE_FMT_DBL:
            ScaleFloats(reinterpret_cast<double*>(data), perPlane, Engine.FAudioVolume);
            break;
        default:
            break;
        }
    }
}

void TRunState::CopyPacket(TOutputStreamState& ost, TInputStreamState& ist, const AVPacket* packet) {
    TStreamWriter& w = *ost.Writer;
    const AVRational ts = ist.Stream->time_base;
    const AVRational to = w.Stream->time_base;
    const int64_t origin = Engine.FStartTime;

    // Packets wholly before the start are left out (the one holding the start is kept), and the
    // first packet that begins at or after the recording time ends the stream.
    int64_t raw = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
    if (raw != AV_NOPTS_VALUE) {
        int64_t startUs = av::av_rescale_q(raw, ts, kMicroseconds) + ist.PacketShiftUs;
        int64_t endUs =
            startUs + (packet->duration > 0 ? av::av_rescale_q(packet->duration, ts, kMicroseconds) : 0);
        if ((origin != 0 || !Engine.FCopyTs) && endUs <= origin && packet->duration > 0) return;
        if (Engine.FRecordingTime != INT64_MAX && startUs >= SaturatingAdd(origin, Engine.FRecordingTime)) {
            w.ReachedEnd = true;
            return;
        }
    }
    if (ost.FrameCount == 0 && !(packet->flags & AV_PKT_FLAG_KEY) && Engine.FCopyInitialNonKeyframes == 0)
        return;

    AVMediaType type = ist.Stream->codecpar->codec_type;
    if (type == AVMEDIA_TYPE_AUDIO)
        Engine.FAudioSize += packet->size;
    else if (type == AVMEDIA_TYPE_VIDEO) {
        Engine.FVideoSize += packet->size;
        ++ost.SyncPosition;
    }

    AVPacket* out = w.Packet.get();
    if (av::av_packet_ref(out, packet) < 0) throw FFmpegException(kMsgOutOfMemory);
    int64_t shift = av::av_rescale_q(ist.PacketShiftUs - origin, kMicroseconds, to);
    out->pts = packet->pts != AV_NOPTS_VALUE ? av::av_rescale_q(packet->pts, ts, to) + shift : AV_NOPTS_VALUE;
    out->dts = packet->dts != AV_NOPTS_VALUE ? av::av_rescale_q(packet->dts, ts, to) + shift
                                             : av::av_rescale_q(ist.Pts - origin, kMicroseconds, to);
    out->duration = av::av_rescale_q(packet->duration, ts, to);
    int64_t endTs = (out->pts != AV_NOPTS_VALUE ? out->pts : out->dts) + out->duration;
    if (w.LastPacketEnd == AV_NOPTS_VALUE || endTs > w.LastPacketEnd) w.LastPacketEnd = endTs;
    MuxPacket(w, out);
    ++ost.FrameCount;
}

void TRunState::MuxPacket(TStreamWriter& w, AVPacket* packet) {
    if (!packet) { // the end of the stream: what the filters still hold
        if (!w.Filters.empty()) FilterPacket(w, 0, nullptr);
        return;
    }
    packet->stream_index = w.Stream->index;
    FilterPacket(w, 0, packet);
    av::av_packet_unref(packet);
}

void TRunState::FilterPacket(TStreamWriter& w, size_t filterIndex, AVPacket* packet) {
    if (filterIndex == w.Filters.size()) {
        if (!packet) return; // the end of the chain's flush
        packet->stream_index = w.Stream->index;
        int rc = av::av_interleaved_write_frame(w.File, packet);
        if (rc < 0) {
            char reason[AV_ERROR_MAX_STRING_SIZE] = {0};
            av::av_strerror(rc, reason, sizeof reason);
            FFLogger().Log(&Engine, llError, std::string(kMsgWriteFrame) + ": " + reason);
            throw FFmpegException(std::string(kMsgWriteFrame) + ": " + reason);
        }
        return;
    }
    AVBSFContext* bsf = w.Filters[filterIndex].get();
    int streamIndex = packet ? packet->stream_index : w.Stream->index;
    int rc = av::av_bsf_send_packet(bsf, packet);
    if (rc < 0) {
        ReportFilterError(w, filterIndex, streamIndex, rc);
        if (packet) FilterPacket(w, filterIndex + 1, packet); // the packet goes on unfiltered
        return;
    }
    TPacketPtr filtered(av::av_packet_alloc());
    if (!filtered) throw FFmpegException(kMsgOutOfMemory);
    while ((rc = av::av_bsf_receive_packet(bsf, filtered.get())) >= 0) {
        FilterPacket(w, filterIndex + 1, filtered.get());
        av::av_packet_unref(filtered.get());
    }
    if (rc != AVERROR(EAGAIN) && rc != AVERROR_EOF) ReportFilterError(w, filterIndex, streamIndex, rc);
    if (!packet) FilterPacket(w, filterIndex + 1, nullptr); // flush the rest of the chain
}

void TRunState::ReportFilterError(TStreamWriter& w, size_t filterIndex, int streamIndex, int rc) {
    const char* codec = w.Encode && w.Enc->codec ? w.Enc->codec->name : "copy";
    std::string text =
        FormatOpenError(Format(kMsgBsfFailed, w.Filters[filterIndex]->filter->name, streamIndex, codec), rc);
    if (Engine.FExitOnError) throw FFmpegException(text);
    FFLogger().Log(&Engine, llError, text);
}
