#include "FFmpeg.h"
#include "RunState.h"

void TCustomFFmpeg::RunConversion() {}
