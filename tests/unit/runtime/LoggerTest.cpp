// The logger without the media libraries: level conversions and filters, the library callback's
// line assembly per thread with its bracketed prefix, and delivery on the main thread.
#include "FFmpegLogger.h"
#include "MediaApi.h"
#include "MyUtils.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <vector>

namespace {

struct TLogged {
    const void* Sender;
    uint32_t ThreadId;
    TLogLevel Level;
    std::string Text;
    bool OnMain;
};

// What the media libraries do: call the log target with a format and its argument list.
void LibraryLog(void* context, int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    TFFLogger::LogCallback(context, level, format, args);
    va_end(args);
}

const char* FakeItemName(void*) {
    return "fake item";
}

// A context as the libraries' logging convention has it: an AVClass pointer as first field.
struct TFakeContext {
    const AVClass* Class;
};

class RuntimeLogger : public testing::Test {
protected:
    void SetUp() override {
        FFLogger().SetLogLevel(llInfo);
        FFLogger().OnLog = [this](const void* sender, uint32_t threadId, TLogLevel level,
                                  const std::string& msg) {
            FLogged.push_back({sender, threadId, level, msg, IsMainThread()});
        };
        FClass.class_name = "FakeClass";
        FClass.item_name = FakeItemName;
        FContext.Class = &FClass;
    }
    void TearDown() override {
        FFLogger().OnLog = nullptr;
        FFLogger().SetLogLevel(llInfo);
    }
    std::vector<std::string> Texts() const {
        std::vector<std::string> out;
        for (const TLogged& l : FLogged)
            out.push_back(l.Text);
        return out;
    }
    std::string Prefix() { return Format("[fake item @ %p]", static_cast<void*>(&FContext)); }

