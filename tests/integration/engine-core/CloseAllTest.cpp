// CloseAll releases what a configuration or a run holds: input files, output files with their
// I/O (an output left at 0 bytes is deleted), codec contexts, join entries sharing one context.
#include "FFPtr.h"
#include "TestEngine.h"
#include "UnicodeProtocol.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace {

class EngineCloseAll : public EngineLibrariesTest {
protected:
    void SetUp() override {
        EngineLibrariesTest::SetUp();
        FFolder =
            std::filesystem::temp_directory_path() / ("clipwell-closeall-" + std::to_string(::getpid()));
        std::filesystem::create_directories(FFolder);
        Engine.Reset();
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(FFolder, ec);
    }

    std::string Path(const std::string& name) const { return (FFolder / name).string(); }

    // A 16-bit mono WAV of 0.1 s written byte by byte.
    std::string WriteWav(const std::string& name) {
        const uint32_t rate = 8000, samples = 800, dataBytes = samples * 2;
        std::string path = Path(name);
        std::ofstream out(path, std::ios::binary);
        auto u32 = [&](uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
        auto u16 = [&](uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
        out.write("RIFF", 4);
        u32(36 + dataBytes);
        out.write("WAVEfmt ", 8);
        u32(16);
        u16(1); // PCM
        u16(1); // mono
        u32(rate);
        u32(rate * 2); // bytes per second
        u16(2);        // block align
        u16(16);       // bits
        out.write("data", 4);
        u32(dataBytes);
        for (uint32_t i = 0; i < samples; ++i)
            u16(static_cast<uint16_t>(i * 40));
        return path;
    }

    AVFormatContext* OpenInput(const std::string& path) {
        AVFormatContext* ctx = nullptr;
        EXPECT_EQ(OpenMediaInput(&ctx, MediaFileName(path), nullptr, nullptr), 0) << path;
        return ctx;
    }

    // An output context with its file open for writing, as output creation leaves it.
    AVFormatContext* CreateOutput(const std::string& path) {
        AVFormatContext* ctx = nullptr;
        EXPECT_GE(av::avformat_alloc_output_context2(&ctx, nullptr, "wav", MediaFileName(path).c_str()), 0);
        if (!ctx) return nullptr;
        AVStream* stream = av::avformat_new_stream(ctx, nullptr);
        EXPECT_NE(stream, nullptr);
        av::av_dict_set(&ctx->metadata, "title", "t", 0);
        EXPECT_EQ(OpenMediaOutput(ctx, MediaFileName(path)), 0) << path;
        return ctx;
    }

    TCustomFFmpeg Engine;

private:
    std::filesystem::path FFolder;
};

} // namespace

TEST_F(EngineCloseAll, EmptyOutputIsDeletedAndWrittenOutputKept) {
    std::string empty = Path("empty.wav"), written = Path("written.wav");
    Engine.FOutputFiles[0] = OwnOutputFile(CreateOutput(empty));
    AVFormatContext* second = CreateOutput(written);
    Engine.FOutputFiles[1] = OwnOutputFile(second);
    Engine.FOutputFileCount = 2;
    ASSERT_TRUE(Engine.FOutputFiles[0] && second && second->pb);
    av::avio_write(second->pb, reinterpret_cast<const unsigned char*>("RIFF"), 4);
    ASSERT_TRUE(FileExists(empty));

    Engine.CloseAll();
    EXPECT_EQ(Engine.FOutputFileCount, 0);
    EXPECT_EQ(Engine.FOutputFiles[0], nullptr);
    EXPECT_FALSE(FileExists(empty));
    EXPECT_EQ(GetFileSize64(written), 4);
}

TEST_F(EngineCloseAll, JoinEntriesShareOneContextThatIsClosedOnce) {
    std::string path = Path("joined.wav");
    AVFormatContext* ctx = CreateOutput(path);
    ASSERT_NE(ctx, nullptr);
    av::avio_write(ctx->pb, reinterpret_cast<const unsigned char*>("RIFF"), 4);
    Engine.FJoin = true;
    Engine.FOutputFiles[0] = OwnOutputFile(ctx);
    for (int i = 1; i < 3; ++i)
        Engine.FOutputFiles[i] = Engine.FOutputFiles[0];
    Engine.FOutputFileCount = 3;
    AVCodecContext* enc = av::avcodec_alloc_context3(nullptr);
    Engine.FOutputCodecContexts[0].emplace_back(enc);

    Engine.CloseAll(); // a second close or free would show under the address sanitizer
    EXPECT_EQ(Engine.FOutputFileCount, 0);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(Engine.FOutputFiles[i], nullptr);
    EXPECT_TRUE(Engine.FOutputCodecContexts[0].empty());
    EXPECT_EQ(GetFileSize64(path), 4);
}

TEST_F(EngineCloseAll, InputsAndTheirCodecChoicesAreReleased) {
    std::string a = WriteWav("a.wav"), b = WriteWav("b.wav");
    Engine.FInputFiles[0].reset(OpenInput(a));
    Engine.FInputFiles[1].reset(OpenInput(b));
    ASSERT_TRUE(Engine.FInputFiles[0] && Engine.FInputFiles[1]);
    Engine.FInputFileCount = 2;
    Engine.FInputCodecContexts[0].emplace_back(av::avcodec_alloc_context3(nullptr));
    Engine.FInputCodecContexts[1].emplace_back(av::avcodec_alloc_context3(nullptr));
    Engine.FInputCodecs[0] = av::avcodec_find_decoder_by_name("pcm_s16le");
    Engine.FInputCodecCount = 2;
    Engine.FOutputCodecCount = 1;
    Engine.ApplyOption("acodec", "pcm_s16le");

    Engine.CloseAll();
    EXPECT_EQ(Engine.FInputFileCount, 0);
    EXPECT_EQ(Engine.FInputFiles[0], nullptr);
    EXPECT_EQ(Engine.FInputFiles[1], nullptr);
    EXPECT_TRUE(Engine.FInputCodecContexts[0].empty());
    // The codec tables describe the closed files: a new configuration starts them afresh.
    EXPECT_EQ(Engine.FInputCodecCount, 0);
    EXPECT_EQ(Engine.FOutputCodecCount, 0);
    EXPECT_EQ(Engine.FInputCodecs[0], nullptr);
    EXPECT_EQ(Engine.FAudioCodecName, "");
    // The input files themselves are untouched.
    EXPECT_TRUE(FileExists(a));
    EXPECT_TRUE(FileExists(b));
}

TEST_F(EngineCloseAll, EndOfARunReleasesEverythingBeforeReportingTermination) {
    std::string out = Path("run.wav");
    TTestEngine engine;
    engine.Reset();
    engine.FInputFiles[0].reset(OpenInput(WriteWav("in.wav")));
    engine.FInputFileCount = 1;
    engine.FOutputFiles[0] = OwnOutputFile(CreateOutput(out));
    engine.FOutputFileCount = 1;
    bool outputGoneAtTermination = false;
    engine.FTerminateCallback = [&](TCustomFFmpeg* e) {
        outputGoneAtTermination = !FileExists(out) && e->FOutputFileCount == 0 && e->FInputFileCount == 0;
    };
    engine.BeginConvert(false);
    EXPECT_TRUE(outputGoneAtTermination); // nothing was written, so the file is gone
}
