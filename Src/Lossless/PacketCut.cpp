// Lossless cuts through the media libraries' demuxer and muxer, for containers whose frames the
// cutter does not lay out itself: the audio packets from one packet before the packet holding the
// start mark (a decoder's first frame lacks the overlap of the one before, so that packet only
// primes the decoder) through the packet holding the end mark, with the file's tags.
//  - M4A: sample-exact. The packets are stamped so that the start mark is time 0: the priming
//    before it gets negative times, which the muxer turns into an edit list that decoders skip;
//    the last packet's duration ends at the end mark.
//  - WMA (ASF): times are whole milliseconds and cannot skip samples, so the cut starts and ends
//    at packet boundaries; the check says how far from the marks.
#include "FFPtr.h"
#include "LosslessFormats.h"
#include "LosslessTexts.h"
#include "MyUtils.h"
#include "UnicodeProtocol.h"

#include <cstring>

namespace {

std::string ErrorText(int code) {
    char text[128] = {};
    av::av_strerror(code, text, sizeof text);
    return text;
}

struct TInput {
    TInputContextPtr Context;
    int Audio = -1;
};

// Opens `path` and finds its one audio stream; pictures attached to it may come along.
bool OpenInput(const std::string& path, TInput& input, std::string& error) {
    AVFormatContext* raw = nullptr;
    int rc = OpenMediaInput(&raw, LocalMediaName(path), nullptr, nullptr);
    if (rc < 0) {
        error = ErrorText(rc);
        return false;
    }
    input.Context.reset(raw);
    rc = FindMediaStreamInfo(raw);
    if (rc < 0) {
        error = ErrorText(rc);
        return false;
    }
    for (unsigned i = 0; i < raw->nb_streams; ++i) {
        const AVStream* s = raw->streams[i];
        if (s->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
            if (input.Audio >= 0) {
                error = LosslessText::kOneAudioStream;
                return false;
            }
            input.Audio = int(i);
        } else if (!(s->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
            error = LosslessText::kOneAudioStream;
            return false;
        }
    }
    if (input.Audio < 0) error = LosslessText::kOneAudioStream;
    return input.Audio >= 0;
}

class TPacketPlan : public TLosslessPlan {
public:
    bool Write(const std::string& output, std::string& error) override;

    std::string Input;
    std::string Muxer;
    bool Exact = false;   // stamp the start mark as time 0 and end the last packet at the end mark
    int64_t FirstPts = 0; // the first packet copied (stream time base)
    int64_t LastPts = 0;  // the last one
    int64_t StartPts = 0; // the start mark
    int64_t EndPts = 0;   // the end mark, or the last packet's end
};

bool TPacketPlan::Write(const std::string& output, std::string& error) {
    TInput in;
    if (!OpenInput(Input, in, error)) return false;
    AVFormatContext* raw = nullptr;
    int rc = av::avformat_alloc_output_context2(&raw, nullptr, Muxer.c_str(), nullptr);
    TOutputContextPtr out(raw);
    if (rc < 0 || !out) {
        error = ErrorText(rc);
        return false;
    }
    av::av_dict_copy(&out->metadata, in.Context->metadata, 0);
    std::vector<int> map(in.Context->nb_streams, -1);
    for (unsigned i = 0; i < in.Context->nb_streams; ++i) {
        AVStream* from = in.Context->streams[i];
        AVStream* to = av::avformat_new_stream(out.get(), nullptr);
        if (!to || av::avcodec_parameters_copy(to->codecpar, from->codecpar) < 0) {
            error = "out of memory";
            return false;
        }
        to->codecpar->codec_tag = 0;
        to->time_base = from->time_base;
        to->disposition = from->disposition;
        av::av_dict_copy(&to->metadata, from->metadata, 0);
        map[i] = to->index;
    }
    rc = OpenMediaOutput(out.get(), output);
    if (rc >= 0) rc = av::avformat_write_header(out.get(), nullptr);
    if (rc < 0) {
        error = ErrorText(rc);
        return false;
    }
    AVStream* audio = in.Context->streams[in.Audio];
    int64_t shift = Exact ? StartPts : FirstPts;
    TPacketPtr packet(av::av_packet_alloc());
    bool done = false;
    while (!done && (rc = av::av_read_frame(in.Context.get(), packet.get())) >= 0) {
        AVStream* from = in.Context->streams[packet->stream_index];
        bool picture = from->disposition & AV_DISPOSITION_ATTACHED_PIC;
        bool wanted = picture ||
                      (packet->stream_index == in.Audio && packet->pts >= FirstPts && packet->pts <= LastPts);
        if (wanted && !picture) {
            done = packet->pts == LastPts;
            if (done && Exact) packet->duration = EndPts - packet->pts;
            packet->pts -= shift;
            packet->dts = packet->pts;
        }
        if (wanted) {
            AVStream* to = out->streams[map[size_t(packet->stream_index)]];
            packet->stream_index = to->index;
            av::av_packet_rescale_ts(packet.get(), from->time_base, to->time_base);
            packet->pos = -1;
            rc = av::av_interleaved_write_frame(out.get(), packet.get());
            if (rc < 0) break;
        }
        av::av_packet_unref(packet.get());
    }
    (void)audio;
    if (rc < 0 && rc != AVERROR_EOF) {
        error = ErrorText(rc);
        return false;
    }
    if (!done) {
        error = "the input changed while it was copied";
        return false;
    }
    rc = av::av_write_trailer(out.get());
    if (rc < 0) error = ErrorText(rc);
    return rc >= 0;
}

} // namespace

std::unique_ptr<TLosslessPlan> PlanPacketCut(const std::string& input, TLosslessMode mode, int64_t startMs,
                                             int64_t endMs, TLosslessCheck& check) {
    auto plan = std::make_unique<TPacketPlan>();
    plan->Input = input;
    TInput in;
    std::string error;
    if (!OpenInput(input, in, error)) {
        check = Verdict(TLosslessVerdict::NotAvailable, error);
        return nullptr;
    }
    const char* name = in.Context->iformat->name;
    bool asf = std::strcmp(name, "asf") == 0;
    bool mp4 = std::strstr(name, "mp4") != nullptr;
    std::string kind = asf ? "WMA" : "M4A";
    if (!asf && !mp4) {
        check = Verdict(TLosslessVerdict::NotAvailable,
                        Format(LosslessText::kNoCopyPath, UpperCase(name).c_str()));
        return nullptr;
    }
    if (mode == TLosslessMode::Delete) {
        check = Verdict(TLosslessVerdict::NotAvailable, Format(LosslessText::kNoDeletePath, kind.c_str()));
        return nullptr;
    }
    AVStream* audio = in.Context->streams[in.Audio];
    plan->Muxer = asf ? "asf" : LowerCase(ExtractFileExt(input)) == ".m4a" ? "ipod" : "mp4";
    plan->Exact = mp4;
    // The marks are samples of the decoded audio, from its time 0.
    int rate = audio->codecpar->sample_rate > 0 ? audio->codecpar->sample_rate : 1000;
    int64_t start = av::av_rescale_q(MarkToSamples(startMs, rate), {1, rate}, audio->time_base);
    int64_t end = av::av_rescale_q(MarkToSamples(endMs, rate), {1, rate}, audio->time_base);
    // The packets a decoder needs around the ones holding the marks: AAC's first decoded frame
    // lacks the overlap of the one before; the WMA decoder gives each frame's samples only with the
    // next packet, the last one's not quite those of the input.
    const int prime = asf ? 0 : 1, trail = asf ? 2 : 0;
    int64_t previous = AV_NOPTS_VALUE, first = AV_NOPTS_VALUE, last = AV_NOPTS_VALUE, lastEnd = 0;
    int after = -1; // packets taken after the one holding the end mark
    TPacketPtr packet(av::av_packet_alloc());
    while (av::av_read_frame(in.Context.get(), packet.get()) >= 0) {
        bool mine = packet->stream_index == in.Audio && packet->pts != AV_NOPTS_VALUE;
        int64_t pts = packet->pts, duration = packet->duration;
        av::av_packet_unref(packet.get());
        if (!mine) continue;
        if (first == AV_NOPTS_VALUE && pts + duration > start)
            first = prime > 0 && previous != AV_NOPTS_VALUE ? previous : pts;
        previous = pts;
        if (first == AV_NOPTS_VALUE) continue;
        last = pts;
        lastEnd = pts + duration;
        if (after < 0 && lastEnd >= end) {
            after = 0;
        } else if (after >= 0) {
            ++after;
        }
        if (after == trail) break;
    }
    // WMA: the decoded audio ends where the last copied packet begins.
    if (asf && last != first) lastEnd = last;
    if (first == AV_NOPTS_VALUE || std::min(end, lastEnd) <= start) {
        check = Verdict(TLosslessVerdict::NotAvailable, LosslessText::kBeyondEnd);
        return nullptr;
    }
    plan->FirstPts = first;
    plan->LastPts = last;
    plan->StartPts = start;
    plan->EndPts = std::min(end, lastEnd);
    check = Verdict(TLosslessVerdict::Possible, "");
    // M4A's edit list ends the cut at the end mark too, but the libraries' decoder plays the last
    // frame whole: the check says what they play.
    check.SampleExact = false;
    auto toMs = [&](int64_t pts) {
        return double(av::av_rescale_q(pts, audio->time_base, {1, 1000000})) / 1000.0;
    };
    check.StartOffsetMs = plan->Exact ? 0.0 : toMs(first - start);
    check.EndOffsetMs = end >= lastEnd ? 0.0 : toMs(lastEnd - end);
    return plan;
}
