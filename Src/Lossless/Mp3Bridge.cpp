#include "Mp3Bridge.h"

#include "FFPtr.h"

#include <cstring>

namespace {

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
    if (int rc = av::avcodec_open2(context.get(), codec, nullptr); rc < 0) {
        error = ErrorText(rc);
        return false;
    }
    if (!DecodePackets(context.get(), frames, pcm, error)) return false;
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
