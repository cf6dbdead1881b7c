#include "UnicodeProtocol.h"

#include "FFUtils.h"
#include "MediaApi.h"
#include "MyUtils.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

const char* const kUnicodeUrlPrefix = "unicode:utf8:";

namespace {

const char* const kPassThrough = ":unicode:stream:gopher:http:pipe:rtp:tcp:udp:";
const int kIoBufferSize = 64 * 1024;

// The program's protocol table: names of the protocols it serves with its own callbacks.
std::mutex gProtocolsLock; // guards gProtocols
std::vector<std::string> gProtocols;

// The process-wide stop request for reads (set once by a command-line tool).
std::atomic<bool (*)()> gInterruptCheck{nullptr};

// The state behind one custom AVIOContext: the open file, and for inputs the read bound of the
// open and the context's interrupt callback.
struct TUnicodeFile {
    int Handle = -1;
    int64_t BytesRead = 0;
    int64_t ReadLimit = -1; // BytesRead at which reads give up; -1: no bound
    bool LimitHit = false;
    AVIOInterruptCB Interrupt{nullptr, nullptr};
};

bool Interrupted(const TUnicodeFile& file) {
    bool (*check)() = gInterruptCheck.load();
    if (check && check()) return true;
    return file.Interrupt.callback && file.Interrupt.callback(file.Interrupt.opaque) != 0;
}

int ReadPacket(void* opaque, uint8_t* buffer, int size) {
    auto file = static_cast<TUnicodeFile*>(opaque);
    if (Interrupted(*file)) return AVERROR_EXIT;
    if (file->ReadLimit >= 0) {
        if (file->BytesRead >= file->ReadLimit) {
            file->LimitHit = true;
            return AVERROR(EFBIG);
        }
        size = static_cast<int>(std::min<int64_t>(size, file->ReadLimit - file->BytesRead));
    }
    int n = UnicodeRead(file->Handle, buffer, size);
    if (n == 0) return AVERROR_EOF;
    if (n < 0) return AVERROR(EIO);
    file->BytesRead += n;
    return n;
}

int WritePacket(void* opaque, uint8_t* buffer, int size) {
    int n = UnicodeWrite(static_cast<TUnicodeFile*>(opaque)->Handle, buffer, size);
    return n < 0 ? AVERROR(EIO) : n;
}

int64_t SeekPacket(void* opaque, int64_t position, int whence) {
    int64_t r = UnicodeSeek(static_cast<TUnicodeFile*>(opaque)->Handle, position, whence & ~AVSEEK_FORCE);
    return r < 0 ? AVERROR(EIO) : r;
}

bool IsOurIo(const AVIOContext* pb) {
    return pb && pb->read_packet == ReadPacket;
}

// Opens a local file for reading, regular files only: a FIFO would block in the open and a
// device may never end. Returns the descriptor or a negative AVERROR code.
int OpenLocalInput(const std::string& name, bool anyFile) {
    // Non-blocking, so that opening a FIFO returns at once; reads of a regular file ignore it.
    int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | (anyFile ? 0 : O_NONBLOCK));
    if (fd < 0) return AVERROR(errno);
    struct stat st;
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode) || (!anyFile && !S_ISREG(st.st_mode))) {
        int code = S_ISDIR(st.st_mode) ? AVERROR(EISDIR) : kErrNotRegularFile;
        ::close(fd);
        return code;
    }
    int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

// Nested opens (playlist entries, references to other files) are never followed: a file names
// only itself.
int RefuseNestedOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) {
    return AVERROR(EPERM);
}

// Creates the custom I/O over a local name (writing) or descriptor (reading, fd >= 0). Returns 0
// or a negative AVERROR code.
int OpenCustomIo(const std::string& url, int flags, AVIOContext** pb, int fd = -1) {
    auto file = new TUnicodeFile();
    if (fd >= 0) {
        file->Handle = fd;
    } else {
        int rc = UnicodeOpen(&file->Handle, url, flags);
        if (rc < 0) {
            delete file;
            return rc;
        }
    }
    auto buffer = static_cast<unsigned char*>(av::av_malloc(kIoBufferSize));
    bool writable = (flags & AVIO_FLAG_WRITE) != 0;
    *pb = buffer ? av::avio_alloc_context(buffer, kIoBufferSize, writable ? 1 : 0, file, ReadPacket,
                                          writable ? WritePacket : nullptr, SeekPacket)
                 : nullptr;
    if (!*pb) {
        av::av_free(buffer);
        UnicodeClose(file->Handle);
        delete file;
        return AVERROR(ENOMEM);
    }
    return 0;
}

void CloseCustomIo(AVIOContext** pb) {
    if (!*pb) return;
    auto file = static_cast<TUnicodeFile*>((*pb)->opaque);
    if ((*pb)->write_flag) av::avio_flush(*pb);
    av::av_freep(&(*pb)->buffer);
    av::avio_context_free(pb);
    if (file) {
        UnicodeClose(file->Handle);
        delete file;
    }
}

