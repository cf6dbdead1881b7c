#include "OpusBridge.h"

#include "FFPtr.h"
#include "MyUtils.h"

#include <cstring>
#include <mutex>

namespace {

constexpr int kRate = 48000;
constexpr int kWarmUpSamples = 9600; // 200 ms encoded and dropped before the frames kept

int HeadChannels(const std::vector<uint8_t>& head) {
    return head.size() >= 19 ? head[9] : 0;
}

// A codec context opened under the codec lock (other threads may be opening theirs).
bool OpenCodec(AVCodecContext* context, const AVCodec* codec, std::string& error) {
    int rc;
    {
        std::lock_guard<std::mutex> guard(CodecLock());
        rc = av::avcodec_open2(context, codec, nullptr);
    }
    if (rc < 0) error = Format("the %s codec does not open: %s", codec->name, ErrorText(rc).c_str());
    return rc >= 0;
}

// The channel mapping of two OpusHead packets agrees: channel count, family and, beyond family 0,
// the stream counts and the mapping table.
bool SameMapping(const std::vector<uint8_t>& a, const uint8_t* b, size_t bSize) {
    if (a.size() < 19 || bSize < 19 || a[9] != b[9] || a[18] != b[18]) return false;
    if (a[18] == 0) return true;
    size_t end = 21 + size_t(a[9]);
    return a.size() >= end && bSize >= end && std::memcmp(a.data() + 19, b + 19, end - 19) == 0;
}

// The libraries' own Opus decoder (the one the ffmpeg command line and players use), opened with
// `head` less its pre-skip and output gain: it gives the samples as the packets hold them.
bool OpenOpusDecoder(const std::vector<uint8_t>& head, TLockedCodecContextPtr& context, std::string& error) {
    const AVCodec* codec = av::avcodec_find_decoder_by_name("opus");
    if (!codec) codec = av::avcodec_find_decoder(AV_CODEC_ID_OPUS);
    context.reset(codec ? av::avcodec_alloc_context3(codec) : nullptr);
    uint8_t* extra = context && head.size() >= 19
                         ? static_cast<uint8_t*>(av::av_mallocz(head.size() + AV_INPUT_BUFFER_PADDING_SIZE))
                         : nullptr;
    if (!extra) {
        error = codec ? "out of memory" : "the libraries have no Opus decoder";
        return false;
    }
    std::memcpy(extra, head.data(), head.size());
    std::memset(extra + 10, 0, 2);
    std::memset(extra + 16, 0, 2);
    context->extradata = extra;
    context->extradata_size = int(head.size());
    context->sample_rate = kRate;
    av::av_channel_layout_default(&context->ch_layout, HeadChannels(head));
    context->pkt_timebase = AVRational{1, kRate};
    return OpenCodec(context.get(), codec, error);
}

class TOpusEncoder {
public:
    bool Open(const std::vector<uint8_t>& head, int frameSamples, int bitRate, std::string& error);
    // Encodes `count` samples of the source from position `from` on, then the encoder's flush.
    bool Encode(const TOpusSource& source, int64_t from, int64_t count, TOpusPackets& out,
                std::string& error);
    int Delay() const { return FContext->initial_padding; }

private:
    bool Drain(TOpusPackets& out, std::string& error);

