#include "ByteFile.h"

#include <cerrno>
#include <cstring>

namespace {
constexpr size_t kWindowBytes = 1 << 20;
constexpr size_t kCopyBytes = 1 << 20;
} // namespace

bool TByteReader::Open(const std::string& path, std::string& error) {
    FFile.reset(std::fopen(path.c_str(), "rb"));
    if (!FFile || fseeko(FFile.get(), 0, SEEK_END) != 0) {
        error = std::strerror(errno);
        FFile.reset();
        return false;
    }
    FSize = ftello(FFile.get());
    FWindowStart = -1;
    return FSize >= 0;
}

bool TByteReader::Fill(int64_t offset) {
    FWindow.resize(kWindowBytes);
    FWindowStart = -1;
    if (fseeko(FFile.get(), offset, SEEK_SET) != 0) return false;
    FWindowBytes = std::fread(FWindow.data(), 1, kWindowBytes, FFile.get());
    FWindowStart = offset;
    return true;
}

const uint8_t* TByteReader::Peek(int64_t offset, size_t count, size_t& available) {
    available = 0;
    if (!FFile || offset < 0 || offset >= FSize) return nullptr;
    bool inside = FWindowStart >= 0 && offset >= FWindowStart &&
                  offset + int64_t(count) <= FWindowStart + int64_t(FWindowBytes);
    bool atEnd = FWindowStart >= 0 && offset >= FWindowStart &&
                 FWindowStart + int64_t(FWindowBytes) >= FSize && offset < FSize;
    if (!inside && !atEnd && !Fill(offset)) return nullptr;
    size_t skip = size_t(offset - FWindowStart);
    available = std::min(count, FWindowBytes - skip);
    return FWindow.data() + skip;
}

bool TByteReader::Read(int64_t offset, size_t count, uint8_t* out) {
    if (count > kWindowBytes) return false;
    size_t available = 0;
    const uint8_t* p = Peek(offset, count, available);
    if (!p || available < count) return false;
    std::memcpy(out, p, count);
    return true;
}

bool TByteWriter::Open(const std::string& path, std::string& error) {
    FFile.reset(std::fopen(path.c_str(), "wb"));
    if (!FFile) {
        error = std::strerror(errno);
        return false;
    }
    FPosition = 0;
    FErrno = 0;
    return true;
}

void TByteWriter::Write(const void* data, size_t count) {
    if (FErrno != 0 || count == 0) return;
    if (std::fwrite(data, 1, count, FFile.get()) != count)
        FErrno = errno != 0 ? errno : EIO;
    else
        FPosition += int64_t(count);
}

void TByteWriter::WriteAt(int64_t offset, const void* data, size_t count) {
    if (FErrno != 0) return;
    int64_t end = FPosition;
    if (fseeko(FFile.get(), offset, SEEK_SET) != 0) {
        FErrno = errno;
        return;
    }
    FPosition = offset;
    Write(data, count);
    if (FErrno == 0 && fseeko(FFile.get(), end, SEEK_SET) != 0) FErrno = errno;
    FPosition = end;
}

bool TByteWriter::Close(std::string& error) {
    if (!FFile) return FErrno == 0;
    if (FErrno == 0 && std::fflush(FFile.get()) != 0) FErrno = errno != 0 ? errno : EIO;
    FILE* f = FFile.release();
    if (std::fclose(f) != 0 && FErrno == 0) FErrno = errno != 0 ? errno : EIO;
    if (FErrno != 0) error = std::strerror(FErrno);
    return FErrno == 0;
}

bool CopyBytes(TByteReader& in, int64_t from, int64_t to, TByteWriter& out) {
    if (from < 0 || to > in.Size() || from > to) return false;
    std::vector<uint8_t> buffer(std::min<int64_t>(kCopyBytes, std::max<int64_t>(1, to - from)));
    if (fseeko(in.Handle(), from, SEEK_SET) != 0) return false;
    while (from < to && !out.Failed()) {
        size_t want = size_t(std::min<int64_t>(int64_t(buffer.size()), to - from));
        size_t got = std::fread(buffer.data(), 1, want, in.Handle());
        if (got == 0) return false;
        out.Write(buffer.data(), got);
        from += int64_t(got);
    }
    return from == to;
}

uint16_t ReadBE16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }
uint32_t ReadBE32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
uint16_t ReadLE16(const uint8_t* p) { return uint16_t(p[1] << 8 | p[0]); }
uint32_t ReadLE32(const uint8_t* p) { return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]; }
void WriteBE32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24), p[1] = uint8_t(v >> 16), p[2] = uint8_t(v >> 8), p[3] = uint8_t(v);
}
void WriteLE32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v), p[1] = uint8_t(v >> 8), p[2] = uint8_t(v >> 16), p[3] = uint8_t(v >> 24);
}