// Decodes one UTF-8 sequence at s[i]; returns its length or 0 when invalid.
size_t Utf8SequenceLength(const std::string& s, size_t i) {
    auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char c = byte(i);
    if (c < 0x80) return 1;
    size_t len = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
    if (len == 0 || (len == 3 && c > 0xEF) || i + len > s.size()) return 0;
    for (size_t k = 1; k < len; ++k)
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
    uint32_t cp = len == 2   ? ((c & 0x1F) << 6) | (byte(i + 1) & 0x3F)
                  : len == 3 ? ((c & 0x0F) << 12) | ((byte(i + 1) & 0x3F) << 6) | (byte(i + 2) & 0x3F)
                             : ((c & 0x07) << 18) | ((byte(i + 1) & 0x3F) << 12) |
                                   ((byte(i + 2) & 0x3F) << 6) | (byte(i + 3) & 0x3F);
    if ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
        (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
        return 0;
    return len;
}

} // namespace

bool IsValidUtf8(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        size_t len = Utf8SequenceLength(text, i);
        if (len == 0) return false;
        i += len;
    }
    return true;
}

bool NeedsUnicodeName(const std::string& name) {
    size_t colon = name.find(':');
    if (colon != std::string::npos) {
        std::string probe = ":" + name.substr(0, colon) + ":";
        if (std::string(kPassThrough).find(probe) != std::string::npos) return false;
    }
    // Linux names are UTF-8 bytes; the libraries would misread invalid text or a "name:" prefix.
    return !IsValidUtf8(name) || colon != std::string::npos;
}

std::string EncodeUnicodeUrl(const std::string& name) {
    return kUnicodeUrlPrefix + name;
}

std::string DecodeUnicodeUrl(const std::string& url) {
    std::string text = url, head;
    SplitString(text, ":", true, head);
    SplitString(text, ":", true, head);
    return text;
}

bool IsUnicodeUrl(const std::string& name) {
    return name.size() >= 14 && name.compare(0, 13, kUnicodeUrlPrefix) == 0;
}

std::string MediaFileName(const std::string& name) {
    return NeedsUnicodeName(name) ? EncodeUnicodeUrl(name) : name;
}

std::string LocalMediaName(const std::string& name) {
    // Without a ":" the libraries take a name for a local file of that name.
    bool plain = IsValidUtf8(name) && name.find(':') == std::string::npos;
    return plain ? name : EncodeUnicodeUrl(name);
}

// The local file behind a name handed to OpenMediaInput / OpenMediaOutput.
static std::string LocalFileOf(const std::string& name) {
    return IsUnicodeUrl(name) ? DecodeUnicodeUrl(name) : name;
}

std::string DisplayFileName(const std::string& name) {
    return IsUnicodeUrl(name) ? DecodeUnicodeUrl(name) : name;
}

void RegisterUnicodeProtocol() {
    std::lock_guard<std::mutex> guard(gProtocolsLock);
    for (const std::string& p : gProtocols)
        if (p == "unicode") return;
    gProtocols.push_back("unicode");
}

bool UnicodeProtocolRegistered() {
    std::lock_guard<std::mutex> guard(gProtocolsLock);
    for (const std::string& p : gProtocols)
        if (p == "unicode") return true;
    return false;
}

int UnicodeOpen(int* handle, const std::string& url, int flags) {
    std::string name = DecodeUnicodeUrl(url);
    int mode;
    // The libraries' values: AVIO_FLAG_READ 1, AVIO_FLAG_WRITE 2, AVIO_FLAG_READ_WRITE 3.
    if ((flags & AVIO_FLAG_READ_WRITE) == AVIO_FLAG_READ_WRITE)
        mode = O_RDWR | O_CREAT | O_TRUNC;
    else if (flags & AVIO_FLAG_WRITE)
        mode = O_WRONLY | O_CREAT | O_TRUNC;
    else
        mode = O_RDONLY;
    int fd = ::open(name.c_str(), mode | O_CLOEXEC, 0666);
    if (fd < 0) return -2;
    struct stat st;
    if ((mode & O_ACCMODE) == O_RDONLY && (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode))) {
        ::close(fd);
        return -2;
    }
    *handle = fd;
    return 0;
}

int UnicodeRead(int handle, uint8_t* buffer, int size) {
    ssize_t n;
    do
        n = ::read(handle, buffer, static_cast<size_t>(size));
    while (n < 0 && errno == EINTR);
    return n < 0 ? -1 : static_cast<int>(n);
}

