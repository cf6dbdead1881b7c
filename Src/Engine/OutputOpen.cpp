#include "FFmpeg.h"

int TCustomFFmpeg::OpenOutputFile(const std::string& fileName, bool join)
{
    FLastError = fileName + ": output creation is not available yet";
    return -1;
}

void TCustomFFmpeg::NewAudioStream(AVFormatContext*) { throw FFmpegException("not available yet"); }
void TCustomFFmpeg::NewVideoStream(AVFormatContext*) { throw FFmpegException("not available yet"); }
void TCustomFFmpeg::NewSubtitleStream(AVFormatContext*) { throw FFmpegException("not available yet"); }