    std::vector<TLogged> FLogged; // main thread only
    AVClass FClass{};
    TFakeContext FContext{};
};

TEST(RuntimeLogLevels, ConvertToAndFromLibraryNumbers) {
    EXPECT_EQ(LogLevelToLibrary(llQuiet), -8);
    EXPECT_EQ(LogLevelToLibrary(llPanic), 0);
    EXPECT_EQ(LogLevelToLibrary(llError), 16);
    EXPECT_EQ(LogLevelToLibrary(llInfo), 32);
    EXPECT_EQ(LogLevelToLibrary(llDebug), 48);
    EXPECT_EQ(LibraryToLogLevel(-100), llQuiet);
    EXPECT_EQ(LibraryToLogLevel(-8), llQuiet);
    EXPECT_EQ(LibraryToLogLevel(-7), llPanic); // truncation toward zero
    EXPECT_EQ(LibraryToLogLevel(-1), llPanic);
    EXPECT_EQ(LibraryToLogLevel(7), llPanic);
    EXPECT_EQ(LibraryToLogLevel(20), llError);
    EXPECT_EQ(LibraryToLogLevel(24), llWarning);
    EXPECT_EQ(LibraryToLogLevel(48), llDebug);
    EXPECT_EQ(LibraryToLogLevel(56), llDebug); // trace
}

TEST_F(RuntimeLogger, SetLogLevelByNameTakesNamesAndNumbers) {
    TFFLogger& logger = FFLogger();
    logger.SetLogLevelByName("Warning");
    EXPECT_EQ(logger.LogLevel(), llWarning);
    logger.SetLogLevelByName("20");
    EXPECT_EQ(logger.LogLevel(), llError);
    logger.SetLogLevelByName("-100");
    EXPECT_EQ(logger.LogLevel(), llQuiet);
    logger.SetLogLevelByName("DEBUG");
    EXPECT_EQ(logger.LogLevel(), llDebug);
    logger.SetLogLevelByName("quiet");
    EXPECT_EQ(logger.LogLevel(), llQuiet);
    try {
        logger.SetLogLevelByName("loud");
        FAIL() << "no conversion error";
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'loud' is not a valid integer value");
    }
    EXPECT_EQ(logger.LogLevel(), llQuiet); // unchanged by the failure
}

TEST_F(RuntimeLogger, WithoutTheLibraryOnlyTheOwnLevelChanges) {
    ASSERT_EQ(av::av_log_set_level, nullptr);
    FFLogger().SetLogLevel(llDebug);
    EXPECT_EQ(FFLogger().LogLevel(), llDebug);
    EXPECT_EQ(LibraryLogLevel(), 32);
}

TEST_F(RuntimeLogger, OwnMessagesAreFilteredByLevel) {
    TFFLogger& logger = FFLogger();
    int sender = 0;
    logger.SetLogLevel(llError);
    logger.Log(&sender, llWarning, "warning dropped");
    logger.Log(&sender, llInfo, "info dropped");
    logger.Log(&sender, llDebug, "debug dropped");
    logger.Log(&sender, llError, "error kept");
    logger.Log(&sender, llVerbose, "verbose kept"); // verbose passes at every level but quiet
    logger.Log(&sender, llQuiet, "quiet kept");
    logger.SetLogLevel(llQuiet);
    logger.Log(&sender, llVerbose, "verbose dropped at quiet");
    logger.Log(&sender, llPanic, "panic dropped at quiet");
    logger.Log(&sender, llQuiet, "quiet kept at quiet");
    EXPECT_EQ(Texts(),
              (std::vector<std::string>{"error kept", "verbose kept", "quiet kept", "quiet kept at quiet"}));
    ASSERT_FALSE(FLogged.empty());
    EXPECT_EQ(FLogged[0].Sender, &sender);
    EXPECT_EQ(FLogged[0].Level, llError);
    EXPECT_EQ(FLogged[0].ThreadId, CurrentThreadId());
}

TEST_F(RuntimeLogger, NothingIsDeliveredWithoutAHandler) {
    FFLogger().OnLog = nullptr;
    FFLogger().Log(nullptr, llError, "nobody listens");
    LibraryLog(nullptr, 16, "nobody listens either\n");
    EXPECT_TRUE(FLogged.empty());
}

TEST_F(RuntimeLogger, PartialLibraryLinesAreJoined) {
    LibraryLog(&FContext, 16, "abc");
    EXPECT_TRUE(FLogged.empty()); // not complete yet
    LibraryLog(&FContext, 16, "%s=%d\n", "def", 7);
    ASSERT_EQ(FLogged.size(), 1u);
    EXPECT_EQ(FLogged[0].Text, Prefix() + "abcdef=7");
    EXPECT_EQ(FLogged[0].Level, llError);
    EXPECT_EQ(FLogged[0].Sender, &FFLogger());
    EXPECT_EQ(FLogged[0].ThreadId, CurrentThreadId());
}

TEST_F(RuntimeLogger, PrefixOnlyAtTheStartOfALine) {
    LibraryLog(&FContext, 24, "a\nb\n");
    LibraryLog(nullptr, 24, "no context\n");
    LibraryLog(nullptr, 24, "start ");
    LibraryLog(&FContext, 24, "continued\n"); // a context in mid-line adds no prefix
    EXPECT_EQ(Texts(), (std::vector<std::string>{Prefix() + "a", "b", "no context", "start continued"}));
    EXPECT_EQ(FLogged[0].Level, llWarning);
}

TEST_F(RuntimeLogger, ClassNameWhenTheContextHasNoItemName) {
    FClass.item_name = nullptr;
    LibraryLog(&FContext, 16, "x\n");
    EXPECT_EQ(Texts(),
              (std::vector<std::string>{Format("[FakeClass @ %p]x", static_cast<void*>(&FContext))}));
}

TEST_F(RuntimeLogger, LibraryMessagesAboveTheFilterAreDropped) {
    ASSERT_EQ(LibraryLogLevel(), 32);
    LibraryLog(nullptr, 40, "verbose part");
    LibraryLog(nullptr, 48, "debug\n");
    LibraryLog(nullptr, 32 | (134 << 8), "info with a colour hint\n");
    LibraryLog(nullptr, 32, "info\n");
    EXPECT_EQ(Texts(), (std::vector<std::string>{"info with a colour hint", "info"}));
}

TEST_F(RuntimeLogger, LongLinesAreDeliveredWhole) {
    std::string longText(5000, 'q');
    LibraryLog(nullptr, 16, "%s", longText.c_str());
    LibraryLog(nullptr, 16, "%s\n", longText.c_str());
    ASSERT_EQ(FLogged.size(), 1u);
    EXPECT_EQ(FLogged[0].Text, longText + longText);
}

TEST_F(RuntimeLogger, InterleavedThreadsKeepTheirOwnLines) {
    // Two workers alternate fragments; each gets its own complete lines, delivered on the main
    // thread while the workers wait in CallInMainThread.
    std::atomic<int> step{0};
    auto waitStep = [&](int n) {
        while (step.load() < n)
            std::this_thread::yield();
    };
    std::atomic<uint32_t> idA{0}, idB{0};
    TFunctionThread a("log-a", [&] {
        idA = CurrentThreadId();
        LibraryLog(&FContext, 16, "A-one ");
        step = 1;
        waitStep(2);
        LibraryLog(nullptr, 16, "A-two\nA-");
        step = 3;
        waitStep(4);
        LibraryLog(nullptr, 16, "three\n");
    });
    TFunctionThread b("log-b", [&] {
        idB = CurrentThreadId();
        waitStep(1);
        LibraryLog(nullptr, 16, "B-one ");
        step = 2;
        waitStep(3);
        LibraryLog(nullptr, 16, "B-two\n");
        step = 4;
    });
    a.Start();
    b.Start();
    a.WaitFor();
    b.WaitFor();
    ASSERT_EQ(FLogged.size(), 3u);
    EXPECT_EQ(FLogged[0].Text, Prefix() + "A-one A-two");
    EXPECT_EQ(FLogged[0].ThreadId, idA.load());
    EXPECT_EQ(FLogged[1].Text, "B-one B-two");
    EXPECT_EQ(FLogged[1].ThreadId, idB.load());
    EXPECT_EQ(FLogged[2].Text, "A-three");
    EXPECT_EQ(FLogged[2].ThreadId, idA.load());
    for (const TLogged& l : FLogged)
        EXPECT_TRUE(l.OnMain) << l.Text;
}

TEST_F(RuntimeLogger, WorkerWaitsUntilTheMainThreadDeliveredItsMessage) {
    std::atomic<bool> returned{false};
    TFunctionThread worker("logger", [&] {
        FFLogger().Log(nullptr, llError, "from worker");
        returned = true;
    });
    worker.Start();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(returned); // blocked until the main thread serves the call
    EXPECT_TRUE(FLogged.empty());
    worker.WaitFor();
    EXPECT_TRUE(returned);
    ASSERT_EQ(FLogged.size(), 1u);
    EXPECT_TRUE(FLogged[0].OnMain);
    EXPECT_NE(FLogged[0].ThreadId, CurrentThreadId());
}

TEST_F(RuntimeLogger, ManyThreadsLoggingAtOnce) {
    // Every message arrives once and intact; run under TSan to check the line table.
    const int threads = 6, lines = 50;
    std::vector<std::unique_ptr<TFunctionThread>> workers;
    for (int t = 0; t < threads; ++t)
        workers.push_back(std::make_unique<TFunctionThread>("many", [t] {
            for (int i = 0; i < lines; ++i) {
                LibraryLog(nullptr, 16, "t%d ", t);
                LibraryLog(nullptr, 16, "line %d\n", i);
                FFLogger().Log(nullptr, llError, Format("own t%d %d", t, i));
            }
        }));
    for (auto& w : workers)
        w->Start();
    for (auto& w : workers)
        w->WaitFor();
    ASSERT_EQ(FLogged.size(), static_cast<size_t>(threads * lines * 2));
    std::vector<int> next(threads, 0), nextOwn(threads, 0);
    for (const TLogged& l : FLogged) {
        int t = -1, i = -1;
        if (std::sscanf(l.Text.c_str(), "t%d line %d", &t, &i) == 2) {
            ASSERT_TRUE(t >= 0 && t < threads) << l.Text;
            EXPECT_EQ(i, next[t]++) << l.Text;
        } else {
            ASSERT_EQ(std::sscanf(l.Text.c_str(), "own t%d %d", &t, &i), 2) << l.Text;
            EXPECT_EQ(i, nextOwn[t]++) << l.Text;
        }
    }
}

} // namespace
