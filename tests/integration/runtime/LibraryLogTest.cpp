// The logger behind the real av_log: the bracketed prefix of a real context, the library's level
// following the logger's, and library messages of workers delivered on the main thread.
#include "FFmpegLogger.h"
#include "MediaApi.h"
#include "MyUtils.h"
#include "TestLibs.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct TLine {
    TLogLevel Level;
    std::string Text;
    uint32_t ThreadId;
    bool OnMain;
};

class RuntimeLibraryLog : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(LoadTestLibs(ConverterLibs));
        FFLogger().SetLogLevel(llInfo);
        FFLogger().OnLog = [this](const void*, uint32_t threadId, TLogLevel level, const std::string& msg) {
            FLines.push_back({level, msg, threadId, IsMainThread()});
        };
    }
    void TearDown() override {
        FFLogger().OnLog = nullptr;
        FFLogger().SetLogLevel(llInfo);
    }
    std::vector<std::string> Texts() const {
        std::vector<std::string> out;
        for (const TLine& l : FLines)
            out.push_back(l.Text);
        return out;
    }
    std::vector<TLine> FLines; // main thread only
};

TEST_F(RuntimeLibraryLog, RealContextGetsTheBracketedPrefix) {
    AVFormatContext* ctx = av::avformat_alloc_context();
    ASSERT_NE(ctx, nullptr);
    const AVClass* cls = ctx->av_class;
    std::string prefix = Format("[%s @ %p]", cls->item_name(ctx), static_cast<void*>(ctx));
    av::av_log(ctx, AV_LOG_ERROR, "abc");
    av::av_log(ctx, AV_LOG_ERROR, "def %d %s %.2f\n", 42, "x", 1.5);
    av::av_log(ctx, AV_LOG_WARNING, "first\nsecond\n");
    av::avformat_free_context(ctx);
    EXPECT_EQ(Texts(), (std::vector<std::string>{prefix + "abcdef 42 x 1.50", prefix + "first", "second"}));
    ASSERT_EQ(FLines.size(), 3u);
    EXPECT_EQ(FLines[0].Level, llError);
    EXPECT_EQ(FLines[1].Level, llWarning);
}

TEST_F(RuntimeLibraryLog, LibraryLevelFollowsTheLogger) {
    TFFLogger& logger = FFLogger();
    EXPECT_EQ(av::av_log_get_level(), AV_LOG_INFO);
    logger.SetLogLevel(llWarning);
    EXPECT_EQ(av::av_log_get_level(), AV_LOG_WARNING);
    EXPECT_EQ(LibraryLogLevel(), AV_LOG_WARNING);
    av::av_log(nullptr, AV_LOG_INFO, "info dropped\n");
    av::av_log(nullptr, AV_LOG_WARNING, "warning kept\n");
    logger.SetLogLevelByName("debug");
    EXPECT_EQ(av::av_log_get_level(), AV_LOG_DEBUG);
    EXPECT_EQ(logger.LogLevel(), llDebug);
    av::av_log(nullptr, AV_LOG_DEBUG, "debug kept\n");
    av::av_log(nullptr, AV_LOG_TRACE, "trace dropped\n");
    logger.SetLogLevelByName("-8");
    EXPECT_EQ(av::av_log_get_level(), AV_LOG_QUIET);
    av::av_log(nullptr, AV_LOG_PANIC, "panic dropped at quiet\n");
    EXPECT_EQ(Texts(), (std::vector<std::string>{"warning kept", "debug kept"}));
}

TEST_F(RuntimeLibraryLog, WorkerMessagesArriveOnTheMainThread) {
    std::atomic<uint32_t> workerId{0};
    TFunctionThread worker("convert", [&] {
        workerId = CurrentThreadId();
        AVFormatContext* ctx = av::avformat_alloc_context();
        av::av_log(ctx, AV_LOG_ERROR, "part one, ");
        av::av_log(ctx, AV_LOG_ERROR, "part two\n");
        // A real library message: opening a file that does not exist.
        AVDictionary* options = nullptr;
        av::avformat_open_input(&ctx, "/nonexistent/clipwell/none.wav", nullptr, &options);
        av::avformat_close_input(&ctx);
    });
    worker.Start();
    worker.WaitFor();
    ASSERT_GE(FLines.size(), 1u);
    EXPECT_NE(FLines[0].Text.find("]part one, part two"), std::string::npos) << FLines[0].Text;
    for (const TLine& l : FLines) {
        EXPECT_TRUE(l.OnMain) << l.Text;
        EXPECT_EQ(l.ThreadId, workerId.load()) << l.Text;
    }
}

} // namespace