int UnicodeWrite(int handle, const uint8_t* buffer, int size) {
    int done = 0;
    while (done < size) {
        ssize_t n = ::write(handle, buffer + done, static_cast<size_t>(size - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return -1;
        done += static_cast<int>(n);
    }
    return done;
}

int64_t UnicodeSeek(int handle, int64_t position, int whence) {
    if (whence == AVSEEK_SIZE) {
        struct stat st;
        return ::fstat(handle, &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
    }
    off_t r = ::lseek(handle, static_cast<off_t>(position), whence);
    return r < 0 ? -1 : static_cast<int64_t>(r);
}

int UnicodeClose(int handle) {
    return ::close(handle) == 0 ? 1 : 0;
}

int OpenMediaInput(AVFormatContext** ctx, const std::string& name, const AVInputFormat* format,
                   AVDictionary** options, bool anyFile) {
    auto freeContext = [&] {
        if (*ctx) {
            av::avformat_free_context(*ctx);
            *ctx = nullptr;
        }
    };
    int fd = OpenLocalInput(LocalFileOf(name), anyFile);
    if (fd < 0) {
        freeContext();
        return fd;
    }
    AVIOContext* pb = nullptr;
    int rc = OpenCustomIo(name, AVIO_FLAG_READ, &pb, fd);
    if (rc < 0) {
        freeContext();
        return rc;
    }
    if (!*ctx) *ctx = av::avformat_alloc_context();
    if (!*ctx) {
        CloseCustomIo(&pb);
        return AVERROR(ENOMEM);
    }
    auto file = static_cast<TUnicodeFile*>(pb->opaque);
    file->Interrupt = (*ctx)->interrupt_callback;
    file->ReadLimit = kMediaProbeBound;
    (*ctx)->pb = pb;
    (*ctx)->flags |= AVFMT_FLAG_CUSTOM_IO;
    (*ctx)->io_open = RefuseNestedOpen;
    rc = av::avformat_open_input(ctx, name.c_str(), format, options);
    if (rc < 0) {
        if (file->LimitHit) rc = kErrReadBound;
        CloseCustomIo(&pb); // the library freed the context but leaves custom I/O to us
        return rc;
    }
    file->ReadLimit = -1;
    return rc;
}

int FindMediaStreamInfo(AVFormatContext* ctx) {
    TUnicodeFile* file = ctx && IsOurIo(ctx->pb) ? static_cast<TUnicodeFile*>(ctx->pb->opaque) : nullptr;
    if (file) file->ReadLimit = file->BytesRead + kMediaProbeBound;
    int rc = av::avformat_find_stream_info(ctx, nullptr);
    if (file) {
        // The libraries take a read that gives up for the end of the file: what they found
        // after reading that far without a result is no stream description to trust.
        if (file->LimitHit) rc = kErrReadBound;
        file->ReadLimit = -1;
        file->LimitHit = false;
    }
    return rc;
}

std::string MediaOpenErrorText(const std::string& fileName, int errorCode, const AVInputFormat* format) {
    switch (errorCode) {
    case kErrNotRegularFile:
        return fileName + ": not a regular file (a device, a FIFO or a socket cannot be cut)";
    case kErrReadBound:
        return Format("%s: no media found in the first %d MiB: the file is damaged or no audio file",
                      fileName.c_str(), static_cast<int>(kMediaProbeBound >> 20));
    case AVERROR_EXIT:
        return fileName + ": reading was stopped";
    default:
        break;
    }
    int code = InputOpenErrorCode(fileName, errorCode, format);
    std::string text = FormatOpenError(fileName, code);
    // Codes the open-failure table has no text of its own for: the system's reason.
    if (text == FormatOpenError(fileName, AVERROR_UNKNOWN)) {
        char reason[AV_ERROR_MAX_STRING_SIZE] = {0};
        if (av::av_strerror(errorCode, reason, sizeof reason) == 0) return fileName + ": " + reason;
    }
    return text;
}

void SetMediaInterruptCheck(bool (*interrupted)()) {
    gInterruptCheck.store(interrupted);
}

void CloseMediaInput(AVFormatContext** ctx) {
    if (!*ctx) return;
    AVIOContext* pb = IsOurIo((*ctx)->pb) ? (*ctx)->pb : nullptr;
    av::avformat_close_input(ctx);
    CloseCustomIo(&pb);
}

int OpenMediaOutput(AVFormatContext* ctx, const std::string& name) {
    // Only a name that the libraries read as a local file goes to their own file access.
    std::string local = LocalFileOf(name);
    if (!IsUnicodeUrl(name) && LocalMediaName(local) == local)
        return av::avio_open(&ctx->pb, name.c_str(), AVIO_FLAG_WRITE);
    int rc = OpenCustomIo(EncodeUnicodeUrl(local), AVIO_FLAG_WRITE, &ctx->pb);
    if (rc == 0) ctx->flags |= AVFMT_FLAG_CUSTOM_IO;
    return rc;
}

void CloseMediaOutput(AVFormatContext* ctx) {
    if (!ctx || !ctx->pb) return;
    if (IsOurIo(ctx->pb))
        CloseCustomIo(&ctx->pb);
    else
        av::avio_closep(&ctx->pb);
}
