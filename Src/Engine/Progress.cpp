// The progress report: output size, output time reached and bit rate (frame count, rate and
// quality with video), handed to the progress callback or logged as a text line; at the end a
// summary of the bytes produced per kind. Conversion thread.
#include "FFmpeg.h"
#include "FFmpegLogger.h"
#include "RunState.h"

#include <cstdarg>
#include <cstring>

namespace {

constexpr size_t kReportSize = 1024;

// Appends to a bounded text buffer; each piece gets at most the space left.
void Append(char (&buffer)[kReportSize], const char* format, ...) {
    size_t used = std::strlen(buffer);
    if (used + 1 >= kReportSize) return;
    va_list args;
    va_start(args, format);
    std::string piece = FormatV(format, args);
    va_end(args);
    myutil::my_snprintf(buffer + used, kReportSize - used, "%s", piece.c_str());
}

} // namespace

void TRunState::ReportProgress(bool isLast) {
    if (Engine.FOutputFileCount <= 0) return;
    int32_t frameNumber = -1, fps = -1;
    float quality = -1.0f;

    AVIOContext* pb = Engine.FOutputFiles[0]->pb;
    int64_t totalSize = pb ? av::avio_size(pb) : -1;
    if (totalSize < 0 && pb) totalSize = av::avio_seek(pb, 0, SEEK_CUR);
    if (totalSize < 0) totalSize = 0;

    char text[kReportSize] = {0};
    double ti1 = 1e10;
    bool videoSeen = false;
    for (const auto& ost : OutputStreams) {
        const TStreamWriter& w = *ost->Writer;
        if (w.Enc->codec_type == AVMEDIA_TYPE_VIDEO) {
            // Video is only copied here: no encoder quality to show.
            if (videoSeen) {
                Append(text, "q=%2.1f ", -1.0);
            } else {
                videoSeen = true;
                if (ost->FrameCount < 1) return; // no report before the first picture
                float elapsed = static_cast<float>(av::av_gettime() - Engine.FTimerStart) / 1000000.0f;
                frameNumber = ost->FrameCount;
                fps = elapsed > 1 ? static_cast<int32_t>(frameNumber / elapsed + 0.5f) : 0;
                Append(text, "frame=%5d fps=%3d q=%3.1f ", frameNumber, fps, static_cast<double>(quality));
                if (isLast) Append(text, "L");
            }
        }
        double t = OutputTime(*ost);
        if (t < ti1 && t > 0) ti1 = t;
    }
    // Nothing produced yet: time and bit rate are reported as 0.
    const bool produced = ti1 < 1e10;
    if (ti1 < 0.01) ti1 = 0.01;

    if (Engine.FProgressCallback || Engine.FVerbose > 0 || isLast) {
        double seconds = produced ? ti1 : 0.0;
        double bitRate = produced ? static_cast<double>(totalSize) * 8 / ti1 / 1000 : 0.0;
        Append(text, kMsgProgressLine, static_cast<double>(totalSize) / 1024, seconds, bitRate);
        if (Engine.FVerbose > 1)
            Append(text, kMsgProgressDupDrop, Engine.FFramesDuplicated, Engine.FFramesDropped);
        if (Engine.FProgressCallback)
            Engine.FProgressCallback(&Engine, frameNumber, fps, static_cast<int32_t>(seconds * 1000), quality,
                                     static_cast<float>(bitRate), totalSize, Engine.FTotalDuration);
        else if (Engine.FVerbose >= 0)
            FFLogger().Log(&Engine, llVerbose, text);
    }

    if (isLast && Engine.FVerbose >= 0) {
        double sum = static_cast<double>(Engine.FVideoSize + Engine.FAudioSize + Engine.FExtraSize);
        double overhead = sum > 0 ? (static_cast<double>(totalSize) - sum) * 100.0 / sum : 0.0;
        FFLogger().Log(&Engine, llVerbose,
                       Format(kMsgSummary, static_cast<double>(Engine.FVideoSize) / 1024,
                              static_cast<double>(Engine.FAudioSize) / 1024,
                              static_cast<double>(Engine.FExtraSize) / 1024, overhead));
    }
}
