// Every input name is a local regular file: names that look like the libraries' protocols open
// the file of that name, anything but a regular file is refused at once, reads give up when
// asked to stop, and an open that finds nothing gives up after a bounded read.
#include "FFPtr.h"
#include "MediaApi.h"
#include "MyUtils.h"
#include "TestLibs.h"
#include "TestMedia.h"
#include "UnicodeProtocol.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class RuntimeLocalInput : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(LoadTestLibs(ConverterLibs));
        FDir = fs::temp_directory_path() / ("clipwell-local-" + std::to_string(::getpid()));
        fs::create_directories(FDir);
    }
    void TearDown() override {
        SetMediaInterruptCheck(nullptr);
        fs::remove_all(FDir);
    }
    std::string Path(const std::string& name) const { return (FDir / name).string(); }

    // Opens and searches the streams like the probe; returns the first failure or 0, and the
    // sample rate of the first stream.
    int Open(const std::string& name, int* sampleRate = nullptr) {
        AVFormatContext* raw = nullptr;
        int rc = OpenMediaInput(&raw, LocalMediaName(name), nullptr, nullptr);
        if (rc < 0) return rc;
        TInputContextPtr ctx(raw);
        rc = FindMediaStreamInfo(ctx.get());
        if (rc >= 0 && sampleRate && ctx->nb_streams > 0)
            *sampleRate = ctx->streams[0]->codecpar->sample_rate;
        return rc < 0 ? rc : 0;
    }

    fs::path FDir;
};

bool gStop = false;
bool StopRequested() {
    return gStop;
}

} // namespace

TEST_F(RuntimeLocalInput, ProtocolLookingNamesAreLocalFiles) {
    std::string wav = TestMediaFile(TMediaSpec{TMediaFormat::Wav16, 0.5, 22050, 1});
    // A pass-through name for the libraries would reach the network, standard input or another file.
    for (const char* name :
         {"http:127.0.0.1:9.wav", "pipe:x.wav", "tcp:x:1.wav", "unicode:utf8:x.wav", "file:y.wav"}) {
        fs::copy_file(wav, Path(name));
        fs::current_path(FDir);
        int rate = 0;
        EXPECT_EQ(Open(name, &rate), 0) << name;
        EXPECT_EQ(rate, 22050) << name;
        EXPECT_TRUE(IsUnicodeUrl(LocalMediaName(name))) << name;
    }
    EXPECT_EQ(LocalMediaName("/plain/Müller.wav"), "/plain/Müller.wav");
    EXPECT_EQ(DecodeUnicodeUrl(LocalMediaName("unicode:utf8:x.wav")), "unicode:utf8:x.wav");
}

TEST_F(RuntimeLocalInput, OnlyRegularFilesOpen) {
    ASSERT_EQ(::mkfifo(Path("fifo.mp3").c_str(), 0600), 0);
    fs::create_directory(Path("folder.mp3"));
    fs::create_symlink("/dev/zero", Path("zero.mp3"));
    fs::create_symlink(Path("loop.mp3"), Path("loop.mp3"));
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(Open(Path("fifo.mp3")), kErrNotRegularFile); // would block in the open
    EXPECT_EQ(Open(Path("zero.mp3")), kErrNotRegularFile); // would never end
    EXPECT_EQ(Open(Path("folder.mp3")), AVERROR(EISDIR));
    EXPECT_EQ(Open(Path("loop.mp3")), AVERROR(ELOOP));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    // Each says what the name is, not that opening failed in general.
    for (const char* name : {"fifo.mp3", "folder.mp3", "loop.mp3"}) {
        std::string text = MediaOpenErrorText(Path(name), Open(Path(name)), nullptr);
        EXPECT_EQ(text.find("Error while opening file"), std::string::npos) << text;
        EXPECT_EQ(text.rfind(Path(name), 0), 0u) << text;
    }
}

TEST_F(RuntimeLocalInput, ReadsStopAndAreBounded) {
    std::string wav = TestMediaFile(TMediaSpec{TMediaFormat::Wav16, 0.5, 22050, 1});
    gStop = true;
    SetMediaInterruptCheck(StopRequested);
    EXPECT_EQ(Open(wav), AVERROR_EXIT);
    gStop = false;
    EXPECT_EQ(Open(wav), 0);
    // A large file of nothing (sparse: no disk space) under an audio name.
    std::string zeros = Path("zeros.mp3");
    int fd = ::open(zeros.c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 4 * kMediaProbeBound), 0);
    ::close(fd);
    auto started = std::chrono::steady_clock::now();
    EXPECT_LT(Open(zeros), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
}
