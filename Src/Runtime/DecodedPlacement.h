// Where a decoded audio frame begins on its stream's timeline, for the engine, the player and
// the overview alike. Most decoders hand out a frame under the stamp of its first sample. The WMA
// decoder does not: it gives a frame's audio the stamp of the packet two frames on (its first
// frame only primes the transform), and the container rounds stamps to whole milliseconds.
// Where the decoded audio ends: the libraries' Ogg demuxer (FFmpeg 5.1) gives an Opus stream's
// duration, and the file's, as its last granule position, which counts the pre-skip that
// decoders drop (a 5 s file claims 5.0065 s; a lossless cut with a long preroll up to 1.4 s more)
// and, for a stream whose granule positions begin later than 0, its start time too.
#pragma once

#include <cstdint>

struct AVFormatContext;
struct AVFrame;
struct AVStream;

// The length of one frame of a WMA (version 1 or 2) stream at `rate`: the codec's fixed block
// length, of which a packet holds one or more. 0 for every other codec.
int WmaFrameLength(const AVStream& stream, int rate);

// The stream's start in its time base: its start_time, or 0 when it has none.
int64_t StreamOrigin(const AVStream& stream);

// Samples from the stream's start (StreamOrigin) to the first sample of `frame`, whose
// stamp is `pts` in the stream's time base, for decoders whose stamps lie later than their audio;
// false for every other decoder (then the stamp holds as it is).
bool DecodedFrameStart(const AVStream& stream, const AVFrame& frame, int64_t pts, int64_t& samples);

// The stream's duration in its time base as long as the decoded audio lasts, and the file's in
// µs (its first audio stream's pre-skip taken off); AV_NOPTS_VALUE when the library has none.
int64_t DecodedStreamDuration(const AVFormatContext& context, const AVStream& stream);
int64_t DecodedContainerDuration(const AVFormatContext& context);
