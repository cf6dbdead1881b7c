// Owners for the media-library objects that pass through headers which must not see the
// libraries' own headers (the engine's public header): the types are only forward-declared and
// every deleter is defined out of line (FFPtr.cpp). FFPtr.h adds the owners used inside .cpp files.
#pragma once

#include <memory>

struct AVCodecContext;
struct AVFormatContext;

struct TCodecContextDeleter {
    void operator()(AVCodecContext* p) const;
};
using TCodecContextPtr = std::unique_ptr<AVCodecContext, TCodecContextDeleter>;

// A codec context that may have been opened: freed under CodecLock(), because closing a codec
// must not race another thread opening or closing one.
struct TLockedCodecContextDeleter {
    void operator()(AVCodecContext* p) const;
};
using TLockedCodecContextPtr = std::unique_ptr<AVCodecContext, TLockedCodecContextDeleter>;

// A format context opened for reading with OpenMediaInput; closed with CloseMediaInput.
struct TInputContextDeleter {
    void operator()(AVFormatContext* p) const;
};
using TInputContextPtr = std::unique_ptr<AVFormatContext, TInputContextDeleter>;

// An output format context: its I/O closed with CloseMediaOutput, then the context freed.
struct TOutputContextDeleter {
    void operator()(AVFormatContext* p) const;
};
using TOutputContextPtr = std::unique_ptr<AVFormatContext, TOutputContextDeleter>;
