// Run setup, second half: opening the encoders and decoders under CodecLock, the bitstream
// filter chains, the file headers; and the teardown that closes the codecs and releases the run
// tables. Conversion thread (the teardown also runs from CloseAll).
#include "FFmpeg.h"
#include "FFmpegLogger.h"
#include "RunState.h"

#include <algorithm>
#include <cstring>

TStreamWriter::~TStreamWriter() {
    if (!Scratch.empty()) av::av_free(Scratch[0]); // one allocation holds every plane
}

TRunState::~TRunState() {
    CloseOpenedCodecs();
    ReleaseTables();
}

void TRunState::CloseOpenedCodecs() {
    for (auto* list : {&OpenedEncoders, &OpenedDecoders}) {
        for (AVCodecContext* c : *list) {
            std::lock_guard<std::mutex> lock(CodecLock());
            av::avcodec_close(c);
        }
        list->clear();
    }
}

void TRunState::ReleaseTables() {
    InputFiles.clear();
    InputStreams.clear();
    OutputStreams.clear();
    Writers.clear();
    GroupSize = 0;
    Packet.reset();
    Frame.reset();
}

namespace {

// Opens one codec under CodecLock and records it as open (most recent first) before the lock
// is released.
int OpenCodec(AVCodecContext* ctx, const AVCodec* codec, std::vector<AVCodecContext*>& opened) {
    std::lock_guard<std::mutex> lock(CodecLock());
    int rc = av::avcodec_open2(ctx, codec, nullptr);
    if (rc >= 0) opened.insert(opened.begin(), ctx);
    return rc;
}

void CloseCodec(AVCodecContext* ctx, std::vector<AVCodecContext*>& opened) {
    std::lock_guard<std::mutex> lock(CodecLock());
    auto it = std::find(opened.begin(), opened.end(), ctx);
    if (it == opened.end()) return;
    av::avcodec_close(ctx);
    opened.erase(it);
}

// Decoders of WMA drop the stream's first frame (it only primes their transform): one frame of
// silence goes ahead of the audio so that the first sample decoded is the first one kept. It
// enters the FIFO only and is not counted as output time.
void PutLeadIn(TStreamWriter& w) {
    AVCodecContext* enc = w.Enc;
    if (enc->codec_id != AV_CODEC_ID_WMAV1 && enc->codec_id != AV_CODEC_ID_WMAV2) return;
    if (enc->frame_size <= 0) return;
    TFramePtr silence(av::av_frame_alloc());
    if (!silence) throw FFmpegException(kMsgOutOfMemory);
    silence->format = enc->sample_fmt;
    silence->nb_samples = enc->frame_size;
    if (av::av_channel_layout_copy(&silence->ch_layout, &enc->ch_layout) < 0 ||
        av::av_frame_get_buffer(silence.get(), 0) < 0)
        throw FFmpegException(kMsgOutOfMemory);
    av::av_samples_set_silence(silence->extended_data, 0, enc->frame_size, enc->ch_layout.nb_channels,
                               enc->sample_fmt);
    if (av::av_audio_fifo_write(w.SampleFifo.get(), reinterpret_cast<void**>(silence->extended_data),
                                enc->frame_size) < enc->frame_size)
        throw FFmpegException(kMsgFifoFailed);
}

} // namespace

void TRunState::OpenEncoders() {
    size_t count = Engine.FJoin ? static_cast<size_t>(GroupSize) : OutputStreams.size();
    for (size_t n = 0; n < count; ++n) {
        TOutputStreamState& ost = *OutputStreams[n];
        TStreamWriter& w = *ost.Writer;
        if (!w.Packet) w.Packet.reset(av::av_packet_alloc());
        if (!w.Packet) throw FFmpegException(kMsgOutOfMemory);
        if (ost.Encode) {
            AVCodecContext* enc = w.Enc;
            const AVCodec* encoder = enc->codec;
            if (!encoder) encoder = n < static_cast<size_t>(kMaxCodecs) ? Engine.FOutputCodecs[n] : nullptr;
            if (!encoder) encoder = av::avcodec_find_encoder(enc->codec_id);
            std::string type = MediaTypeName(enc->codec_type);
            if (!encoder) {
                FailSetup(
                    Format(kMsgEncoderNotFound, enc->codec_id, ost.FileIndex, ost.StreamIndex, type.c_str()));
            }
            if (OpenCodec(enc, encoder, OpenedEncoders) < 0) {
                FailSetup(Format(kMsgEncoderOpenFailed, ost.FileIndex, ost.StreamIndex, type.c_str()));
            }
            Engine.FExtraSize += enc->extradata_size;
            if (av::avcodec_parameters_from_context(w.Stream->codecpar, enc) < 0)
                throw FFmpegException(kMsgOutOfMemory);
            w.Stream->time_base = enc->time_base;

            // Framing: a FIFO in the encoder's format, a frame handed to it, the end as a count.
            w.SampleFifo.reset(av::av_audio_fifo_alloc(enc->sample_fmt, enc->ch_layout.nb_channels,
                                                       std::max(enc->frame_size, 4096)));
            w.EncFrame.reset(av::av_frame_alloc());
            if (!w.SampleFifo || !w.EncFrame) throw FFmpegException(kMsgOutOfMemory);
            PutLeadIn(w);
            if (Engine.FRecordingTime != INT64_MAX)
                w.MaxSamples =
                    av::av_rescale_rnd(Engine.FRecordingTime, enc->sample_rate, 1000000, AV_ROUND_UP);
        }
        SetupBitstreamFilters(w);
    }
}

