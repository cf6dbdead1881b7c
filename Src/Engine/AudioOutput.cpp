// The audio output path: a block of decoded samples for one encoding output stream is kept in
// step with its timestamps ("async"), converted by the stream's resampler where format, rate or
// layout differ, gathered in the stream's FIFO and sent to the encoder in frames of its frame
// size (or whole, for encoders that take any size); packets go to the muxer. Conversion thread.
#include "FFmpeg.h"
#include "FFmpegLogger.h"
#include "RunState.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

constexpr int kMaxPlanes = 64; // the resampler's channel limit
// Audio sync lets a block grow by inserted silence up to this many input samples.
constexpr int kMaxSyncBlock = 32768;
inline constexpr const char* kMsgConvertFailed = "swr_convert() failed";

bool SameLayout(const AVChannelLayout& a, const AVChannelLayout& b) {
    if (a.nb_channels != b.nb_channels) return false;
    if (a.order == AV_CHANNEL_ORDER_UNSPEC || b.order == AV_CHANNEL_ORDER_UNSPEC) return true;
    return av::av_channel_layout_compare(&a, &b) == 0;
}

uint64_t LayoutMask(const AVChannelLayout& layout) {
    return layout.order == AV_CHANNEL_ORDER_NATIVE ? layout.u.mask : 0;
}

// Grows the writer's scratch planes to hold at least `samples` in the encoder's format.
void ReserveScratch(TStreamWriter& w, int samples) {
    if (samples <= w.ScratchCapacity) return;
    const AVSampleFormat format = w.Enc->sample_fmt;
    const int channels = w.Enc->ch_layout.nb_channels;
    int capacity = std::max(samples, std::max(2 * w.ScratchCapacity, 4096));
    if (!w.Scratch.empty()) av::av_free(w.Scratch[0]);
    w.Scratch.assign(std::max(channels, 1), nullptr);
    w.ScratchCapacity = 0;
    if (av::av_samples_alloc(w.Scratch.data(), nullptr, channels, capacity, format, 0) < 0) {
        w.Scratch.clear();
        throw FFmpegException(kMsgOutOfMemory);
    }
    w.ScratchCapacity = capacity;
}

} // namespace

double TRunState::SyncInputSeconds(const TOutputStreamState& ost, int64_t blockTimeUs) const {
    int64_t pts = ost.SyncSource == ost.SourceIndex ? blockTimeUs : InputStreams[ost.SyncSource]->Pts;
    return static_cast<double>(pts - Engine.FStartTime) / 1000000.0;
}

void TRunState::EncodeAudio(TOutputStreamState& ost, TInputStreamState& ist, AVFrame* frame, int first,
                            int count, int64_t blockTimeUs) {
    TStreamWriter& w = *ost.Writer;
    ChooseResampler(w, ost, frame);
    if (Engine.FAudioSyncMethod != 0) {
        if (!SyncAudio(w, ost, ist, frame, first, count, blockTimeUs)) return;
    } else {
        ost.SyncPosition = w.SamplesSent;
    }
    if (QueueSamples(w, ost, frame, first, count)) EncodeFromFifo(w, ost, false);
}

void TRunState::ChooseResampler(TStreamWriter& w, TOutputStreamState& ost, const AVFrame* frame) {
    AVCodecContext* enc = w.Enc;
    const int channels = frame->ch_layout.nb_channels;
    const AVSampleFormat format = static_cast<AVSampleFormat>(frame->format);
    const int planes = av::av_sample_fmt_is_planar(format) ? channels : 1;
    if (planes > kMaxPlanes || channels <= 0)
        throw FFmpegException(Format(kMsgCannotResample, channels, frame->sample_rate,
                                     enc->ch_layout.nb_channels, enc->sample_rate));

    if (enc->ch_layout.nb_channels != channels) ost.NeedsResample = true;
    const bool convert = ost.NeedsResample || format != enc->sample_fmt ||
                         frame->sample_rate != enc->sample_rate ||
                         !SameLayout(frame->ch_layout, enc->ch_layout);
    if (convert) {
        if (!w.Resampler || w.ResamplerFormat != format || w.ResamplerRate != frame->sample_rate ||
            w.ResamplerChannels != channels || w.ResamplerLayout != LayoutMask(frame->ch_layout)) {
            DrainResampler(w, ost); // what the old one holds belongs before this block
            MakeResampler(w, frame);
        }
    } else if (w.Resampler) {
        DrainResampler(w, ost);
        w.Resampler.reset();
    }
}

