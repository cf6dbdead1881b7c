// The media libraries' declarations and the process-wide entry-point variables through which
// every call into them goes. Nothing of FFmpeg, SDL or myutil is linked: the loader fills these
// variables by name when it loads a library (see FFmpegLoader.h). Call them as av::name(...),
// sdl::name(...) and myutil::name(...). Header inline helpers that call into a library
// (av_err2str, avio_tell, ...) would need a linked symbol and are not usable.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavdevice/avdevice.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
#include <libavformat/avio.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/avstring.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/eval.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/mathematics.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
#include <libavutil/parseutils.h>
#include <libavutil/pixdesc.h>
#include <libavutil/samplefmt.h>
#include <libavutil/time.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>

#include <SDL2/SDL.h>

#include <stdarg.h>
#include <stdio.h>

// The myutil library (built from myutil/ into Dll/).
FILE* my_fopen(const char* path, const char* mode);
int my_fclose(FILE* stream);
size_t my_fread(void* ptr, size_t size, size_t count, FILE* stream);
size_t my_fwrite(const void* ptr, size_t size, size_t count, FILE* stream);
int my_fseek(FILE* stream, long offset, int whence);
long my_ftell(FILE* stream);
int my_fprintf(FILE* stream, const char* format, ...);
int my_snprintf(char* buffer, size_t size, const char* format, ...);
int my_vsprintf(char* buffer, const char* format, va_list args);
double my_strtod(const char* text, char** end);
long my_strtol(const char* text, char** end, int base);
char* my_strtok(char* text, const char* delimiters);
}

#define ENTRY_POINT(name) inline decltype(&::name) name = nullptr;
namespace av {
#include "EntryPoints/AVCodec.inc"
#include "EntryPoints/AVDevice.inc"
#include "EntryPoints/AVFilter.inc"
#include "EntryPoints/AVFormat.inc"
#include "EntryPoints/AVUtil.inc"
#include "EntryPoints/SWResample.inc"
#include "EntryPoints/SWScale.inc"
} // namespace av
namespace myutil {
#include "EntryPoints/MyUtil.inc"
} // namespace myutil
namespace sdl {
#include "EntryPoints/SDL.inc"
} // namespace sdl
#undef ENTRY_POINT
