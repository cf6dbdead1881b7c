// The media probe: describes a media file's streams (counts per kind, first stream of each kind)
// and the details of an audio stream. It either opens a file itself (LoadFile) or describes a
// format context that someone else opened (AttachContext) without owning it.
//
// A probe is used by one thread at a time (the window's on the main thread, a task's by that
// task's setup, the player's by its main thread to attach and its play thread to detach).
#pragma once

#include <cstdint>
#include <string>

struct AVFormatContext;

// Details of one audio stream. When a call fails, both texts are empty and every number is -1.
struct TAudioStreamInfo {
    std::string Language;     // the stream's "language" metadata, empty when absent
    std::string Codec;        // CodecDescription of the stream's decoder
    int64_t StartTime = -1;   // in the stream's time base, as the library gives it (AV_NOPTS_VALUE included)
    int64_t StartTimeUS = -1; // µs; -1 when the stream has no start time
    int64_t Duration = -1;    // in the stream's time base, as the library gives it
    int64_t DurationUS = -1;  // µs; -1 when the stream has no duration
    int32_t BitRate = -1;     // bits per second (0 when the container does not say)
    int32_t Channels = -1;
    int32_t SampleRate = -1;
    int32_t SampleFormat = -1; // the library's AVSampleFormat number
};

class TCustomAVProbe {
public:
    TCustomAVProbe();
    virtual ~TCustomAVProbe();
    TCustomAVProbe(const TCustomAVProbe&) = delete;
    TCustomAVProbe& operator=(const TCustomAVProbe&) = delete;

    // Describes `context` (null: nothing) without owning it, after closing what was described.
    // Raises like CheckLibraries.
    virtual void AttachContext(AVFormatContext* context);
    // Closes an owned file, forgets an attached one; the probe is empty afterwards.
    virtual void Close();

    // Opens and describes `fileName`; a non-empty `formatName` forces that input format. False
    // with LastErrMsg on failure (the probe is then empty). Raises like CheckLibraries.
    bool LoadFile(const std::string& fileName, const std::string& formatName = std::string());

    // The first audio stream (the form without an index, or any negative index) or stream
    // `streamIndex`. False with LastErrMsg (and a log line) when there is no such audio stream.
    bool GetAudioStreamInfo(TAudioStreamInfo& info);
    bool GetAudioStreamInfo(int streamIndex, TAudioStreamInfo& info);

    // Raises std::runtime_error "LibAVCodec not loaded." (then LibAVFormat, LibAVUtil,
    // LibSwScale) for the first of those libraries that is not loaded.
    void CheckLibraries() const;

    AVFormatContext* FormatContext() const { return FFormatContext; }
    bool OwnsContext() const { return FOwnsContext; }
    const std::string& FormatName() const { return FFormatName; }

    std::string LastErrMsg; // the last failure; a success does not clear it

    // -1 when nothing is described; the type counts are 0 for a described file without such
    // streams; the first indexes are -1 when there is none. Data and attachment streams count
    // only in StreamCount.
    int32_t StreamCount = -1;
    int32_t ProgramCount = -1;
    int32_t AudioStreamCount = -1;
    int32_t VideoStreamCount = -1;
    int32_t SubtitleStreamCount = -1;
    int32_t FirstAudioStream = -1;
    int32_t FirstVideoStream = -1;
    int32_t FirstSubtitleStream = -1;

protected:
    void Recount();

    AVFormatContext* FFormatContext = nullptr;
    bool FOwnsContext = false; // LoadFile opened FFormatContext, so Close closes it
    std::string FFormatName;   // the format name given to the last successful LoadFile
};

// The probe of the components. (Extracting video frames is not part of this program, so it adds
// nothing to the base yet.)
class TAVProbe : public TCustomAVProbe {
public:
    TAVProbe() = default;
};
