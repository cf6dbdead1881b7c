// The transcode loop: setup, then one packet per iteration from the input whose output lags
// most, its timestamps corrected and handed to the packet path, until the inputs end, a limit
// is reached or a stop is requested; then the normal end (flush, trailers, final report). In
// join mode the inputs are read one after the other into one output whose encoder stays open,
// each next input continuing at the output time reached. Conversion thread.
#include "FFmpeg.h"
#include "FFmpegLogger.h"
#include "RunState.h"

#include <chrono>
#include <cmath>
#include <thread>

namespace {

constexpr AVRational kMicroseconds{1, 1000000};

} // namespace

void TCustomFFmpeg::RunConversion() {
    RunState().Run();
}

void TRunState::Run() {
    try {
        SetupRun();
        Engine.FTimerStart = av::av_gettime();
        LastReportTime = Engine.FTimerStart;
        CurrentInput = 0;
        NoPacketCount = 0;
        for (auto& file : InputFiles)
            file.NoPacket = false;
        while (!Engine.FStopRequested && RunLoopIteration()) {
        }
        FinishRun();
    } catch (...) {
        // Codecs still open are closed by the run state when the engine releases it.
        ReleaseTables();
        throw;
    }
}

double TRunState::OutputTime(const TOutputStreamState& ost) const {
    const TStreamWriter& w = *ost.Writer;
    if (w.Encode)
        return w.Enc->sample_rate > 0 ? static_cast<double>(w.SamplesAccepted) / w.Enc->sample_rate : 0.0;
    if (w.LastPacketEnd == AV_NOPTS_VALUE) return 0.0;
    return static_cast<double>(w.LastPacketEnd) * ::av_q2d(w.Stream->time_base);
}

double TRunState::LoopTime(const TOutputStreamState& ost) const {
    // A stream cut at the recording time counts as having reached it.
    double t = OutputTime(ost);
    return ost.Writer->ReachedEnd ? std::max(t, static_cast<double>(Engine.FRecordingTime) / 1000000.0) : t;
}

bool TRunState::FrameLimitReached(const TOutputStreamState& ost) const {
    int type = ost.Writer->Enc->codec_type;
    return type >= 0 && type < static_cast<int>(Engine.FMaxFrames.size()) &&
           Engine.FMaxFrames[type] <= ost.FrameCount;
}

bool TRunState::RunLoopIteration() {
    TInputChoice choice = Engine.FJoin ? ChooseJoinInput() : ChooseInput();
    if (choice.File < 0) return WaitForInputs();
    if (OutputLimitReached(choice.MinOutput)) return false;

    const int file = choice.File;
    AVPacket* packet = Packet.get();
    int rc = av::av_read_frame(Engine.FInputFiles[file].get(), packet);
    if (rc == AVERROR(EAGAIN)) {
        InputFiles[file].NoPacket = true;
        ++NoPacketCount;
        return true;
    }
    if (rc < 0) { // end of file or a read error
        InputFiles[file].EndReached = true;
        if (!Engine.FJoin) return !Engine.FShortest;
        return JoinStep(file);
    }
    for (auto& fs : InputFiles)
        fs.NoPacket = false;
    NoPacketCount = 0;

    bool decoded = HandlePacket(file, packet);
    av::av_packet_unref(packet);
    if (decoded) ReportProgressDue(); // no report after a packet that could not be decoded
    return true;
}

TRunState::TInputChoice TRunState::ChooseJoinInput() const {
    // The current input, unless one of its streams has written its frame limit.
    TInputChoice choice{CurrentInput, 1e100};
    for (int n = CurrentInput * GroupSize; n < (CurrentInput + 1) * GroupSize; ++n) {
        const TOutputStreamState& ost = *OutputStreams[n];
        choice.MinOutput = std::min(choice.MinOutput, LoopTime(ost));
        if (FrameLimitReached(ost)) return TInputChoice{-1, choice.MinOutput};
    }
    return choice;
}

