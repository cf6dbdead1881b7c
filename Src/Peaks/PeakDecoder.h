// Private to Peaks: one decoder over a file's first audio stream that hands out its samples
// placed on the file's frame timeline (frame 0 = the stream's first sample). Used by each build
// thread and by the sample reader; each user owns its own instance.
#pragma once

#include "FFPtr.h"

#include <atomic>
#include <functional>
#include <string>
#include <vector>

struct TAudioFacts {
    int Channels = 0;
    int SampleRate = 0;
    int64_t DurationFrames = -1; // the container's estimate; -1 unknown
    bool Seekable = false;       // seeking by timestamp works well enough to split a build
};

enum class TDecodeEnd {
    Reached,     // the requested end frame: decoding can go on from there
    Ended,       // the end of the file
    ReadFailed,  // the file could not be read on (truncated, I/O error): the rest stays a gap
    Unplaceable, // after a seek no frame carried a timestamp
    Stopped,     // the abort flag was raised
};

class TPeakDecoder {
public:
    // Frames [offset, offset + count) of `frame` are frames first.. of the timeline.
    using TSink = std::function<void(int64_t first, const AVFrame& frame, int offset, int count)>;

    // `abort` stops decoding within one packet and cuts blocking reads short.
    explicit TPeakDecoder(const std::atomic<bool>& abort);
    ~TPeakDecoder();
    TPeakDecoder(const TPeakDecoder&) = delete;
    TPeakDecoder& operator=(const TPeakDecoder&) = delete;

    // Opens the file and the decoder of its first audio stream; false with the open error's text.
    bool Open(const std::string& fileName, std::string& error);
    const TAudioFacts& Facts() const { return FFacts; }

    // Seeks far enough ahead of `frame` that the decoder has settled when it gets there.
    bool SeekBefore(int64_t frame);
    // Decodes and hands every frame from `start` up to `end` (-1: to the end) to the sink. After
    // Reached, a further Run continues exactly where this one stopped.
    TDecodeEnd Run(int64_t start, int64_t end, const TSink& sink);
    // Packets the decoder refused; their audio is a gap on the timeline.
    int DecodeErrors() const { return FDecodeErrors; }

private:
    static int InterruptCallback(void* opaque);
    void TryRawPcm(const std::string& fileName);
    TDecodeEnd RunRaw(int64_t start, int64_t end, const TSink& sink);
    bool PlaceFrame();
    bool DeliverFrame(int64_t start, int64_t end, const TSink& sink);
    int ReadAndSend();

    const std::atomic<bool>& FAbort;
    TInputContextPtr FFormat;
    TCodecContextPtr FCodec;
    TPacketPtr FPacket;
    TFramePtr FFrame;
    AVStream* FStream = nullptr;
    TAudioFacts FFacts;
    int64_t FOriginTs = 0;  // the stream's start time, in its time base
    int64_t FNextFrame = 0; // timeline frame of the next decoded sample
    bool FPlaced = false;   // FNextFrame is known (false right after a seek)
    int FLastFrameSamples = 0;
    bool FHaveFrame = false;  // FFrame holds samples not handed out yet
    int64_t FFramePos = 0;    // timeline frame of FFrame's first sample
    int FFrameOffset = 0;     // samples of FFrame handed out
    bool FInputEnded = false; // the decoder has been sent its flush
    bool FReadFailed = false;
    int FReadRetries = 0; // read errors in a row
    int FDecodeErrors = 0;

    // PCM in a WAV file is read straight from the file: its frames lie one after the other from
    // FRawDataStart on, and neither the demuxer nor the decoder would change a byte of them.
    int FRawFd = -1;
    int FRawFormat = -1; // the sample format of the bytes
    int FRawBlockAlign = 0;
    int64_t FRawDataStart = 0;
    int64_t FRawNext = 0; // the next frame to read
    std::vector<uint8_t> FRawBuffer;
};

// Sample `index` of channel `channel` of a decoded frame, as -1..1 (any sample format).
float FrameSample(const AVFrame& frame, int index, int channel);