    TLockedCodecContextPtr FContext;
    TPacketPtr FPacket{av::av_packet_alloc()};
};

bool TOpusEncoder::Open(const std::vector<uint8_t>& head, int frameSamples, int bitRate, std::string& error) {
    const AVCodec* codec = av::avcodec_find_encoder_by_name("libopus");
    FContext.reset(codec ? av::avcodec_alloc_context3(codec) : nullptr);
    AVCodecContext* c = FContext.get();
    if (!c || !FPacket) {
        error = codec ? "out of memory" : "the libraries have no libopus encoder";
        return false;
    }
    c->sample_rate = kRate;
    c->time_base = AVRational{1, kRate};
    av::av_channel_layout_default(&c->ch_layout, HeadChannels(head));
    c->sample_fmt = AV_SAMPLE_FMT_FLT;
    c->bit_rate = bitRate;
    av::av_opt_set_double(c->priv_data, "frame_duration", frameSamples * 1000.0 / kRate, 0);
    av::av_opt_set_int(c->priv_data, "mapping_family", head.size() >= 19 ? head[18] : -1, 0);
    if (!OpenCodec(c, codec, error)) return false;
    if (c->frame_size != frameSamples ||
        !SameMapping(head, c->extradata, size_t(std::max(c->extradata_size, 0)))) {
        error = "the Opus encoder cannot keep the stream's frame size or channel mapping";
        return false;
    }
    return true;
}

bool TOpusEncoder::Drain(TOpusPackets& out, std::string& error) {
    int rc;
    while ((rc = av::avcodec_receive_packet(FContext.get(), FPacket.get())) >= 0) {
        out.emplace_back(FPacket->data, FPacket->data + FPacket->size);
        av::av_packet_unref(FPacket.get());
    }
    if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
    error = "the bridge cannot be encoded: " + ErrorText(rc);
    return false;
}

bool TOpusEncoder::Encode(const TOpusSource& source, int64_t from, int64_t count, TOpusPackets& out,
                          std::string& error) {
    AVCodecContext* c = FContext.get();
    TFramePtr frame(av::av_frame_alloc());
    if (!frame) {
        error = "out of memory";
        return false;
    }
    int channels = c->ch_layout.nb_channels;
    const TPcmBlock& pcm = source.Pcm;
    for (int64_t done = 0; done < count; done += c->frame_size) {
        frame->nb_samples = c->frame_size;
        frame->format = c->sample_fmt;
        av::av_channel_layout_copy(&frame->ch_layout, &c->ch_layout);
        if (av::av_frame_get_buffer(frame.get(), 0) < 0) {
            error = "out of memory";
            return false;
        }
        float* samples = reinterpret_cast<float*>(frame->data[0]);
        for (int i = 0; i < c->frame_size; ++i) {
            int64_t at = from + done + i - source.First;
            bool inside = at >= 0 && at < pcm.Frames() && pcm.Channels == channels;
            for (int ch = 0; ch < channels; ++ch)
                samples[i * channels + ch] = inside ? pcm.Samples[size_t(at * channels + ch)] : 0.0f;
        }
        frame->pts = done;
        int rc = av::avcodec_send_frame(c, frame.get());
        av::av_frame_unref(frame.get());
        if (rc < 0) {
            error = "the bridge cannot be encoded: " + ErrorText(rc);
            return false;
        }
        if (!Drain(out, error)) return false;
    }
    int rc = av::avcodec_send_frame(c, nullptr);
    if (rc < 0) {
        error = "the bridge cannot be encoded: " + ErrorText(rc);
        return false;
    }
    return Drain(out, error);
}

} // namespace

bool DecodeOpusPackets(const std::vector<uint8_t>& head, const TOpusPackets& packets, TPcmBlock& pcm,
                       std::string& error) {
    TLockedCodecContextPtr context;
    return OpenOpusDecoder(head, context, error) && DecodePackets(context.get(), packets, pcm, error);
}

bool EncodeOpusFrames(const std::vector<uint8_t>& head, const TOpusSource& source, int64_t at,
                      int frameSamples, int count, int bitRate, TOpusPackets& packets, std::string& error) {
    TOpusEncoder encoder;
    if (!encoder.Open(head, frameSamples, bitRate, error)) return false;
    // Encoded packet j decodes to the encoder's input from j * frameSamples - Delay() on: the
    // first kept packet, `warmUp` on, must decode to position `at`.
    int warmUp = (kWarmUpSamples + frameSamples - 1) / frameSamples;
    int64_t from = at - int64_t(warmUp) * frameSamples + encoder.Delay();
    int64_t length = int64_t(warmUp + count + 1) * frameSamples;
    TOpusPackets encoded;
    if (!encoder.Encode(source, from, length, encoded, error)) return false;
    if (encoded.size() < size_t(warmUp + count)) {
        error = "the Opus encoder gave too few packets";
        return false;
    }
    packets.assign(encoded.begin() + warmUp, encoded.begin() + warmUp + count);
    return true;
}