TRunState::TInputChoice TRunState::ChooseInput() const {
    // The input feeding the output stream that lags most (with input sync: the input that lags
    // most), among the inputs that have packets now.
    TInputChoice choice{-1, 1e100};
    double minInput = 1e100;
    for (const auto& ostPtr : OutputStreams) {
        const TOutputStreamState& ost = *ostPtr;
        const TInputStreamState& ist = *InputStreams[ost.SourceIndex];
        const TInputFileState& fs = InputFiles[ist.FileIndex];
        if (fs.NoPacket) continue;
        if (!fs.EndReached) {
            double ipts = static_cast<double>(ist.Pts);
            if (ipts < minInput) {
                minInput = ipts;
                if (Engine.FInputSync) choice.File = ist.FileIndex;
            }
            double opts = LoopTime(ost);
            if (opts < choice.MinOutput) {
                choice.MinOutput = opts;
                if (!Engine.FInputSync) choice.File = ist.FileIndex;
            }
        }
        if (FrameLimitReached(ost)) return TInputChoice{-1, choice.MinOutput};
    }
    return choice;
}

bool TRunState::WaitForInputs() {
    // Nothing to read: the end, unless some inputs only had no packet for the moment.
    if (Engine.FJoin || NoPacketCount == 0) return false;
    for (auto& fs : InputFiles)
        fs.NoPacket = false;
    NoPacketCount = 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return true;
}

bool TRunState::OutputLimitReached(double minOutput) const {
    if (static_cast<double>(Engine.FRecordingTime) / 1000000.0 <= minOutput) return true;
    if (Engine.FLimitFileSize == 0) return false;
    AVIOContext* pb = Engine.FOutputFiles[0]->pb;
    return pb && av::avio_seek(pb, 0, SEEK_CUR) > Engine.FLimitFileSize;
}

bool TRunState::HandlePacket(int file, AVPacket* packet) {
    const TInputFileState& fs = InputFiles[file];
    int index = fs.FirstStream + packet->stream_index;
    if (packet->stream_index >= fs.StreamCount || InputStreams[index]->Discarded) return true;
    TInputStreamState& ist = *InputStreams[index];
    if (Engine.FPacketDump) av::av_pkt_dump_log2(nullptr, AV_LOG_DEBUG, packet, Engine.FHexDump, ist.Stream);
    CorrectTimestamps(ist, file, packet);
    if (ProcessPacket(index, packet, true) >= 0) return true;
    std::string text = Format(kMsgDecodeError, ist.FileIndex, ist.StreamIndex,
                              MediaTypeName(ist.Stream->codecpar->codec_type).c_str());
    if (Engine.FExitOnError) throw FFmpegException(text);
    if (Engine.FVerbose >= 0) FFLogger().Log(&Engine, llVerbose, text);
    return false;
}

void TRunState::CorrectTimestamps(TInputStreamState& ist, int file, AVPacket* packet) {
    const AVRational tb = ist.Stream->time_base;
    // The file's offset stays apart from the packet's timestamps (the packet path adds it
    // exactly); a scaled stream has it applied before the scale.
    ist.PacketShiftUs = Engine.FInputTsOffsets[file];
    double scale = ist.StreamIndex < kMaxStreams ? Engine.FInputTsScales[file][ist.StreamIndex] : 0.0;
    if (scale != 0.0) {
        int64_t shift = av::av_rescale_q(Engine.FInputTsOffsets[file], kMicroseconds, tb);
        if (packet->pts != AV_NOPTS_VALUE) packet->pts = std::llrint((packet->pts + shift) * scale);
        if (packet->dts != AV_NOPTS_VALUE) packet->dts = std::llrint((packet->dts + shift) * scale);
        ist.PacketShiftUs = 0;
    }
    // Timestamp discontinuities of formats that allow them move the file's offset.
    if (packet->dts == AV_NOPTS_VALUE || ist.NextPts == AV_NOPTS_VALUE ||
        !(Engine.FInputFiles[file]->iformat->flags & AVFMT_TS_DISCONT) || Engine.FCopyTs)
        return;
    int64_t dts = av::av_rescale_q(packet->dts, tb, kMicroseconds) + ist.PacketShiftUs;
    int64_t delta = dts - ist.NextPts;
    if (std::llabs(delta) <= static_cast<int64_t>(Engine.FDtsDeltaThreshold * 1000000.0f) &&
        dts + 1 >= ist.Pts)
        return;
    Engine.FInputTsOffsets[file] -= delta;
    if (Engine.FVerbose > 2)
        FFLogger().Log(&Engine, llVerbose,
                       Format(kMsgTimestampDiscontinuity, static_cast<long long>(delta),
                              static_cast<long long>(Engine.FInputTsOffsets[file])));
    if (scale != 0.0) {
        int64_t step = av::av_rescale_q(delta, kMicroseconds, tb);
        packet->dts -= step;
        if (packet->pts != AV_NOPTS_VALUE) packet->pts -= step;
    } else {
        ist.PacketShiftUs -= delta;
    }
}

