// Shared by the engine's input, output and run tests: an engine whose run path the tests can
// drive step by step, a fixture that loads the libraries, captures the engine's log lines and
// gives each test its own output folder, and small helpers for configuring conversions.
#pragma once

#include "FFPtr.h"
#include "FFmpeg.h"
#include "FFmpegLogger.h"
#include "RunState.h"
#include "TestLibs.h"
#include "TestMedia.h"
#include "UnicodeProtocol.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

// The engine with its run path open to the tests.
class TRunEngine : public TCustomFFmpeg {
public:
    using TCustomFFmpeg::FRun;
    using TCustomFFmpeg::RunConversion;
    TRunState& State() { return RunState(); }
    void SetupRun() { State().SetupRun(); }
    void ReleaseRunTables() { State().ReleaseTables(); }
    void ReportProgress(bool isLast) { State().ReportProgress(isLast); }
    double OutputTime(const TOutputStreamState& ost) const { return FRun->OutputTime(ost); }
};

class EngineRunTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { LoadTestLibs(ConverterLibs); }

    void SetUp() override {
        ASSERT_TRUE(FFLoader().AllLoaded(ConverterLibs)) << FFLoader().LastErrMsg();
        // Log lines reach the main thread, where the tests run (inline conversions log at once).
        FFLogger().OnLog = [this](const void*, uint32_t, TLogLevel level, const std::string& text) {
            Log.push_back(text);
            if (level <= llError) Errors.push_back(text);
        };
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        Folder = std::filesystem::temp_directory_path().string() + "/clipwell-enginerun-" +
                 std::to_string(::getpid()) + "-" + info->test_suite_name() + "-" + info->name() + "/";
        std::replace(Folder.begin(), Folder.end(), '\\', '_');
        std::filesystem::create_directories(Folder);
        Engine.Reset();
    }

    void TearDown() override {
        Engine.Reset(); // releases files before their folder goes
        FFLogger().OnLog = nullptr;
        std::error_code ignored;
        std::filesystem::remove_all(Folder, ignored);
    }

    std::string OutputPath(const std::string& name) const { return Folder + name; }

    bool Logged(const std::string& text) const {
        return std::find(Log.begin(), Log.end(), text) != Log.end();
    }
    bool LoggedPart(const std::string& part) const {
        return std::any_of(Log.begin(), Log.end(),
                           [&](const std::string& l) { return l.find(part) != std::string::npos; });
    }

    // Opens the input (optionally from `startMs`), asserting success.
    void OpenInput(const std::string& path, int64_t startMs = 0) {
        Engine.FStartTime = startMs * 1000;
        ASSERT_TRUE(Engine.OpenInputFile(path)) << Engine.LastError();
    }

    // Creates the output with the encoder `codec` ("" = the format's default, "copy" = stream
    // copy), asserting success.
    void OpenOutput(const std::string& path, const std::string& codec = "", bool join = false) {
        if (codec == "copy")
            Engine.FAudioStreamCopy = true;
        else
            Engine.FAudioCodecName = codec;
        ASSERT_GT(Engine.OpenOutputFile(path, join), 0) << Engine.LastError();
    }

    // Runs the configured conversion on this thread; true when it finished.
    bool Convert() {
        Engine.BeginConvert(false);
        return Engine.Finished();
    }

    TRunEngine Engine;
    std::vector<std::string> Log, Errors;
    std::string Folder;
};
