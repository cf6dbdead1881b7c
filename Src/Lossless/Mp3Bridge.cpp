#include "Mp3Bridge.h"

#include "FFPtr.h"

#include <cstring>

namespace {

void AppendInterleaved(const AVFrame* frame, TPcmBlock& pcm) {
    int channels = frame->ch_layout.nb_channels;
    size_t at = pcm.Samples.size();
    pcm.Samples.resize(at + size_t(frame->nb_samples) * size_t(channels));
    bool planar = av::av_sample_fmt_is_planar(AVSampleFormat(frame->format)) != 0;
    for (int i = 0; i < frame->nb_samples; ++i)
        for (int c = 0; c < channels; ++c)
            pcm.Samples[at++] = planar ? reinterpret_cast<const float*>(frame->extended_data[c])[i]
                                       : reinterpret_cast<const float*>(frame->extended_data[0])[i * channels + c];
}

} // namespace

bool DecodeMp3Frames(const std::vector<std::vector<uint8_t>>& frames, int samplesPerFrame, TPcmBlock& pcm,
                     std::string& error) {
    const AVCodec* codec = av::avcodec_find_decoder_by_name("mp3float");
    if (!codec) codec = av::avcodec_find_decoder(AV_CODEC_ID_MP3);
    TCodecContextPtr context(codec ? av::avcodec_alloc_context3(codec) : nullptr);
    if (!context) {
        error = "no MP3 decoder";
        return false;
    }
    context->request_sample_fmt = AV_SAMPLE_FMT_FLTP;
    int rc = av::avcodec_open2(context.get(), codec, nullptr);
    TPacketPtr packet(av::av_packet_alloc());
    TFramePtr frame(av::av_frame_alloc());
    if (rc < 0 || !packet || !frame) {
        error = rc < 0 ? ErrorText(rc) : "out of memory";
        return false;
    }
    pcm = TPcmBlock();
    for (const std::vector<uint8_t>& bytes : frames) {
        if (av::av_new_packet(packet.get(), int(bytes.size())) < 0) {
            error = "out of memory";
            return false;
        }
        std::memcpy(packet->data, bytes.data(), bytes.size());
        rc = av::avcodec_send_packet(context.get(), packet.get());
        av::av_packet_unref(packet.get());
        while (rc >= 0 && (rc = av::avcodec_receive_frame(context.get(), frame.get())) >= 0) {
            if (frame->format != AV_SAMPLE_FMT_FLTP && frame->format != AV_SAMPLE_FMT_FLT) {
                error = "the MP3 decoder gives no float samples";
                return false;
            }
            pcm.Channels = frame->ch_layout.nb_channels;
            AppendInterleaved(frame.get(), pcm);
            av::av_frame_unref(frame.get());
        }
        if (rc != AVERROR(EAGAIN) && rc != AVERROR_EOF && rc < 0) {
            error = "a frame at the seam cannot be decoded: " + ErrorText(rc);
            return false;
        }
    }
    if (pcm.Frames() != int64_t(frames.size()) * samplesPerFrame) {
        error = "a frame at the seam cannot be decoded";
        return false;
    }
    return true;
}

struct TMp3BridgeEncoder::TState {
    TCodecContextPtr Context;
};

TMp3BridgeEncoder::TMp3BridgeEncoder() : FState(new TState) {}
TMp3BridgeEncoder::~TMp3BridgeEncoder() {
    delete FState;
}

bool TMp3BridgeEncoder::Open(int sampleRate, int channels, int bitRate, std::string& error) {
    const AVCodec* codec = av::avcodec_find_encoder_by_name("libmp3lame");
    FState->Context.reset(codec ? av::avcodec_alloc_context3(codec) : nullptr);
    AVCodecContext* c = FState->Context.get();
    if (!c) {
        error = "no MP3 encoder";
        return false;
    }
    c->sample_rate = sampleRate;
    c->time_base = AVRational{1, sampleRate};
    av::av_channel_layout_default(&c->ch_layout, channels);
    c->sample_fmt = AV_SAMPLE_FMT_FLTP;
    c->bit_rate = bitRate;
    av::av_opt_set_int(c->priv_data, "reservoir", 0, 0);
    int rc = av::avcodec_open2(c, codec, nullptr);
    if (rc < 0) {
        error = "the MP3 encoder does not open: " + ErrorText(rc);
        return false;
    }
    return true;
}

int TMp3BridgeEncoder::InitialPadding() const {
    return FState->Context ? FState->Context->initial_padding : 0;
}

bool TMp3BridgeEncoder::Encode(const TPcmBlock& pcm, TEncodedMp3& out, std::string& error) {
    AVCodecContext* c = FState->Context.get();
    if (!c) {
        error = "the MP3 encoder is not open";
        return false;
    }
    out.InitialPadding = c->initial_padding;
    return EncodePcm(c, pcm, c->frame_size, true, out.Frames, error);
}
