#include "TestMediaWriter.h"

#include "FFPtr.h"
#include "MediaTags.h"
#include "MediaApi.h"
#include "MyUtils.h"
#include "UnicodeProtocol.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string ErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {0};
    av::av_strerror(code, text, sizeof(text));
    return text;
}

[[noreturn]] void Fail(const std::string& path, const std::string& what, int code = 0) {
    std::string text = "test media " + path + ": " + what;
    if (code < 0) text += " (" + ErrorText(code) + ")";
    throw std::runtime_error(text);
}

void Check(int rc, const std::string& path, const std::string& what) {
    if (rc < 0) Fail(path, what, rc);
}

AVSampleFormat PickSampleFormat(const AVCodec* codec) {
    static const AVSampleFormat kPreferred[] = {AV_SAMPLE_FMT_FLTP, AV_SAMPLE_FMT_FLT,  AV_SAMPLE_FMT_S16,
                                                AV_SAMPLE_FMT_S16P, AV_SAMPLE_FMT_S32P, AV_SAMPLE_FMT_S32};
    if (!codec->sample_fmts) return AV_SAMPLE_FMT_FLTP;
    for (AVSampleFormat want : kPreferred)
        for (const AVSampleFormat* f = codec->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f)
            if (*f == want) return want;
    return codec->sample_fmts[0];
}

// The encoder's own layout of `channels` channels when it lists layouts, else the default one.
void PickLayout(const AVCodec* codec, int channels, AVChannelLayout* layout) {
    if (codec->ch_layouts) {
        for (const AVChannelLayout* l = codec->ch_layouts; l->nb_channels; ++l)
            if (l->nb_channels == channels) {
                av::av_channel_layout_copy(layout, l);
                return;
            }
    }
    av::av_channel_layout_default(layout, channels);
}

void StoreSample(AVFrame* frame, AVSampleFormat fmt, int index, int channel, int channels, float v) {
    v = std::fmax(-1.0f, std::fmin(1.0f, v));
    const bool planar = av::av_sample_fmt_is_planar(fmt);
    const int slot = planar ? index : index * channels + channel;
    uint8_t* base = frame->extended_data[planar ? channel : 0];
    switch (av::av_get_packed_sample_fmt(fmt)) {
    case AV_SAMPLE_FMT_FLT:
        reinterpret_cast<float*>(base)[slot] = v;
        break;
    case AV_SAMPLE_FMT_DBL:
        reinterpret_cast<double*>(base)[slot] = v;
        break;
    case AV_SAMPLE_FMT_S16:
        reinterpret_cast<int16_t*>(base)[slot] = int16_t(std::lrint(std::fmin(v * 32768.0f, 32767.0f)));
        break;
    case AV_SAMPLE_FMT_S32:
        reinterpret_cast<int32_t*>(base)[slot] =
            int32_t(std::llrint(std::fmin(v * 2147483648.0, 2147483647.0)));
        break;
    case AV_SAMPLE_FMT_U8:
        base[slot] = uint8_t(std::lrint(std::fmin(v * 128.0f + 128.0f, 255.0f)));
        break;
    default:
        break;
    }
}

// One RGB picture of a fixed pattern as PNG bytes.
std::string EncodePng(int width, int height) {
    const AVCodec* codec = av::avcodec_find_encoder_by_name("png");
    if (!codec) throw std::runtime_error("test media: no png encoder");
    TCodecContextPtr cc(av::avcodec_alloc_context3(codec));
    TFramePtr frame(av::av_frame_alloc());
    TPacketPtr packet(av::av_packet_alloc());
    if (!cc || !frame || !packet) throw std::runtime_error("test media: out of memory");
    cc->width = width;
    cc->height = height;
    cc->pix_fmt = AV_PIX_FMT_RGB24;
    cc->time_base = AVRational{1, 1};
    int rc;
    {
        std::lock_guard<std::mutex> lock(CodecLock());
        rc = av::avcodec_open2(cc.get(), codec, nullptr);
    }
    if (rc < 0) throw std::runtime_error("test media: cannot open the png encoder");
    frame->format = AV_PIX_FMT_RGB24;
    frame->width = width;
    frame->height = height;
    if (av::av_frame_get_buffer(frame.get(), 0) < 0) throw std::runtime_error("test media: picture buffer");
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width * 3; ++x)
            frame->data[0][y * frame->linesize[0] + x] = uint8_t((x * 8 + y * 4) & 0xFF);
    frame->pts = 0;
    if (av::avcodec_send_frame(cc.get(), frame.get()) < 0 || av::avcodec_send_frame(cc.get(), nullptr) < 0 ||
        av::avcodec_receive_packet(cc.get(), packet.get()) < 0)
        throw std::runtime_error("test media: cannot encode the picture");
    return std::string(reinterpret_cast<const char*>(packet->data), size_t(packet->size));
}