void TRunState::OpenDecoders() {
    for (size_t n = 0; n < InputStreams.size(); ++n) {
        TInputStreamState& ist = *InputStreams[n];
        if (!ist.Decode) continue;
        AVCodecContext* dec = ist.Dec;
        // The context was made for the decoder chosen by name, or for the one of its codec id.
        const AVCodec* decoder = dec->codec ? dec->codec : av::avcodec_find_decoder(dec->codec_id);
        std::string type = MediaTypeName(dec->codec_type);
        if (!decoder) {
            FailSetup(
                Format(kMsgDecoderNotFound, dec->codec_id, ist.FileIndex, ist.StreamIndex, type.c_str()));
        }
        if (OpenCodec(dec, decoder, OpenedDecoders) < 0) {
            FailSetup(Format(kMsgDecoderOpenFailed, ist.FileIndex, ist.StreamIndex, type.c_str()));
        }
    }
    if (!Packet) Packet.reset(av::av_packet_alloc());
    if (!Frame) Frame.reset(av::av_frame_alloc());
    if (!Packet || !Frame) throw FFmpegException(kMsgOutOfMemory);
}

void TRunState::SetupBitstreamFilters(TStreamWriter& w) {
    const auto& chain = Engine.FBitstreamFilters[w.FileIndex][w.Stream->index];
    w.Filters.clear();
    const AVCodecParameters* par = w.Stream->codecpar;
    for (const AVBitStreamFilter* filter : chain) {
        AVBSFContext* ctx = nullptr;
        if (av::av_bsf_alloc(filter, &ctx) < 0) throw FFmpegException(kMsgOutOfMemory);
        w.Filters.emplace_back(ctx);
        if (av::avcodec_parameters_copy(ctx->par_in, par) < 0) throw FFmpegException(kMsgOutOfMemory);
        ctx->time_base_in = w.Stream->time_base;
        if (av::av_bsf_init(ctx) < 0)
            throw FFmpegException(Format(kMsgBsfInitFailed, filter->name, w.Stream->index));
        par = ctx->par_out;
    }
    // The muxer sees the stream as the last filter puts it out (e.g. global headers).
    if (!w.Filters.empty() && av::avcodec_parameters_copy(w.Stream->codecpar, par) < 0)
        throw FFmpegException(kMsgOutOfMemory);
}

void TRunState::WriteHeaders() {
    bool allRtp = true;
    int written = 0;
    for (int i = 0; i < Engine.FOutputFileCount; ++i) {
        if (Engine.FJoin && i > 0) break;
        AVFormatContext* oc = Engine.FOutputFiles[i].get();
        if (av::avformat_write_header(oc, nullptr) < 0) {
            FailSetup(Format(kMsgHeaderFailed, i));
        }
        allRtp &= std::strcmp(oc->oformat->name, "rtp") == 0;
        ++written;
    }
    if (allRtp && written > 0) {
        char sdp[2048] = {0};
        std::array<AVFormatContext*, kMaxFiles> outputs{};
        for (int i = 0; i < written; ++i)
            outputs[i] = Engine.FOutputFiles[i].get();
        av::av_sdp_create(outputs.data(), written, sdp, sizeof sdp);
        FFLogger().Log(&Engine, llInfo, std::string("SDP:\r\n") + Trim(sdp));
    }
}

void TRunState::CloseRunCodecs() {
    for (auto& w : Writers)
        if (w->Encode) CloseCodec(w->Enc, OpenedEncoders);
    for (auto& ist : InputStreams)
        if (ist->Decode) CloseCodec(ist->Dec, OpenedDecoders);
}
