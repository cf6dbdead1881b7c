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
    TRunState& run = RunState();
    try {
        SetupRun();
        FTimerStart = av::av_gettime();
        run.LastReportTime = FTimerStart;
        run.CurrentInput = 0;
        run.NoPacketCount = 0;
        for (auto& file : run.InputFiles)
            file.NoPacket = false;
        while (!FStopRequested && RunLoopIteration()) {
        }
        FinishRun();
    } catch (...) {
        // Codecs still open are closed by the run state when the engine releases it.
        ReleaseRunTables();
        throw;
    }
}

double TCustomFFmpeg::OutputTime(const TOutputStreamState& ost) const {
    const TStreamWriter& w = *ost.Writer;
    if (w.Encode)
        return w.Enc->sample_rate > 0 ? static_cast<double>(w.SamplesAccepted) / w.Enc->sample_rate : 0.0;
    if (w.LastPacketEnd == AV_NOPTS_VALUE) return 0.0;
    return static_cast<double>(w.LastPacketEnd) * ::av_q2d(w.Stream->time_base);
}

bool TCustomFFmpeg::RunLoopIteration() {
    TRunState& run = *FRun;
    const double recordingSeconds = static_cast<double>(FRecordingTime) / 1000000.0;
    // A stream cut at the recording time counts as having reached it.
    auto loopTime = [&](const TOutputStreamState& ost) {
        double t = OutputTime(ost);
        return ost.Writer->ReachedEnd ? std::max(t, recordingSeconds) : t;
    };
    auto frameLimitReached = [&](const TOutputStreamState& ost) {
        int type = ost.Writer->Enc->codec_type;
        return type >= 0 && type < static_cast<int>(FMaxFrames.size()) && FMaxFrames[type] <= ost.FrameCount;
    };

    double minOutput = 1e100, minInput = 1e100;
    int file = -1;
    if (FJoin) {
        int k = run.CurrentInput;
        file = k;
        for (int n = k * run.GroupSize; n < (k + 1) * run.GroupSize; ++n) {
            const TOutputStreamState& ost = *run.OutputStreams[n];
            minOutput = std::min(minOutput, loopTime(ost));
            if (frameLimitReached(ost)) {
                file = -1;
                break;
            }
        }
    } else {
        for (auto& ostPtr : run.OutputStreams) {
            const TOutputStreamState& ost = *ostPtr;
            const TInputStreamState& ist = *run.InputStreams[ost.SourceIndex];
            const TInputFileState& fs = run.InputFiles[ist.FileIndex];
            if (fs.NoPacket) continue;
            if (!fs.EndReached) {
                double ipts = static_cast<double>(ist.Pts);
                if (ipts < minInput) {
                    minInput = ipts;
                    if (FInputSync) file = ist.FileIndex;
                }
                double opts = loopTime(ost);
                if (opts < minOutput) {
                    minOutput = opts;
                    if (!FInputSync) file = ist.FileIndex;
                }
            }
            if (frameLimitReached(ost)) {
                file = -1;
                break;
            }
        }
    }

    if (file < 0) {
        if (FJoin || run.NoPacketCount == 0) return false;
        for (auto& fs : run.InputFiles)
            fs.NoPacket = false;
        run.NoPacketCount = 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return true;
    }
    if (recordingSeconds <= minOutput) return false;
    if (FLimitFileSize != 0 && FOutputFiles[0]->pb &&
        av::avio_seek(FOutputFiles[0]->pb, 0, SEEK_CUR) > FLimitFileSize)
        return false;

    AVPacket* packet = run.Packet.get();
    int rc = av::av_read_frame(FInputFiles[file], packet);
    if (rc == AVERROR(EAGAIN)) {
        run.InputFiles[file].NoPacket = true;
        ++run.NoPacketCount;
        return true;
    }
    if (rc < 0) { // end of file or a read error
        run.InputFiles[file].EndReached = true;
        if (!FJoin) return !FShortest;
        return JoinStep(file);
    }
    for (auto& fs : run.InputFiles)
        fs.NoPacket = false;
    run.NoPacketCount = 0;

    const TInputFileState& fs = run.InputFiles[file];
    int index = fs.FirstStream + packet->stream_index;
    if (packet->stream_index < fs.StreamCount && !run.InputStreams[index]->Discarded) {
        TInputStreamState& ist = *run.InputStreams[index];
        if (FPacketDump) av::av_pkt_dump_log2(nullptr, AV_LOG_DEBUG, packet, FHexDump, ist.Stream);
        const AVRational tb = ist.Stream->time_base;
        // The file's offset stays apart from the packet's timestamps (the packet path adds it
        // exactly); a scaled stream has it applied before the scale.
        ist.PacketShiftUs = FInputTsOffsets[file];
        double scale = ist.StreamIndex < kMaxStreams ? FInputTsScales[file][ist.StreamIndex] : 0.0;
        if (scale != 0.0) {
            int64_t shift = av::av_rescale_q(FInputTsOffsets[file], kMicroseconds, tb);
            if (packet->pts != AV_NOPTS_VALUE) packet->pts = std::llrint((packet->pts + shift) * scale);
            if (packet->dts != AV_NOPTS_VALUE) packet->dts = std::llrint((packet->dts + shift) * scale);
            ist.PacketShiftUs = 0;
        }
        // Timestamp discontinuities of formats that allow them move the file's offset.
        if (packet->dts != AV_NOPTS_VALUE && ist.NextPts != AV_NOPTS_VALUE &&
            (FInputFiles[file]->iformat->flags & AVFMT_TS_DISCONT) && !FCopyTs) {
            int64_t dts = av::av_rescale_q(packet->dts, tb, kMicroseconds) + ist.PacketShiftUs;
            int64_t delta = dts - ist.NextPts;
            if (std::llabs(delta) > static_cast<int64_t>(FDtsDeltaThreshold * 1000000.0f) ||
                dts + 1 < ist.Pts) {
                FInputTsOffsets[file] -= delta;
                if (FVerbose > 2)
                    FFLogger().Log(this, llVerbose,
                                   Format(kMsgTimestampDiscontinuity, static_cast<long long>(delta),
                                          static_cast<long long>(FInputTsOffsets[file])));
                if (scale != 0.0) {
                    int64_t step = av::av_rescale_q(delta, kMicroseconds, tb);
                    packet->dts -= step;
                    if (packet->pts != AV_NOPTS_VALUE) packet->pts -= step;
                } else {
                    ist.PacketShiftUs -= delta;
                }
            }
        }
        if (ProcessPacket(index, packet, true) < 0) {
            std::string text = Format(kMsgDecodeError, ist.FileIndex, ist.StreamIndex,
                                      MediaTypeName(ist.Stream->codecpar->codec_type).c_str());
            if (FExitOnError) throw FFmpegException(text);
            if (FVerbose >= 0) FFLogger().Log(this, llVerbose, text);
            av::av_packet_unref(packet);
            return true; // no report after a packet that could not be decoded
        }
    }
    av::av_packet_unref(packet);
    int64_t now = av::av_gettime();
    if (now - run.LastReportTime > FReportInterval) {
        run.LastReportTime = now;
        ReportProgress(false);
    }
    return true;
}