struct TStreamWriter {
    AVStream* Stream = nullptr;
    TCodecContextPtr Codec;
    TFramePtr Frame;
    const TAudioPlan* Audio = nullptr;
    const TVideoPlan* Video = nullptr;
    int64_t Sent = 0;     // samples (audio) or pictures (video) sent to the encoder
    int64_t Total = 0;    // samples or pictures to send
    bool Drained = false; // the encoder has returned its last packet
    int FrameSize = 1024;

    double NextTime() const { return double(Sent) * av_q2d(Codec->time_base); }
};

class TWriter {
public:
    TWriter(const std::string& path, const std::string& muxer) : FPath(path) {
        AVFormatContext* ctx = nullptr;
        Check(av::avformat_alloc_output_context2(&ctx, nullptr, muxer.c_str(), path.c_str()), path,
              "no muxer " + muxer);
        FContext.reset(ctx);
    }

    void AddAudio(const TAudioPlan& plan) {
        const AVCodec* codec = av::avcodec_find_encoder_by_name(plan.Encoder.c_str());
        if (!codec) Fail(FPath, "no encoder " + plan.Encoder);
        auto w = NewStream(codec);
        w->Audio = &plan;
        AVCodecContext* cc = w->Codec.get();
        cc->sample_rate = plan.SampleRate;
        cc->sample_fmt = PickSampleFormat(codec);
        PickLayout(codec, plan.Channels, &cc->ch_layout);
        if (cc->ch_layout.nb_channels != plan.Channels) Fail(FPath, "unsupported channel count");
        if (plan.VbrQuality >= 0) {
            cc->flags |= AV_CODEC_FLAG_QSCALE;
            cc->global_quality = FF_QP2LAMBDA * plan.VbrQuality;
        } else if (plan.BitRate > 0) {
            cc->bit_rate = plan.BitRate;
        }
        cc->time_base = AVRational{1, plan.SampleRate};
        Open(*w);
        w->Total = plan.Frames;
        w->FrameSize = (cc->frame_size > 0 && !(codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE))
                           ? cc->frame_size
                           : 1024;
        w->Stream->time_base = cc->time_base;
        FStreams.push_back(std::move(w));
    }

    void AddVideo(const TVideoPlan& plan) {
        const std::string encoder = plan.AttachedPicture ? "png" : plan.Encoder;
        const AVCodec* codec = av::avcodec_find_encoder_by_name(encoder.c_str());
        if (!codec) Fail(FPath, "no encoder " + encoder);
        auto w = NewStream(codec);
        w->Video = &plan;
        AVCodecContext* cc = w->Codec.get();
        cc->width = plan.Width;
        cc->height = plan.Height;
        cc->pix_fmt = plan.AttachedPicture ? AV_PIX_FMT_RGB24 : AV_PIX_FMT_YUV420P;
        cc->time_base = AVRational{1, plan.FramesPerSecond};
        cc->framerate = AVRational{plan.FramesPerSecond, 1};
        cc->gop_size = 10;
        Open(*w);
        w->Total = plan.AttachedPicture ? 1 : plan.Frames;
        w->Stream->time_base = cc->time_base;
        if (plan.AttachedPicture) w->Stream->disposition = AV_DISPOSITION_ATTACHED_PIC;
        FStreams.push_back(std::move(w));
    }

