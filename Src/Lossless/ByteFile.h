// Plain files for the byte-copying cutters: a reader with a window cache for scanning headers,
// a writer that remembers the first failure, and a bulk copy between them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

struct TFileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using TFilePtr = std::unique_ptr<FILE, TFileCloser>;

class TByteReader {
public:
    // False with the system's reason in `error`.
    bool Open(const std::string& path, std::string& error);
    int64_t Size() const { return FSize; }
    // Copies `count` bytes at `offset` into `out`; false when they are not all in the file.
    bool Read(int64_t offset, size_t count, uint8_t* out);
    // The bytes at `offset` (at most `count`, fewer at the end), valid until the next call.
    const uint8_t* Peek(int64_t offset, size_t count, size_t& available);
    FILE* Handle() const { return FFile.get(); }

private:
    bool Fill(int64_t offset);

    TFilePtr FFile;
    int64_t FSize = 0;
    std::vector<uint8_t> FWindow;
    int64_t FWindowStart = -1; // file offset of FWindow[0]
    size_t FWindowBytes = 0;
};

class TByteWriter {
public:
    bool Open(const std::string& path, std::string& error);
    void Write(const void* data, size_t count);
    void WriteAt(int64_t offset, const void* data, size_t count); // then back to the end
    int64_t Position() const { return FPosition; }
    // Flushes and closes; false with the first failure's reason.
    bool Close(std::string& error);
    bool Failed() const { return FErrno != 0; }

private:
    TFilePtr FFile;
    int64_t FPosition = 0;
    int FErrno = 0;
};

// Copies [from, to) of `in` to the end of `out`; false when the input ends early.
bool CopyBytes(TByteReader& in, int64_t from, int64_t to, TByteWriter& out);

uint16_t ReadBE16(const uint8_t* p);
uint32_t ReadBE32(const uint8_t* p);
uint32_t ReadLE32(const uint8_t* p);
uint16_t ReadLE16(const uint8_t* p);
void WriteBE32(uint8_t* p, uint32_t v);
void WriteLE32(uint8_t* p, uint32_t v);
