#include "CodecSupport.h"

#include "FFPtr.h"

#include <algorithm>

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

} // namespace

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