    void Write() {
        AVFormatContext* ctx = FContext.get();
        if (!(ctx->oformat->flags & AVFMT_NOFILE))
            Check(OpenMediaOutput(ctx, MediaFileName(FPath)), FPath, "cannot create");
        Check(av::avformat_write_header(ctx, nullptr), FPath, "write header");
        // An attached picture goes first: muxers that write it into a tag wait for it.
        for (auto& w : FStreams)
            if (w->Video && w->Video->AttachedPicture) WritePicture(*w);
        for (;;) {
            TStreamWriter* next = nullptr;
            for (auto& w : FStreams)
                if (!w->Drained && (!next || w->NextTime() < next->NextTime())) next = w.get();
            if (!next) break;
            Step(*next);
        }
        Check(av::av_write_trailer(ctx), FPath, "write trailer");
        CloseMediaOutput(ctx);
    }

    // Before Write: the file's tags, and for Ogg the tags and the picture comment on every audio
    // stream.
    void SetTags(const TTagPlan& plan) {
        AVFormatContext* ctx = FContext.get();
        const bool ogg = TMediaTags::HoldsPictureComments(ctx->oformat->name);
        for (const auto& [key, value] : plan.Tags)
            av::av_dict_set(&ctx->metadata, key.c_str(), value.c_str(), 0);
        TMediaTags::EnableTagWriting(ctx);
        if (!ogg) return;
        std::string comment;
        if (plan.Cover) {
            std::string png = EncodePng(32, 32);
            comment = Base64Encode(FlacPictureBlock(3, "image/png", "front", 32, 32, png));
        }
        for (auto& w : FStreams) {
            if (!w->Audio) continue;
            for (const auto& [key, value] : plan.Tags)
                av::av_dict_set(&w->Stream->metadata, key.c_str(), value.c_str(), 0);
            if (!comment.empty())
                av::av_dict_set(&w->Stream->metadata, "METADATA_BLOCK_PICTURE", comment.c_str(), 0);
        }
    }

private:
    std::unique_ptr<TStreamWriter> NewStream(const AVCodec* codec) {
        auto w = std::make_unique<TStreamWriter>();
        w->Stream = av::avformat_new_stream(FContext.get(), nullptr);
        if (!w->Stream) Fail(FPath, "new stream");
        w->Codec.reset(av::avcodec_alloc_context3(codec));
        w->Frame.reset(av::av_frame_alloc());
        if (!w->Codec || !w->Frame) Fail(FPath, "out of memory");
        if (FContext->oformat->flags & AVFMT_GLOBALHEADER) w->Codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        return w;
    }

    void Open(TStreamWriter& w) {
        int rc;
        {
            std::lock_guard<std::mutex> lock(CodecLock());
            rc = av::avcodec_open2(w.Codec.get(), w.Codec->codec, nullptr);
        }
        Check(rc, FPath, std::string("open encoder ") + w.Codec->codec->name);
        Check(av::avcodec_parameters_from_context(w.Stream->codecpar, w.Codec.get()), FPath, "parameters");
    }

    // Sends the next frame (or the drain) to one encoder and writes what comes out.
    void Step(TStreamWriter& w) {
        if (w.Sent >= w.Total) {
            Check(av::avcodec_send_frame(w.Codec.get(), nullptr), FPath, "drain");
            Receive(w);
            w.Drained = true;
            return;
        }
        AVFrame* f = w.Frame.get();
        av::av_frame_unref(f);
        if (w.Audio) {
            FillAudio(w, f);
        } else {
            FillPicture(w, f);
        }
        int rc = av::avcodec_send_frame(w.Codec.get(), f);
        Check(rc, FPath, "encode");
        Receive(w);
    }