bool TRunState::SyncAudio(TStreamWriter& w, TOutputStreamState& ost, TInputStreamState& ist,
                          const AVFrame* frame, int& first, int& count, int64_t blockTimeUs) {
    // Compare where the block belongs with how much output exists.
    const int encRate = w.Enc->sample_rate;
    double buffered = w.Resampler ? static_cast<double>(av::swr_get_delay(w.Resampler.get(), encRate)) : 0.0;
    double delta =
        SyncInputSeconds(ost, blockTimeUs) * encRate - static_cast<double>(w.SamplesAccepted) - buffered;
    if (std::fabs(delta) <= 50) return true;
    if (ist.AtStart || std::fabs(delta) > encRate * Engine.FAudioDriftThreshold) {
        double inputDelta = std::clamp(delta * frame->sample_rate / encRate, -1e9, 1e9);
        int idelta = static_cast<int>(inputDelta); // toward zero
        if (idelta < 0) {                          // the block begins before the current output position
            int drop = std::min(-idelta, count);
            first += drop;
            count -= drop;
            if (Engine.FVerbose > 2)
                FFLogger().Log(&Engine, llVerbose, Format(kMsgDiscarding, static_cast<int>(-delta)));
            if (count == 0) return false;
            ist.AtStart = false;
        } else { // the block begins after it: silence fills the gap
            int silence = idelta;
            if (static_cast<int64_t>(silence) + count <= kMaxSyncBlock)
                ist.AtStart = false;
            else
                silence = std::max(0, kMaxSyncBlock - count);
            if (silence > 0) {
                if (w.Resampler)
                    av::swr_inject_silence(w.Resampler.get(), silence);
                else
                    PushSilence(w, ost, silence);
            }
            if (Engine.FVerbose > 2)
                FFLogger().Log(&Engine, llVerbose, Format(kMsgAddingSilence, static_cast<int>(delta)));
        }
    } else if (Engine.FAudioSyncMethod > 1 && w.Resampler) {
        int compensation =
            std::clamp(static_cast<int>(delta), -Engine.FAudioSyncMethod, Engine.FAudioSyncMethod);
        if (Engine.FVerbose > 2)
            FFLogger().Log(&Engine, llVerbose, Format(kMsgCompensating, delta, compensation, encRate));
        av::swr_set_compensation(w.Resampler.get(), compensation, encRate);
    }
    return true;
}

bool TRunState::QueueSamples(TStreamWriter& w, TOutputStreamState& ost, const AVFrame* frame, int first,
                             int count) {
    const int channels = frame->ch_layout.nb_channels;
    const AVSampleFormat format = static_cast<AVSampleFormat>(frame->format);
    const bool planar = av::av_sample_fmt_is_planar(format);
    std::array<const uint8_t*, kMaxPlanes> in{};
    const int offset = first * av::av_get_bytes_per_sample(format) * (planar ? 1 : channels);
    for (int p = 0; p < (planar ? channels : 1); ++p)
        in[p] = frame->extended_data[p] + offset;
    if (!w.Resampler) {
        PushSamples(w, ost, in.data(), count);
        return true;
    }
    int capacity = av::swr_get_out_samples(w.Resampler.get(), count);
    if (capacity < 0) capacity = count;
    ReserveScratch(w, capacity);
    int got = av::swr_convert(w.Resampler.get(), w.Scratch.data(), capacity, in.data(), count);
    if (got < 0) {
        if (Engine.FExitOnError) throw FFmpegException(kMsgConvertFailed);
        FFLogger().Log(&Engine, llError, kMsgConvertFailed);
        return false;
    }
    PushSamples(w, ost, w.Scratch.data(), got);
    return true;
}

