#include "CodecSupport.h"

#include "FFPtr.h"

#include <algorithm>
#include <cstring>

std::string ErrorText(int code) {
    char text[128] = {};
    av::av_strerror(code, text, sizeof text);
    return text;
}

namespace {

// Moves the packets the encoder has ready into `packets`; 0 or the encoder's error.
int DrainPackets(AVCodecContext* c, AVPacket* packet, std::vector<std::vector<uint8_t>>& packets) {
    int rc;
    while ((rc = av::avcodec_receive_packet(c, packet)) >= 0) {
        packets.emplace_back(packet->data, packet->data + packet->size);
        av::av_packet_unref(packet);
    }
    return rc == AVERROR(EAGAIN) || rc == AVERROR_EOF ? 0 : rc;
}

// The planar float frame of samples [done, done + frame->nb_samples) of `pcm`, silence past its end.
void FillFrame(AVFrame* frame, const TPcmBlock& pcm, int64_t done) {
    for (int i = 0; i < frame->nb_samples; ++i)
        for (int ch = 0; ch < frame->ch_layout.nb_channels; ++ch)
            reinterpret_cast<float*>(frame->extended_data[ch])[i] =
                done + i < pcm.Frames() ? pcm.Samples[size_t((done + i) * pcm.Channels + ch % pcm.Channels)] : 0.0f;
}

// Appends the float samples of `frame` to `pcm`, interleaved.
void AppendFloat(const AVFrame* frame, TPcmBlock& pcm) {
    int channels = frame->ch_layout.nb_channels;
    pcm.Channels = channels;
    size_t at = pcm.Samples.size();
    pcm.Samples.resize(at + size_t(frame->nb_samples) * size_t(channels));
    bool planar = av::av_sample_fmt_is_planar(AVSampleFormat(frame->format)) != 0;
    for (int i = 0; i < frame->nb_samples; ++i)
        for (int c = 0; c < channels; ++c)
            pcm.Samples[at++] = planar ? reinterpret_cast<const float*>(frame->extended_data[c])[i]
                                       : reinterpret_cast<const float*>(frame->extended_data[0])[i * channels + c];
}

} // namespace

bool DecodePackets(AVCodecContext* c, const std::vector<std::vector<uint8_t>>& packets, TPcmBlock& pcm,
                   std::string& error) {
    TPacketPtr packet(av::av_packet_alloc());
    TFramePtr frame(av::av_frame_alloc());
    if (!c || !packet || !frame) {
        error = "out of memory";
        return false;
    }
    pcm = TPcmBlock();
    pcm.Channels = c->ch_layout.nb_channels;
    for (const std::vector<uint8_t>& bytes : packets) {
        if (bytes.empty()) continue;
        if (av::av_new_packet(packet.get(), int(bytes.size())) < 0) {
            error = "out of memory";
            return false;
        }
        std::memcpy(packet->data, bytes.data(), bytes.size());
        int rc = av::avcodec_send_packet(c, packet.get());
        av::av_packet_unref(packet.get());
        while (rc >= 0 && (rc = av::avcodec_receive_frame(c, frame.get())) >= 0) {
            if (frame->format != AV_SAMPLE_FMT_FLTP && frame->format != AV_SAMPLE_FMT_FLT) {
                error = "the decoder gives no float samples";
                return false;
            }
            AppendFloat(frame.get(), pcm);
            av::av_frame_unref(frame.get());
        }
        if (rc != AVERROR(EAGAIN) && rc != AVERROR_EOF && rc < 0) {
            error = "a packet at the seam cannot be decoded: " + ErrorText(rc);
            return false;
        }
    }
    return true;
}

bool EncodePcm(AVCodecContext* c, const TPcmBlock& pcm, int chunk, bool padLast,
               std::vector<std::vector<uint8_t>>& packets, std::string& error) {
    TFramePtr frame(av::av_frame_alloc());
    TPacketPtr packet(av::av_packet_alloc());
    if (!c || !frame || !packet || chunk <= 0) {
        error = "out of memory";
        return false;
    }
    for (int64_t done = 0; done < pcm.Frames(); done += chunk) {
        frame->nb_samples = padLast ? chunk : int(std::min<int64_t>(chunk, pcm.Frames() - done));
        frame->format = c->sample_fmt;
        frame->sample_rate = c->sample_rate;
        av::av_channel_layout_copy(&frame->ch_layout, &c->ch_layout);
        if (av::av_frame_get_buffer(frame.get(), 0) < 0) {
            error = "out of memory";
            return false;
        }
        FillFrame(frame.get(), pcm, done);
        frame->pts = done;
        int rc = av::avcodec_send_frame(c, frame.get());
        av::av_frame_unref(frame.get());
        if (rc < 0 || (rc = DrainPackets(c, packet.get(), packets)) < 0) {
            error = "the bridge cannot be encoded: " + ErrorText(rc);
            return false;
        }
    }
    int rc = av::avcodec_send_frame(c, nullptr);
    if (rc < 0 || (rc = DrainPackets(c, packet.get(), packets)) < 0) {
        error = "the bridge cannot be encoded: " + ErrorText(rc);
        return false;
    }
    return true;
}