    void FillAudio(TStreamWriter& w, AVFrame* f) {
        AVCodecContext* cc = w.Codec.get();
        const int count = int(std::min<int64_t>(w.FrameSize, w.Total - w.Sent));
        f->nb_samples = count;
        f->format = cc->sample_fmt;
        f->sample_rate = cc->sample_rate;
        av::av_channel_layout_copy(&f->ch_layout, &cc->ch_layout);
        Check(av::av_frame_get_buffer(f, 0), FPath, "frame buffer");
        const int channels = cc->ch_layout.nb_channels;
        for (int i = 0; i < count; ++i)
            for (int c = 0; c < channels; ++c)
                StoreSample(f, cc->sample_fmt, i, c, channels, w.Audio->Signal(w.Sent + i, c));
        f->pts = w.Sent;
        w.Sent += count;
    }

    void FillPicture(TStreamWriter& w, AVFrame* f) {
        AVCodecContext* cc = w.Codec.get();
        f->format = cc->pix_fmt;
        f->width = cc->width;
        f->height = cc->height;
        Check(av::av_frame_get_buffer(f, 0), FPath, "picture buffer");
        const int planes = cc->pix_fmt == AV_PIX_FMT_YUV420P ? 3 : 1;
        for (int p = 0; p < planes; ++p) {
            const int h = p == 0 ? cc->height : cc->height / 2;
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < f->linesize[p]; ++x)
                    f->data[p][y * f->linesize[p] + x] =
                        uint8_t((x * 8 + y * 4 + w.Sent * 16 + p * 64) & 0xFF);
        }
        f->pts = w.Sent++;
    }

    void WritePicture(TStreamWriter& w) {
        AVFrame* f = w.Frame.get();
        FillPicture(w, f);
        Check(av::avcodec_send_frame(w.Codec.get(), f), FPath, "encode picture");
        Check(av::avcodec_send_frame(w.Codec.get(), nullptr), FPath, "drain picture");
        Receive(w);
        w.Drained = true;
    }

    void Receive(TStreamWriter& w) {
        TPacketPtr pkt(av::av_packet_alloc());
        for (;;) {
            int rc = av::avcodec_receive_packet(w.Codec.get(), pkt.get());
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
            Check(rc, FPath, "receive packet");
            pkt->stream_index = w.Stream->index;
            av::av_packet_rescale_ts(pkt.get(), w.Codec->time_base, w.Stream->time_base);
            if (w.Video && w.Video->AttachedPicture) pkt->flags |= AV_PKT_FLAG_KEY;
            Check(av::av_interleaved_write_frame(FContext.get(), pkt.get()), FPath, "write packet");
        }
    }

    std::string FPath;
    TOutputContextPtr FContext;
    std::vector<std::unique_ptr<TStreamWriter>> FStreams;
};

} // namespace

void WriteMediaFile(const std::string& path, const std::string& muxer, const std::vector<TAudioPlan>& audio,
                    const TVideoPlan* video, bool videoFirst, const TTagPlan* tags) {
    TWriter writer(path, muxer);
    const bool withVideo = video && (video->AttachedPicture || video->Frames > 0);
    if (withVideo && videoFirst) writer.AddVideo(*video);
    for (const TAudioPlan& plan : audio)
        writer.AddAudio(plan);
    if (withVideo && !videoFirst) writer.AddVideo(*video);
    if (tags) writer.SetTags(*tags);
    writer.Write();
}

std::string CachedFile(const std::string& finalPath, const std::function<void(const std::string&)>& make) {
    // One generator at a time per process; other processes are kept apart by the unique
    // temporary name and the atomic rename. Recursive: a special file is made from a cached one.
    static std::recursive_mutex lock;
    std::lock_guard<std::recursive_mutex> guard(lock);
    if (FileExists(finalPath)) return finalPath;
    static std::atomic<int> counter{0};
    const std::string tmp = ExtractFilePath(finalPath) + Format(".part-%d-%d-", int(getpid()), counter++) +
                            ExtractFileName(finalPath);
    try {
        make(tmp);
    } catch (...) {
        std::remove(tmp.c_str());
        throw;
    }
    if (std::rename(tmp.c_str(), finalPath.c_str()) != 0) {
        std::remove(tmp.c_str());
        throw std::runtime_error("test media: cannot rename " + tmp + " to " + finalPath);
    }
    return finalPath;
}
