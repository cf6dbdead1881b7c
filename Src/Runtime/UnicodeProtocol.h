// The "unicode" file protocol: file names that the media libraries would misread (invalid UTF-8,
// or a ":" that would look like a protocol) are handed over as "unicode:utf8:<name>" URLs and
// opened through the program's own file callbacks. Every place that opens a media file by name
// goes through OpenMediaInput / OpenMediaOutput below, with the name from LocalMediaName: every
// name a user gives is a local file, never a network address or a pipe.
#pragma once

#include <cstdint>
#include <string>

struct AVFormatContext;
struct AVInputFormat;
struct AVDictionary;

extern const char* const kUnicodeUrlPrefix; // "unicode:utf8:"

// The text to hand to the media libraries for a file name. Names that start with a protocol the
// libraries serve ("http:", "pipe:", ...) are passed on as they are.
std::string MediaFileName(const std::string& name);
// The text to hand to OpenMediaInput / OpenMediaOutput for a local file name: the name itself
// when the libraries' file access reads it as that file, else its "unicode:utf8:" URL. Never a
// protocol of the libraries, whatever the name starts with.
std::string LocalMediaName(const std::string& name);
bool NeedsUnicodeName(const std::string& name);
std::string EncodeUnicodeUrl(const std::string& name);
std::string DecodeUnicodeUrl(const std::string& url);
bool IsUnicodeUrl(const std::string& name);
// The file name behind a name handed to the libraries (a unicode URL decoded, else unchanged).
std::string DisplayFileName(const std::string& name);
bool IsValidUtf8(const std::string& text);

// Registers the protocol in the program's protocol table; registering again adds nothing.
void RegisterUnicodeProtocol();
bool UnicodeProtocolRegistered();

// The protocol's callbacks. The handle is a POSIX file descriptor; flags are the libraries'
// AVIO_FLAG_* values (read-write tested first).
int UnicodeOpen(int* handle, const std::string& url, int flags);
int UnicodeRead(int handle, uint8_t* buffer, int size);
int UnicodeWrite(int handle, const uint8_t* buffer, int size);
int64_t UnicodeSeek(int handle, int64_t position, int whence);
int UnicodeClose(int handle);

// Opens a media file for reading, like avformat_open_input: *ctx may be null or a context
// allocated by the caller; on failure *ctx is freed and null. `name` is a name as returned by
// LocalMediaName (a unicode URL is decoded; anything else is a local name as it stands). Returns
// 0 or a negative AVERROR code.
//
// Inputs are always read through the program's own file access: only regular files open (a FIFO
// or a device would block or never end: kErrNotRegularFile), the file opens nothing else (no
// playlist entries, no references), and each read asks the context's interrupt callback (set
// before the call) and the process-wide check of SetMediaInterruptCheck, ending with AVERROR_EXIT
// when either says stop. The open reads at most kMediaProbeBound bytes (kErrReadBound beyond).
// With `anyFile`, other files than regular ones open too (the player plays what the intake let
// through, a pipe included, and has its own way out of a blocked read).
int OpenMediaInput(AVFormatContext** ctx, const std::string& name, const AVInputFormat* format,
                   AVDictionary** options, bool anyFile = false);
// avformat_find_stream_info under the same read bound as the open. Returns its result, or
// kErrReadBound.
int FindMediaStreamInfo(AVFormatContext* ctx);

// What OpenMediaInput returns for a name that is not a regular file, and for an open or stream
// search that read more than kMediaProbeBound bytes.
inline constexpr int kErrNotRegularFile = -1000001;
inline constexpr int kErrReadBound = -1000002;
inline constexpr int64_t kMediaProbeBound = 64 << 20;
// The message for a failed OpenMediaInput or FindMediaStreamInfo of `fileName`: the open-failure
// table's text where it has one, else the system's reason ("Is a directory", "Too many levels of
// symbolic links", ...).
std::string MediaOpenErrorText(const std::string& fileName, int errorCode, const AVInputFormat* format);

// The process-wide stop request for media reads (a command-line tool's Ctrl+C): `interrupted` is
// asked before every read of an input opened by OpenMediaInput. Null: none. Async-signal-safe to
// ask; set it before inputs open.
void SetMediaInterruptCheck(bool (*interrupted)());
// Closes what OpenMediaInput opened (the custom I/O included) and sets *ctx to null.
void CloseMediaInput(AVFormatContext** ctx);

// Opens ctx->pb for writing `name` (a LocalMediaName result; anything else is taken as a local
// name too). Returns 0 or a negative AVERROR code.
int OpenMediaOutput(AVFormatContext* ctx, const std::string& name);
// Closes ctx->pb when open (flushing it) and sets it to null.
void CloseMediaOutput(AVFormatContext* ctx);