void TRunState::ReportProgressDue() {
    int64_t now = av::av_gettime();
    if (now - LastReportTime > Engine.FReportInterval) {
        LastReportTime = now;
        ReportProgress(false);
    }
}

bool TRunState::JoinStep(int k) {
    const int groupSize = GroupSize;
    const bool last = k >= Engine.FInputFileCount - 1;
    // Drain this input's decoders. The encoder stays open and unflushed across the inputs, so
    // the boundary gets no inserted silence and loses no sample; it is flushed after the last.
    const TInputFileState& fs = InputFiles[k];
    for (int i = fs.FirstStream; i < fs.FirstStream + fs.StreamCount; ++i) {
        TInputStreamState& ist = *InputStreams[i];
        if (!ist.Decode) continue;
        ProcessPacket(i, nullptr, last);
        av::avcodec_flush_buffers(ist.Dec);
        ist.Flushed = true;
    }
    const int total = static_cast<int>(OutputStreams.size());
    for (int n = (k + 1) * groupSize; n < total; ++n) {
        OutputStreams[n]->SyncPosition = OutputStreams[n - groupSize]->SyncPosition;
        OutputStreams[n]->FrameCount = OutputStreams[n - groupSize]->FrameCount;
    }
    double maximum = 0.0;
    for (int n = k * groupSize; n < (k + 1) * groupSize && n + groupSize < total; ++n)
        maximum = std::max(maximum, OutputTime(*OutputStreams[n]));
    if (last) return false;
    Engine.FInputTsOffsets[k + 1] += std::llrint(maximum * 1000000.0);
    CurrentInput = k + 1;
    return true;
}

void TRunState::FinishRun() {
    for (size_t i = 0; i < InputStreams.size(); ++i) {
        TInputStreamState& ist = *InputStreams[i];
        if (ist.Decode && !ist.Flushed) ProcessPacket(static_cast<int>(i), nullptr, true);
    }
    // Encoders whose input never ended (a stop, a limit) are flushed as well.
    for (auto& ost : OutputStreams)
        if (ost->Encode) FlushEncoder(*ost->Writer, *ost);
    for (auto& w : Writers)
        if (!w->Encode) MuxPacket(*w, nullptr);
    for (int i = 0; i < Engine.FOutputFileCount; ++i) {
        if (Engine.FJoin && i > 0) break;
        // A trailer that cannot be written (a full disk) is a failed run, not a finished one.
        int rc = av::av_write_trailer(Engine.FOutputFiles[i].get());
        if (rc < 0) {
            char reason[AV_ERROR_MAX_STRING_SIZE] = {0};
            av::av_strerror(rc, reason, sizeof reason);
            FFLogger().Log(&Engine, llError, std::string(kMsgWriteTrailer) + ": " + reason);
            throw FFmpegException(std::string(kMsgWriteTrailer) + ": " + reason);
        }
    }
    ReportProgress(true);
    CloseRunCodecs();
    Engine.FFinished = !Engine.FStopRequested;
    ReleaseTables();
}
