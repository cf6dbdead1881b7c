#include "CodecSupport.h"

#include "FFPtr.h"

std::string ErrorText(int code) {
    char text[128] = {};
    av::av_strerror(code, text, sizeof text);
    return text;
}
