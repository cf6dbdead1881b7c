// Records that describe one conversion task to the component: one TInputOptions per input file
// and one TOutputOptions (with its TStreamInfo metadata) for the output. A number at -1 and an
// empty text mean "not set": the engine then keeps its own default.
#pragma once

#include <cstdint>
#include <string>

// A colour as the window toolkit stores it: 0x00BBGGRR, or a system colour code
// (0x80000000 | index) that is resolved to plain RGB before use.
using TColor = int32_t;

// One input file of a task.
struct TInputOptions {
    std::string FileName;    // UTF-8; filled with the file name argument when empty
    std::string ForceFormat; // container format to force for this input
    int32_t StartTimeMs = -1;
    int64_t StartTime = -1; // µs; wins over StartTimeMs
    int32_t ProgramId = -1;
    std::string ExtOptions; // further engine options, one "name=value" per line
    int32_t Spare1 = 0;
    int32_t Spare2 = 0;
    bool operator==(const TInputOptions&) const = default;
};

// Metadata written into the output.
struct TStreamInfo {
    double Timestamp = -1.0; // local date-time in days since 30 December 1899; 0 = now, < 0 = none
    int32_t Year = -1;
    int32_t Track = -1;
    std::string Title;
    std::string Author;
    std::string Copyright;
    std::string Comment;
    std::string Album;
    std::string Genre;
    bool operator==(const TStreamInfo&) const = default;
};

// The output file of a task.
struct TOutputOptions {
    std::string FileName; // UTF-8; filled with the file name argument when empty
    std::string FileExt;  // kept for the caller; read by nobody here
    std::string ForceFormat;
    int32_t PacketSize = -1;
    int32_t MuxRate = -1;
    float MuxDelay = -1.0f;   // s
    float MuxPreload = -1.0f; // s
    std::string AudioCodec;   // encoder name or "copy"
    std::string AudioPreset;
    bool DisableAudio = false;
    int32_t AudioVolume = -1; // 256 = unchanged
    int32_t AudioChannels = -1;
    int32_t AudioSampleRate = -1; // Hz
    int32_t AudioBitrate = -1;    // bit/s
    int32_t AudioBitrateTolerance = -1;
    std::string AudioLanguage;
    int32_t AudioSyncMethod = 0;
    std::string AudioTag; // four characters
    std::string VideoCodec;
    std::string VideoPreset;
    bool DisableVideo = false;
    std::string FrameRate;
    std::string FrameSize;
    std::string FrameAspectRatio;
    int32_t CropTop = -1;
    int32_t CropBottom = -1;
    int32_t CropLeft = -1;
    int32_t CropRight = -1;
    int32_t PadTop = -1;
    int32_t PadBottom = -1;
    int32_t PadLeft = -1;
    int32_t PadRight = -1;
    TColor PadColor = 0; // black
    int32_t GroupOfPictures = -1;
    int32_t VideoBitrate = -1;
    int32_t VideoMaxRate = -1;
    int32_t VideoMinRate = -1;
    int32_t VideoBitrateTolerance = -1;
    int32_t VideoBufSize = -1;
    int32_t VideoSyncMethod = -1;
    std::string VideoTag;
    std::string VideoFilters;
    std::string SubtitleCodec;
    std::string SubtitlePreset;
    bool DisableSubtitle = false;
    std::string SubtitleLanguage;
    bool CopyTimestamps = false;
    int32_t StartTimeMs = -1;
    int64_t StartTime = -1; // µs; wins over StartTimeMs
    int32_t DurationMs = -1;
    int64_t Duration = -1; // µs; wins over DurationMs
    TStreamInfo Info;
    int32_t TargetType = 0;        // 0 none, 1 "vcd", 2 "svcd", 3 "dvd"
    int32_t TargetNorm = 0;        // 0 "auto", 1 "pal", 2 "ntsc"; other values count as "auto"
    int32_t TargetDefaultNorm = 1; // 1 "pal", anything else "ntsc"
    bool UseCustomHook = false;
    bool UseBeforeHook = false;
    std::string HookRanges; // "start-end,start-end" in ms
    bool Join = false;      // all inputs of the task one after the other into this output
    std::string TagsFrom;   // the file whose tags and cover pictures the output gets; empty: none
    std::string ExtOptions; // further engine options, one "name=value" per line
    int32_t Spare1 = 0;
    int32_t Spare2 = 0;
    bool operator==(const TOutputOptions&) const = default;
};

void ResetInputOptions(TInputOptions& options);
void ResetOutputOptions(TOutputOptions& options);
