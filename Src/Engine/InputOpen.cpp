#include "FFmpeg.h"

bool TCustomFFmpeg::OpenInputFile(const std::string& fileName)
{
    FLastError = fileName + ": input opening is not available yet";
    return false;
}

bool TCustomFFmpeg::FindCodecId(const std::string& name, int mediaType, bool encoder, int& id)
{
    id = 0;
    return name.empty();
}
