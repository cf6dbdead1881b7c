// A reset engine with the converter's libraries loaded, and a capture of the engine's log lines.
#pragma once

#include "FFmpeg.h"
#include "FFmpegLogger.h"
#include "MediaApi.h"
#include "TestLibs.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

class OptionTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { LoadTestLibs(ConverterLibs); }

    void SetUp() override {
        ASSERT_TRUE(FFLoader().AllLoaded(ConverterLibs)) << FFLoader().LastErrMsg();
        FSavedLevel = FFLogger().LogLevel();
        FFLogger().SetLogLevel(llInfo);
        // Tests run on the main thread, so log lines arrive here at once.
        FFLogger().OnLog = [this](const void*, uint32_t, TLogLevel level, const std::string& text) {
            Log.push_back({level, text});
        };
        Engine.Reset();
    }

    void TearDown() override {
        FFLogger().OnLog = nullptr;
        FFLogger().SetLogLevel(FSavedLevel);
    }

    bool Logged(TLogLevel level, const std::string& text) const {
        for (const auto& line : Log)
            if (line.Level == level && line.Text == text) return true;
        return false;
    }

    // Value of an option held by the audio (1) or video (0) codec option context.
    int64_t CodecOption(int mediaType, const char* name) {
        int64_t v = -1;
        EXPECT_GE(av::av_opt_get_int(Engine.FOptionContexts.CodecOptions[mediaType], name, 0, &v), 0) << name;
        return v;
    }

    struct TLine {
        TLogLevel Level;
        std::string Text;
    };
    std::vector<TLine> Log;
    TCustomFFmpeg Engine;

private:
    TLogLevel FSavedLevel = llInfo;
};

// The message of the exception of type E that `fn` raises, or "<no exception>".
template <class E, class F> std::string MessageOf(F&& fn) {
    try {
        fn();
    } catch (const E& e) {
        return e.what();
    }
    return "<no exception>";
}
