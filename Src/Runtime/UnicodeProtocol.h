// The "unicode" file protocol: file names that the media libraries would misread (invalid UTF-8,
// or a ":" that would look like a protocol) are handed over as "unicode:utf8:<name>" URLs and
// opened through the program's own file callbacks. Every place that opens a media file by name
// goes through OpenMediaInput / OpenMediaOutput below.
#pragma once

#include <cstdint>
#include <string>

struct AVFormatContext;
struct AVInputFormat;
struct AVDictionary;

extern const char* const kUnicodeUrlPrefix; // "unicode:utf8:"

// The text to hand to the media libraries for a file name.
std::string MediaFileName(const std::string& name);
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
// MediaFileName. Returns 0 or a negative AVERROR code.
int OpenMediaInput(AVFormatContext** ctx, const std::string& name, const AVInputFormat* format,
                   AVDictionary** options);
// Closes what OpenMediaInput opened (the custom I/O included) and sets *ctx to null.
void CloseMediaInput(AVFormatContext** ctx);

// Opens ctx->pb for writing `name` (a MediaFileName result). Returns 0 or a negative AVERROR code.
int OpenMediaOutput(AVFormatContext* ctx, const std::string& name);
// Closes ctx->pb when open (flushing it) and sets it to null.
void CloseMediaOutput(AVFormatContext* ctx);
