// Lossless WMA (ASF) and M4A delete: the packets before the removed stretch and after it are
// copied and joined at a packet boundary, as PacketSeam.h describes; the packets after the join
// are stamped earlier by the removed length, so M4A keeps the input's edit list start (its
// priming) and its last packet's duration (its end), and the check says how far the join's
// crossfade lies from the marks. A delete from the file's start or to its end is the select of
// the other side (M4A's is sample-exact).
//
// Where the frame across the join decodes: AAC's packet k decodes to the samples from its own
// stamp; the WMA decoder gives a frame's samples two packets on (see DecodedPlacement.h), so
// packet k's first samples lie at packet k - 2's stamp (measured: a join before packet k changes
// exactly the decoded frame there).
#include "LosslessTexts.h"
#include "MyUtils.h"
#include "PacketPlan.h"
#include "PacketSeam.h"

#include <deque>

namespace {

constexpr int kWmaBitReservoir = 0x0002; // of the codec's flags in its extradata

struct TPacketCodec {
    int Lag = 0;         // packet k's first samples decode at packet k - Lag's stamp
    int64_t Overlap = 0; // samples of a decoded frame (0: a packet's duration)
};

// The codecs whose frames join as PacketSeam.h says; false with the reason otherwise.
bool JoinableCodec(const AVStream& stream, const char* kind, TPacketCodec& codec, std::string& reason) {
    const AVCodecParameters& par = *stream.codecpar;
    if (par.sample_rate <= 0) {
        reason = Format(LosslessText::kNoDeletePath, kind);
        return false;
    }
    if (par.codec_id == AV_CODEC_ID_AAC) return true;
    if (par.codec_id != AV_CODEC_ID_WMAV1 && par.codec_id != AV_CODEC_ID_WMAV2) {
        reason = Format(LosslessText::kNoDeletePath, UpperCase(av::avcodec_get_name(par.codec_id)).c_str());
        return false;
    }
    int flagsAt = par.codec_id == AV_CODEC_ID_WMAV1 ? 2 : 4;
    int flags =
        par.extradata_size >= flagsAt + 2 ? par.extradata[flagsAt] | par.extradata[flagsAt + 1] << 8 : 0;
    if (flags & kWmaBitReservoir) {
        reason = LosslessText::kWmaReservoir;
        return false;
    }
    codec.Lag = 2;
    codec.Overlap = TPacketClock(stream).Grid;
    return true;
}

// A packet where the output is joined: the last kept before the join (Before), the first after.
struct TJoin {
    int64_t Pts = AV_NOPTS_VALUE; // of the first packet after the join
    int64_t Before = AV_NOPTS_VALUE;
    int64_t Position = 0; // of the decoded frame the join crossfades
    bool Found() const { return Pts != AV_NOPTS_VALUE; }
};

struct TPacketScan {
    TJoin Cut, Resume;
    int64_t FirstPts = AV_NOPTS_VALUE, LastPts = AV_NOPTS_VALUE;
    int64_t Overlap = 0;
};

// Reads the audio packets' stamps and finds the joins for the marks [start, end) (samples).
TPacketScan ScanPackets(TPacketInput& in, const TPacketCodec& codec, int64_t start, int64_t end) {
    AVStream* audio = in.Context->streams[in.Audio];
    TPacketClock clock(*audio);
    TPacketScan scan;
    scan.Overlap = codec.Overlap;
    std::deque<int64_t> positions; // of packets k - Lag .. k
    int64_t previousPts = AV_NOPTS_VALUE;
    TPacketPtr packet(av::av_packet_alloc());
    while (av::av_read_frame(in.Context.get(), packet.get()) >= 0) {
        bool mine = packet->stream_index == in.Audio && packet->pts != AV_NOPTS_VALUE;
        int64_t pts = packet->pts, duration = packet->duration;
        av::av_packet_unref(packet.get());
        if (!mine) continue;
        if (scan.Overlap <= 0) scan.Overlap = av::av_rescale_q(duration, audio->time_base, {1, clock.Rate});
        positions.push_back(clock.Samples(pts));
        if (positions.size() > size_t(codec.Lag) + 1) positions.pop_front();
        // The first packet has nothing before it to join to.
        if (previousPts != AV_NOPTS_VALUE && positions.size() == size_t(codec.Lag) + 1) {
            int64_t frame = positions.front(); // decoded across a join before this packet
            if (!scan.Cut.Found() && CrossfadesAt(frame, scan.Overlap, start))
                scan.Cut = {pts, previousPts, frame};
            else if (scan.Cut.Found() && !scan.Resume.Found() && CrossfadesAt(frame, scan.Overlap, end))
                scan.Resume = {pts, previousPts, frame};
        }
        if (scan.FirstPts == AV_NOPTS_VALUE) scan.FirstPts = pts;
        scan.LastPts = pts;
        previousPts = pts;
    }
    return scan;
}

// The delete that keeps one side: the select of it, through a new reading of the input.
std::unique_ptr<TLosslessPlan> KeepOneSide(const std::string& input, const std::string& muxer, bool keepEnd,
                                           int64_t startMs, int64_t endMs, int64_t start, int rate,
                                           TLosslessCheck& check) {
    TPacketInput in;
    std::string error;
    if (!OpenPacketInput(input, in, error)) {
        check = Verdict(TLosslessVerdict::NotAvailable, error);
        return nullptr;
    }
    auto plan = keepEnd ? PlanPacketSelect(input, in, muxer, endMs, INT64_MAX / 1000000, check)
                        : PlanPacketSelect(input, in, muxer, 0, startMs, check);
    check = OneSideCheck(check, keepEnd, start, rate);
    return plan;
}

} // namespace

std::unique_ptr<TLosslessPlan> PlanPacketDelete(const std::string& input, TPacketInput& in, const char* kind,
                                                const std::string& muxer, int64_t startMs, int64_t endMs,
                                                TLosslessCheck& check) {
    TPacketCodec codec;
    std::string reason;
    const AVStream& audio = *in.Context->streams[in.Audio];
    if (!JoinableCodec(audio, kind, codec, reason)) {
        check = Verdict(TLosslessVerdict::NotAvailable, reason);
        return nullptr;
    }
    int rate = TPacketClock(audio).Rate;
    int64_t start = MarkToSamples(startMs, rate), end = MarkToSamples(endMs, rate);
    if (start == 0) return KeepOneSide(input, muxer, true, startMs, endMs, start, rate, check);
    TPacketScan scan = ScanPackets(in, codec, start, end);
    if (!scan.Cut.Found()) {
        check = Verdict(TLosslessVerdict::NotAvailable, LosslessText::kBeyondEnd);
        return nullptr;
    }
    if (!scan.Resume.Found()) return KeepOneSide(input, muxer, false, startMs, endMs, start, rate, check);

    auto plan = std::make_unique<TPacketPlan>();
    plan->Input = input;
    plan->Muxer = muxer;
    plan->Runs = {{scan.FirstPts, scan.Cut.Before, 0},
                  {scan.Resume.Pts, scan.LastPts, scan.Resume.Pts - scan.Cut.Pts}};
    check = SeamCheck(start, end, scan.Cut.Position, scan.Resume.Position, scan.Overlap, rate);
    return plan;
}
