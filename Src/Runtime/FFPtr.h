// Owners for media-library objects: unique_ptr with deleters that free through the loader's
// entry points. Use these instead of manual frees.
#pragma once

#include "FFOwners.h"
#include "MediaApi.h"

#include <memory>

struct TFrameDeleter {
    void operator()(AVFrame* p) const { av::av_frame_free(&p); }
};
struct TPacketDeleter {
    void operator()(AVPacket* p) const { av::av_packet_free(&p); }
};
struct TSwrDeleter {
    void operator()(SwrContext* p) const { av::swr_free(&p); }
};
struct TAudioFifoDeleter {
    void operator()(AVAudioFifo* p) const { av::av_audio_fifo_free(p); }
};
struct TDictionaryDeleter {
    void operator()(AVDictionary* p) const { av::av_dict_free(&p); }
};
struct TBsfDeleter {
    void operator()(AVBSFContext* p) const { av::av_bsf_free(&p); }
};
struct TAvMemDeleter {
    void operator()(void* p) const { av::av_free(p); }
};

using TFramePtr = std::unique_ptr<AVFrame, TFrameDeleter>;
using TPacketPtr = std::unique_ptr<AVPacket, TPacketDeleter>;
using TSwrPtr = std::unique_ptr<SwrContext, TSwrDeleter>;
using TAudioFifoPtr = std::unique_ptr<AVAudioFifo, TAudioFifoDeleter>;
using TBsfPtr = std::unique_ptr<AVBSFContext, TBsfDeleter>;