void TRunState::MakeResampler(TStreamWriter& w, const AVFrame* frame) {
    AVCodecContext* enc = w.Enc;
    const int channels = frame->ch_layout.nb_channels;
    std::string failure = Format(kMsgCannotResample, channels, frame->sample_rate, enc->ch_layout.nb_channels,
                                 enc->sample_rate);
    w.Resampler.reset();
    // A layout that names no channels is taken as the usual one for its channel count.
    AVChannelLayout inLayout{};
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av::av_channel_layout_default(&inLayout, channels);
    else if (av::av_channel_layout_copy(&inLayout, &frame->ch_layout) < 0)
        throw FFmpegException(failure);
    AVChannelLayout outLayout{};
    if (enc->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av::av_channel_layout_default(&outLayout, enc->ch_layout.nb_channels);
    else
        av::av_channel_layout_copy(&outLayout, &enc->ch_layout);
    SwrContext* swr = nullptr;
    int rc =
        av::swr_alloc_set_opts2(&swr, &outLayout, enc->sample_fmt, enc->sample_rate, &inLayout,
                                static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr);
    av::av_channel_layout_uninit(&inLayout);
    av::av_channel_layout_uninit(&outLayout);
    TSwrPtr owner(swr);
    if (rc < 0 || !swr || av::swr_init(swr) < 0) throw FFmpegException(failure);
    w.Resampler = std::move(owner);
    w.ResamplerFormat = frame->format;
    w.ResamplerRate = frame->sample_rate;
    w.ResamplerChannels = channels;
    w.ResamplerLayout = LayoutMask(frame->ch_layout);
}

void TRunState::DrainResampler(TStreamWriter& w, TOutputStreamState& ost) {
    if (!w.Resampler) return;
    for (;;) {
        int capacity = av::swr_get_out_samples(w.Resampler.get(), 0);
        if (capacity <= 0) break;
        ReserveScratch(w, capacity);
        int got = av::swr_convert(w.Resampler.get(), w.Scratch.data(), capacity, nullptr, 0);
        if (got <= 0) break;
        PushSamples(w, ost, w.Scratch.data(), got);
    }
}

void TRunState::PushSamples(TStreamWriter& w, TOutputStreamState& ost, const uint8_t* const* data,
                            int count) {
    // Nothing at or after the recording time enters the output.
    int64_t room = w.MaxSamples - w.SamplesAccepted;
    if (count > room) {
        count = static_cast<int>(std::max<int64_t>(room, 0));
        w.ReachedEnd = true;
    }
    if (count <= 0) return;
    void** planes = reinterpret_cast<void**>(const_cast<uint8_t**>(data));
    if (av::av_audio_fifo_write(w.SampleFifo.get(), planes, count) < count)
        throw FFmpegException(kMsgFifoFailed);
    w.SamplesAccepted += count;
}

void TRunState::PushSilence(TStreamWriter& w, TOutputStreamState& ost, int count) {
    ReserveScratch(w, count);
    av::av_samples_set_silence(w.Scratch.data(), 0, count, w.Enc->ch_layout.nb_channels, w.Enc->sample_fmt);
    PushSamples(w, ost, w.Scratch.data(), count);
}

void TRunState::EncodeFromFifo(TStreamWriter& w, TOutputStreamState& ost, bool final) {
    AVCodecContext* enc = w.Enc;
    const int caps = enc->codec ? enc->codec->capabilities : 0;
    // Encoders that take any number of samples (PCM) get the whole block at once.
    const bool whole = (caps & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) || enc->frame_size <= 1;
    const int frameSize = enc->frame_size;
    AVFrame* f = w.EncFrame.get();
    for (;;) {
        int available = av::av_audio_fifo_size(w.SampleFifo.get());
        int n = 0;
        if (whole)
            n = available;
        else if (available >= frameSize)
            n = frameSize;
        else if (final)
            n = available; // the last frame: short where the encoder allows it, else padded
        if (n <= 0) break;
        int length = (!whole && n < frameSize && !(caps & AV_CODEC_CAP_SMALL_LAST_FRAME)) ? frameSize : n;

        if (w.EncFrameCapacity < length) {
            av::av_frame_unref(f);
            f->format = enc->sample_fmt;
            f->sample_rate = enc->sample_rate;
            if (av::av_channel_layout_copy(&f->ch_layout, &enc->ch_layout) < 0)
                throw FFmpegException(kMsgOutOfMemory);
            f->nb_samples = std::max(length, frameSize);
            if (av::av_frame_get_buffer(f, 0) < 0) throw FFmpegException(kMsgOutOfMemory);
            w.EncFrameCapacity = f->nb_samples;
        }
        // The encoder may still hold the previous frame's buffer: write into a free one.
        f->nb_samples = w.EncFrameCapacity;
        if (av::av_frame_make_writable(f) < 0) throw FFmpegException(kMsgOutOfMemory);
        f->nb_samples = length;
        if (av::av_audio_fifo_read(w.SampleFifo.get(), reinterpret_cast<void**>(f->extended_data), n) < n)
            throw FFmpegException(kMsgFifoFailed);
        if (length > n)
            av::av_samples_set_silence(f->extended_data, n, length - n, enc->ch_layout.nb_channels,
                                       enc->sample_fmt);
        f->pts = w.SamplesSent; // time base 1/sample rate
        w.SamplesSent += n;
        ost.SyncPosition = w.SamplesSent;
        SendToEncoder(w, ost, f);
        if (whole || length > n) break;
    }
}

void TRunState::SendToEncoder(TStreamWriter& w, TOutputStreamState& ost, AVFrame* frame) {
    AVPacket* packet = w.Packet.get();
    auto receive = [&] {
        int rc;
        while ((rc = av::avcodec_receive_packet(w.Enc, packet)) >= 0) {
            Engine.FAudioSize += packet->size;
            packet->flags |= AV_PKT_FLAG_KEY;
            av::av_packet_rescale_ts(packet, w.Enc->time_base, w.Stream->time_base);
            MuxPacket(w, packet);
            ++ost.FrameCount;
        }
        if (rc != AVERROR(EAGAIN) && rc != AVERROR_EOF) throw FFmpegException(kMsgAudioEncodingFailed);
    };
    int rc = av::avcodec_send_frame(w.Enc, frame);
    if (rc == AVERROR(EAGAIN)) { // packets were waiting: take them, then the frame goes in
        receive();
        rc = av::avcodec_send_frame(w.Enc, frame);
    }
    if (rc < 0 && rc != AVERROR_EOF) throw FFmpegException(kMsgAudioEncodingFailed);
    receive();
}

void TRunState::FlushEncoder(TStreamWriter& w, TOutputStreamState& ost) {
    if (w.Flushed || !w.Encode) return;
    w.Flushed = true;
    DrainResampler(w, ost);
    EncodeFromFifo(w, ost, true);
    SendToEncoder(w, ost, nullptr); // drain
    MuxPacket(w, nullptr);          // and the bitstream filters
}
