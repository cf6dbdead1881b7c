// Small stateless routines shared by the engine, the player and the probe: the text of a failed
// open, the "default" options that are applied to the media libraries' option contexts, and
// descriptive names of codecs, media types and metadata values.
#pragma once

#include <string>

struct AVCodecContext;
struct AVCodecParameters;
struct AVDictionary;
struct AVFormatContext;
struct AVInputFormat;
struct SwsContext;

// ---- Open-failure texts -----------------------------------------------------------------------

// Codes of the open-failure table (negated POSIX numbers on Linux; -42 is the program's own).
constexpr int kErrUnknownFormat = -42;
constexpr int kErrImageFileName = -33; // EDOM: an image-sequence name without a number pattern
constexpr int kErrParseHeader = -22;   // EINVAL
constexpr int kErrNoMemory = -12;
constexpr int kErrIO = -5;
constexpr int kErrNoSuchFile = -2;

// The media library's error code as one of the table's: AVERROR(EILSEQ) becomes -42 and
// AVERROR_INVALIDDATA -22; every other code is returned unchanged.
int OpenErrorCode(int errorCode);

// The text of a failed open: the template chosen by the error code (after OpenErrorCode)
// expanded with the file name, e.g. "song.mp3: no such file or directory", "name: Error while
// opening file" for codes outside the table. `fileName` is shown as given (callers pass the
// user's name, or the name of a failing library call). Never fails.
std::string FormatOpenError(const std::string& fileName, int errorCode);

// For a failed open of an input file: when the library reported invalid data, no input format
// was forced and no demuxer recognises the file's first bytes or its extension, the format could
// not be determined and the result is -42 ("Unknown format"); otherwise `errorCode` unchanged.
// Reads the start of the file (a plain name, not a "unicode:" URL).
int InputOpenErrorCode(const std::string& fileName, int errorCode, const AVInputFormat* forcedFormat);

// ---- Option contexts --------------------------------------------------------------------------

constexpr int kOptionMediaTypes = 5; // video, audio, data, subtitle, attachment

// Holders for options outside the engine's own table. The contexts are never used to decode or
// encode; they only hold values that CopyOptionsToContext later copies into the real contexts.
// Owned by one engine and used only by the thread that runs that engine's setup.
struct TOptionContexts {
    // Names of the accepted options in order, one entry per acceptance (an option accepted twice
    // is recorded twice). The names belong to the library's option tables; the array is av_malloc'd.
    const char** OptionNames = nullptr;
    int OptionNameCount = 0;
    AVCodecContext* CodecOptions[kOptionMediaTypes] = {}; // indexed by media type 0..4
    AVFormatContext* FormatOptions = nullptr;
    SwsContext* ScaleOptions = nullptr;
};

// Sets every field empty (null / 0) without freeing anything.
void InitOptionContexts(TOptionContexts* block);
// Allocates the five codec contexts (codec type = media type), the format context and the
// scaling context (holding `swsFlags` as its "sws_flags"). Fields already set are freed first.
void AllocOptionContexts(TOptionContexts* block, int swsFlags);
// Frees whatever is allocated and empties the block; safe on an initialised or freed block.
void FreeOptionContexts(TOptionContexts* block);

// Applies one named option to the contexts that know it: first the codec contexts of every
// media type whose options include it, else the format context, else the scaling context, else,
// for a name beginning with "a", "v" or "s", the audio, video or subtitle codec context under the
// name less that letter ("ab" sets the audio codec's "b"). Returns true and records the option's
// own name when it was set; false for an empty (or blank) name or value, an unknown name, or an
// invalid value (then also logs "Invalid value "<value>" for option "<name>"" at error level).
// The library copies string values: `value` need not outlive the call.
bool SetOptionDefault(TOptionContexts* block, const std::string& name, const std::string& value);

// For each recorded name in order: reads the option's value from `source` as text and, when the
// option's flags contain all of `flags` (AV_OPT_FLAG_* bits, e.g. decoding + audio), sets it in
// `destination`. Both are objects with an AVClass (codec or format contexts).
void CopyOptionsToContext(const TOptionContexts* block, void* destination, void* source, int flags);

// ---- Descriptions -----------------------------------------------------------------------------

// The value of `key` in `metadata` (case-insensitive match), or `defaultValue`.
std::string GetMetadataValue(const AVDictionary* metadata, const std::string& key,
                             const std::string& defaultValue);

// The name of a context's codec: "short(long name)" of its encoder or decoder (e.g.
// "mp3float(MP3 (MPEG audio layer 3))"), "mpeg2ts" for the transport-stream pseudo codec, the
// codec id's registered name when no coder exists, else the codec tag: "abcd / 0x64636261" when
// its four bytes (lowest first) are printable, otherwise "0x%04x".
std::string CodecDescription(const AVCodecContext* context, bool encoder);
// The same for a stream's parameters.
std::string CodecDescription(const AVCodecParameters* parameters, bool encoder);

// "Video", "Audio", "Data", "Subtitle", "Attachment" for 0..4, "Unknown" otherwise.
std::string MediaTypeName(int mediaType);
