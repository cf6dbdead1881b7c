#include "FuzzSupport.h"

#include "MyUtils.h"
#include "RAzevaVUV.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

std::string ScratchFolder() {
    static const std::string folder = [] {
        std::string pattern = "/tmp/clipwell-fuzz-" + std::to_string(::getpid()) + "-XXXXXX";
        if (!::mkdtemp(pattern.data())) std::abort();
        return pattern + "/";
    }();
    return folder;
}

std::string ExtensionFor(const uint8_t* data, size_t size) {
    auto starts = [&](const char* magic, size_t n) { return size >= n && std::memcmp(data, magic, n) == 0; };
    if (starts("RIFF", 4)) return ".wav";
    if (starts("OggS", 4)) return ".ogg";
    if (starts("\x30\x26\xB2\x75", 4)) return ".wma";
    if (size >= 2 && data[0] == 0xFF && (data[1] & 0xF6) == 0xF0) return ".aac";
    return ".mp3";
}

} // namespace

ZEVuzuzAVE& FuzzConverter() {
    static ZEVuzuzAVE* converter = [] {
        auto* c = new ZEVuzuzAVE(); // lives for the whole process
        if (!c->LoadAVLib(GetExecutableFolder() + "Dll/")) {
            std::fprintf(stderr, "fuzz: cannot load the media libraries: %s\n", c->LastErrMsg.c_str());
            std::abort();
        }
        return c;
    }();
    return *converter;
}

std::string FuzzScratch(const std::string& name) {
    return ScratchFolder() + name;
}

std::string WriteFuzzInput(const uint8_t* data, size_t size) {
    std::string name = FuzzScratch("input" + ExtensionFor(data, size));
    for (const char* ext : {".wav", ".ogg", ".wma", ".aac", ".mp3"})
        ::unlink(FuzzScratch(std::string("input") + ext).c_str());
    int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) std::abort();
    for (size_t done = 0; done < size;) {
        ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0) std::abort();
        done += size_t(n);
    }
    ::close(fd);
    return name;
}
