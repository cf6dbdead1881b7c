// The lifecycle around a real conversion on its own thread: a stop from the main thread while
// the run reports and logs, and a run left to its end.
#include "FFmpegLogger.h"
#include "TestEngine.h"

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace {

class EngineRealRun : public EngineLibrariesTest {
protected:
    void SetUp() override {
        EngineLibrariesTest::SetUp();
        FFolder = std::filesystem::temp_directory_path() / ("clipwell-realrun-" + std::to_string(::getpid()));
        std::filesystem::create_directories(FFolder);
        // Every engine message needs the main thread: the waits below must keep serving it.
        FSavedLevel = FFLogger().LogLevel();
        FFLogger().SetLogLevel(llDebug);
        FFLogger().OnLog = [this](const void*, uint32_t, TLogLevel, const std::string&) { ++LogLines; };
        Engine.FTerminateCallback = [this](TCustomFFmpeg*) { ++Terminations; };
        Engine.FProgressCallback = [this](TCustomFFmpeg*, int32_t, int32_t, int32_t, float, float, int64_t,
                                          int32_t) { ++Reports; };
    }
    void TearDown() override {
        Engine.StopAndWait();
        FFLogger().OnLog = nullptr;
        FFLogger().SetLogLevel(FSavedLevel);
        std::error_code ec;
        std::filesystem::remove_all(FFolder, ec);
    }

    // A 16-bit stereo 44.1 kHz WAV of `seconds` written byte by byte.
    std::string WriteWav(const std::string& name, int seconds) {
        const uint32_t rate = 44100, frames = rate * seconds, dataBytes = frames * 4;
        std::string path = (FFolder / name).string();
        std::ofstream out(path, std::ios::binary);
        auto u32 = [&](uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
        auto u16 = [&](uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
        out.write("RIFF", 4);
        u32(36 + dataBytes);
        out.write("WAVEfmt ", 8);
        u32(16);
        u16(1);
        u16(2);
        u32(rate);
        u32(rate * 4);
        u16(4);
        u16(16);
        out.write("data", 4);
        u32(dataBytes);
        for (uint32_t i = 0; i < frames * 2; ++i)
            u16(static_cast<uint16_t>(i * 7));
        return path;
    }

    // Configures input and output as the conversion component does.
    void Configure(const std::string& input, const std::string& output) {
        Engine.Reset();
        ASSERT_TRUE(Engine.OpenInputFile(input)) << Engine.LastError();
        Engine.ApplyOption("acodec", "pcm_s16le");
        Engine.FReportInterval = 0; // a report after every packet
        ASSERT_EQ(Engine.OpenOutputFile(output, false), 1) << Engine.LastError();
    }

    std::string Path(const std::string& name) const { return (FFolder / name).string(); }

    TCustomFFmpeg Engine;
    std::atomic<int> Terminations{0};
    std::atomic<int> Reports{0};
    int LogLines = 0; // main thread only

private:
    std::filesystem::path FFolder;
    TLogLevel FSavedLevel = llInfo;
};

} // namespace

TEST_F(EngineRealRun, StopFromTheMainThreadEndsTheRunUnfinishedOnce) {
    std::string out = Path("stopped.wav");
    Configure(WriteWav("long.wav", 10), out);
    Engine.ApplyOption("re", "1"); // read at native speed: the stop surely comes mid-run
    TConvertThread* thread = Engine.BeginConvert(true, tpLower);
    ASSERT_NE(thread, nullptr);
    thread->Start();
    WaitUntil([&] { return Reports >= 3 || Engine.Terminated(); });
    Engine.EndConvert(true);
    EXPECT_TRUE(Engine.Terminated());
    Engine.StopAndWait();
    EXPECT_EQ(Terminations, 1);
    EXPECT_FALSE(Engine.Finished());
    EXPECT_FALSE(Engine.ExceptionRaised()) << Engine.ExceptionMessage();
    EXPECT_GT(GetFileSize64(out), 44); // what was written stays
    EXPECT_LT(GetFileSize64(out), int64_t(10) * 44100 * 4);
    EXPECT_GT(LogLines, 0);
}

TEST_F(EngineRealRun, RunLeftToItsEndReportsFinishedOnce) {
    std::string out = Path("whole.wav");
    Configure(WriteWav("short.wav", 1), out);
    Engine.BeginConvert(true)->Start();
    WaitUntil([&] { return Terminations >= 1; });
    Engine.StopAndWait();
    EXPECT_EQ(Terminations, 1);
    EXPECT_TRUE(Engine.Finished());
    EXPECT_FALSE(Engine.ExceptionRaised()) << Engine.ExceptionMessage();
    EXPECT_GE(GetFileSize64(out), 44 + 44100 * 4); // every sample, plus the header's tags
    EXPECT_LT(GetFileSize64(out), 1024 + 44100 * 4);
    // Terminated: a second start and a stop change nothing.
    EXPECT_EQ(Engine.BeginConvert(true), nullptr);
    Engine.EndConvert(true);
    EXPECT_EQ(Terminations, 1);
}
