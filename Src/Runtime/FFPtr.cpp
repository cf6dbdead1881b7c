#include "FFPtr.h"

#include "MyUtils.h"
#include "UnicodeProtocol.h"

#include <mutex>

void TCodecContextDeleter::operator()(AVCodecContext* p) const {
    av::avcodec_free_context(&p);
}

void TLockedCodecContextDeleter::operator()(AVCodecContext* p) const {
    if (!p) return;
    std::lock_guard<std::mutex> guard(CodecLock());
    av::avcodec_free_context(&p);
}

void TInputContextDeleter::operator()(AVFormatContext* p) const {
    CloseMediaInput(&p);
}

void TOutputContextDeleter::operator()(AVFormatContext* p) const {
    CloseMediaOutput(p);
    av::avformat_free_context(p);
}
