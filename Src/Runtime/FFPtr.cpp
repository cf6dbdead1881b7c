#include "FFPtr.h"

#include "UnicodeProtocol.h"

void TInputContextDeleter::operator()(AVFormatContext* p) const {
    CloseMediaInput(&p);
}

void TOutputContextDeleter::operator()(AVFormatContext* p) const {
    CloseMediaOutput(p);
    av::avformat_free_context(p);
}
