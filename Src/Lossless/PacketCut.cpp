// Lossless cuts through the media libraries' demuxer and muxer, for containers whose frames the
// cutter does not lay out itself. Select: the audio packets from one packet before the packet
// holding the start mark (a decoder's first frame lacks the overlap of the one before, so that
// packet only primes the decoder) through the packet holding the end mark, with the file's tags.
//  - M4A: sample-exact. The packets are stamped so that the start mark is time 0: the priming
//    before it gets negative times, which the muxer turns into an edit list that decoders skip;
//    the last packet's duration ends at the end mark.
//  - WMA (ASF): times are whole milliseconds and cannot skip samples, so the cut starts and ends
//    at packet boundaries; the check says how far from the marks.
// Delete: PacketDelete.cpp.
#include "DecodedPlacement.h"
#include "LosslessTexts.h"
#include "MyUtils.h"
#include "PacketPlan.h"
#include "UnicodeProtocol.h"

#include <cstring>

TPacketClock::TPacketClock(const AVStream& stream)
    : Rate(stream.codecpar->sample_rate > 0 ? stream.codecpar->sample_rate : 1000),
      Origin(StreamOrigin(stream)), TimeBase(stream.time_base) {
    if (int frame = WmaFrameLength(stream, Rate)) Grid = frame;
}

int64_t TPacketClock::Samples(int64_t pts) const {
    int64_t samples = av::av_rescale_q(pts - Origin, TimeBase, {1, Rate});
    return (samples >= 0 ? samples + Grid / 2 : samples - Grid / 2) / Grid * Grid;
}

bool OpenPacketInput(const std::string& path, TPacketInput& input, std::string& error) {
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

bool TPacketPlan::Write(const std::string& output, std::string& error) {
    TPacketInput in;
    if (Runs.empty() || !OpenPacketInput(Input, in, error)) return false;
    AVFormatContext* raw = nullptr;
    int rc = av::avformat_alloc_output_context2(&raw, nullptr, Muxer.c_str(), nullptr);
    TOutputContextPtr out(raw);
    if (rc < 0 || !out) {
        error = ErrorText(rc);
        return false;
    }
    av::av_dict_copy(&out->metadata, in.Context->metadata, 0);
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
    }
    rc = OpenMediaOutput(out.get(), output);
    if (rc >= 0) rc = av::avformat_write_header(out.get(), nullptr);
    if (rc < 0) {
        error = ErrorText(rc);
        return false;
    }
    if (!CopyPackets(in, out.get(), error)) return false;
    rc = av::av_write_trailer(out.get());
    if (rc < 0) error = ErrorText(rc);
    return rc >= 0;
}

// Output stream i is input stream i.
bool TPacketPlan::CopyPackets(TPacketInput& in, AVFormatContext* out, std::string& error) {
    TPacketPtr packet(av::av_packet_alloc());
    size_t run = 0;
    bool done = false;
    int rc = 0;
    while (!done && (rc = av::av_read_frame(in.Context.get(), packet.get())) >= 0) {
        AVStream* from = in.Context->streams[packet->stream_index];
        bool picture = from->disposition & AV_DISPOSITION_ATTACHED_PIC;
        bool audio = packet->stream_index == in.Audio && packet->pts != AV_NOPTS_VALUE;
        while (audio && run + 1 < Runs.size() && packet->pts > Runs[run].To &&
               packet->pts >= Runs[run + 1].From)
            ++run;
        bool wanted = picture || (audio && packet->pts >= Runs[run].From && packet->pts <= Runs[run].To);
        if (wanted && !picture) {
            done = run + 1 == Runs.size() && packet->pts == Runs[run].To;
            if (done && LastDuration >= 0) packet->duration = LastDuration;
            packet->pts -= Runs[run].Shift;
            packet->dts = packet->pts;
        }
        if (wanted) {
            AVStream* to = out->streams[packet->stream_index];
            av::av_packet_rescale_ts(packet.get(), from->time_base, to->time_base);
            packet->pos = -1;
            rc = av::av_interleaved_write_frame(out, packet.get());
            if (rc < 0) break;
        }
        av::av_packet_unref(packet.get());
    }
    if (rc < 0 && rc != AVERROR_EOF) {
        error = ErrorText(rc);
        return false;
    }
    if (!done) error = "the input changed while it was copied";
    return done;
}

std::unique_ptr<TPacketPlan> PlanPacketSelect(const std::string& input, TPacketInput& in,
                                              const std::string& muxer, int64_t startMs, int64_t endMs,
                                              TLosslessCheck& check) {
    auto plan = std::make_unique<TPacketPlan>();
    plan->Input = input;
    plan->Muxer = muxer;
    bool asf = muxer == "asf";
    AVStream* audio = in.Context->streams[in.Audio];
    // The marks are samples of the decoded audio, from its time 0.
    int rate = audio->codecpar->sample_rate > 0 ? audio->codecpar->sample_rate : 1000;
    int64_t startSamples = MarkToSamples(startMs, rate), endSamples = MarkToSamples(endMs, rate);
    int64_t start = av::av_rescale_q(startSamples, {1, rate}, audio->time_base);
    int64_t end = av::av_rescale_q(endSamples, {1, rate}, audio->time_base);
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
    bool exact = !asf;
    plan->Runs = {{first, last, exact ? start : first}};
    if (exact) plan->LastDuration = std::min(end, lastEnd) - last;
    check = Verdict(TLosslessVerdict::Possible, "");
    // M4A's edit list ends the cut at the end mark too, but the libraries' decoder plays the last
    // frame whole: the check says what they play.
    check.SampleExact = false;
    TPacketClock clock(*audio);
    check.StartOffsetMs = exact ? 0.0 : clock.Ms(clock.Samples(first) - startSamples);
    check.EndOffsetMs = end >= lastEnd ? 0.0 : clock.Ms(clock.Samples(lastEnd) - endSamples);
    return plan;
}

std::unique_ptr<TLosslessPlan> PlanPacketCut(const std::string& input, TLosslessMode mode, int64_t startMs,
                                             int64_t endMs, TLosslessCheck& check) {
    TPacketInput in;
    std::string error;
    if (!OpenPacketInput(input, in, error)) {
        check = Verdict(TLosslessVerdict::NotAvailable, error);
        return nullptr;
    }
    const char* name = in.Context->iformat->name;
    bool asf = std::strcmp(name, "asf") == 0;
    bool mp4 = std::strstr(name, "mp4") != nullptr;
    if (!asf && !mp4) {
        check = Verdict(TLosslessVerdict::NotAvailable,
                        Format(LosslessText::kNoCopyPath, UpperCase(name).c_str()));
        return nullptr;
    }
    std::string muxer = asf ? "asf" : LowerCase(ExtractFileExt(input)) == ".m4a" ? "ipod" : "mp4";
    if (mode == TLosslessMode::Delete)
        return PlanPacketDelete(input, in, asf ? "WMA" : "M4A", muxer, startMs, endMs, check);
    return PlanPacketSelect(input, in, muxer, startMs, endMs, check);
}