bool TCustomFFmpeg::JoinStep(int k) {
    TRunState& run = *FRun;
    const int groupSize = run.GroupSize;
    const bool last = k >= FInputFileCount - 1;
    // Drain this input's decoders. The encoder stays open and unflushed across the inputs, so
    // the boundary gets no inserted silence and loses no sample; it is flushed after the last.
    const TInputFileState& fs = run.InputFiles[k];
    for (int i = fs.FirstStream; i < fs.FirstStream + fs.StreamCount; ++i) {
        TInputStreamState& ist = *run.InputStreams[i];
        if (!ist.Decode) continue;
        ProcessPacket(i, nullptr, last);
        av::avcodec_flush_buffers(ist.Dec);
        ist.Flushed = true;
    }
    const int total = static_cast<int>(run.OutputStreams.size());
    for (int n = (k + 1) * groupSize; n < total; ++n) {
        run.OutputStreams[n]->SyncPosition = run.OutputStreams[n - groupSize]->SyncPosition;
        run.OutputStreams[n]->FrameCount = run.OutputStreams[n - groupSize]->FrameCount;
    }
    double maximum = 0.0;
    for (int n = k * groupSize; n < (k + 1) * groupSize && n + groupSize < total; ++n)
        maximum = std::max(maximum, OutputTime(*run.OutputStreams[n]));
    if (last) return false;
    FInputTsOffsets[k + 1] += std::llrint(maximum * 1000000.0);
    run.CurrentInput = k + 1;
    return true;
}

void TCustomFFmpeg::FinishRun() {
    TRunState& run = *FRun;
    for (size_t i = 0; i < run.InputStreams.size(); ++i) {
        TInputStreamState& ist = *run.InputStreams[i];
        if (ist.Decode && !ist.Flushed) ProcessPacket(static_cast<int>(i), nullptr, true);
    }
    // Encoders whose input never ended (a stop, a limit) are flushed as well.
    for (auto& ost : run.OutputStreams)
        if (ost->Encode) FlushEncoder(*ost->Writer, *ost);
    for (auto& w : run.Writers)
        if (!w->Encode) MuxPacket(*w, nullptr);
    for (int i = 0; i < FOutputFileCount; ++i) {
        if (FJoin && i > 0) break;
        // A trailer that cannot be written (a full disk) is a failed run, not a finished one.
        int rc = av::av_write_trailer(FOutputFiles[i]);
        if (rc < 0) {
            char reason[AV_ERROR_MAX_STRING_SIZE] = {0};
            av::av_strerror(rc, reason, sizeof reason);
            FFLogger().Log(this, llError, std::string(kMsgWriteTrailer) + ": " + reason);
            throw FFmpegException(std::string(kMsgWriteTrailer) + ": " + reason);
        }
    }
    ReportProgress(true);
    CloseRunCodecs();
    FFinished = !FStopRequested;
    ReleaseRunTables();
}
