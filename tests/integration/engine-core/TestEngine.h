// An engine whose run is a function of the test, with a count of delivered terminations.
#pragma once

#include "FFmpeg.h"
#include "TestLibs.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

class TTestEngine : public TCustomFFmpeg {
public:
    TTestEngine() {
        FTerminateCallback = [this](TCustomFFmpeg* sender) {
            EXPECT_EQ(sender, this);
            std::lock_guard<std::mutex> guard(FResultsLock);
            Results.push_back(
                {Finished(), ExceptionRaised(), ExceptionMessage(), std::this_thread::get_id()});
            ++Terminations;
        };
    }

    // The run and the callback use this class's members: stop them before those go.
    ~TTestEngine() override { StopAndWait(); }

    // Counts as configured with one input and one output (the run below needs no files).
    void PretendFiles() {
        FInputFileCount = 1;
        FOutputFileCount = 1;
    }

    // Runs until a stop is requested, like the real loop (which tests the request before every
    // iteration).
    void RunUntilStopped() {
        Body = [](TTestEngine& e) {
            while (!e.FStopRequested)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        };
    }

    struct TResult {
        bool Finished;
        bool Exception;
        std::string Message;
        std::thread::id Thread;
    };
    TResult LastResult() {
        std::lock_guard<std::mutex> guard(FResultsLock);
        return Results.empty() ? TResult{} : Results.back();
    }

    std::function<void(TTestEngine&)> Body;
    std::atomic<int> Terminations{0};
    std::atomic<bool> SawStopAtStart{false};
    std::vector<TResult> Results; // guarded by FResultsLock

protected:
    void RunConversion() override {
        SawStopAtStart = FStopRequested.load();
        if (Body) Body(*this);
        FFinished = !FStopRequested;
    }

private:
    std::mutex FResultsLock;
};

class EngineLibrariesTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { LoadTestLibs(ConverterLibs); }
    void SetUp() override { ASSERT_TRUE(FFLoader().AllLoaded(ConverterLibs)) << FFLoader().LastErrMsg(); }
};

// The message of the FFmpegException that `fn` raises, or "<no exception>".
template <class F> std::string FFmpegMessageOf(F&& fn) {
    try {
        fn();
    } catch (const FFmpegException& e) {
        return e.what();
    }
    return "<no exception>";
}
