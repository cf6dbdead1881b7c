// The engine's start/stop/terminate protocol: validation, one termination per run, stop
// requests, unstarted threads, several engines at once, and waits that keep serving calls into
// the main thread.
#include "EngineTexts.h"
#include "FFmpegLogger.h"
#include "TestEngine.h"

#include <memory>
#include <vector>

using EngineLifecycle = EngineLibrariesTest;

TEST_F(EngineLifecycle, ValidationChecksOutputsBeforeInputsAndTerminatesOnce) {
    TTestEngine engine;
    engine.Reset();
    EXPECT_EQ(engine.BeginConvert(false), nullptr);
    EXPECT_EQ(engine.Terminations, 1);
    EXPECT_TRUE(engine.Terminated());
    EXPECT_FALSE(engine.Converting());
    auto result = engine.LastResult();
    EXPECT_FALSE(result.Finished);
    EXPECT_TRUE(result.Exception);
    EXPECT_EQ(result.Message, "At least one output file must be specified");

    // Terminated: nothing more until Reset.
    EXPECT_EQ(engine.BeginConvert(true), nullptr);
    engine.EndConvert(true);
    EXPECT_EQ(engine.Terminations, 1);

    engine.Reset();
    engine.FOutputFileCount = 1;
    EXPECT_EQ(engine.BeginConvert(true), nullptr);
    EXPECT_EQ(engine.Terminations, 2);
    EXPECT_EQ(engine.LastResult().Message, "At least one input file must be specified");
    EXPECT_EQ(engine.FOutputFileCount, 0); // released before reporting
}

TEST_F(EngineLifecycle, InlineRunReportsFinishedOnTheCallersThread) {
    TTestEngine engine;
    engine.Reset();
    engine.PretendFiles();
    EXPECT_EQ(engine.BeginConvert(false), nullptr);
    EXPECT_EQ(engine.Terminations, 1);
    auto result = engine.LastResult();
    EXPECT_TRUE(result.Finished);
    EXPECT_FALSE(result.Exception);
    EXPECT_EQ(result.Thread, std::this_thread::get_id());
    EXPECT_EQ(engine.FInputFileCount, 0); // the run's end released everything

    EXPECT_EQ(engine.BeginConvert(false), nullptr); // runs once per Reset
    EXPECT_EQ(engine.Terminations, 1);
    engine.Reset();
    engine.PretendFiles();
    engine.BeginConvert(false);
    EXPECT_EQ(engine.Terminations, 2);
}

TEST_F(EngineLifecycle, ExceptionInTheRunBecomesTheTerminationMessage) {
    std::vector<std::pair<TLogLevel, std::string>> log;
    FFLogger().OnLog = [&](const void*, uint32_t, TLogLevel level, const std::string& text) {
        log.emplace_back(level, text);
    };
    TTestEngine engine;
    engine.Reset();
    engine.PretendFiles();
    engine.Body = [](TTestEngine&) { throw FFmpegException("Audio encoding failed"); };
    TConvertThread* thread = engine.BeginConvert(true);
    ASSERT_NE(thread, nullptr);
    thread->Start();
    WaitUntil([&] { return engine.Terminations == 1; });
    FFLogger().OnLog = nullptr;

    auto result = engine.LastResult();
    EXPECT_FALSE(result.Finished);
    EXPECT_TRUE(result.Exception);
    EXPECT_EQ(result.Message, "Audio encoding failed");
    EXPECT_NE(result.Thread, std::this_thread::get_id()); // delivered on the conversion thread
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), std::make_pair(llQuiet, std::string("Audio encoding failed")));
}

TEST_F(EngineLifecycle, SecondBeginConvertWhileRunningReturnsNullAndChangesNothing) {
    TTestEngine engine;
    engine.Reset();
    engine.PretendFiles();
    engine.RunUntilStopped();
    TConvertThread* thread = engine.BeginConvert(true, tpLower);
    ASSERT_NE(thread, nullptr);
    thread->Start();
    EXPECT_EQ(engine.BeginConvert(true), nullptr);
    EXPECT_EQ(engine.BeginConvert(false), nullptr);
    EXPECT_TRUE(engine.Converting());
    EXPECT_FALSE(engine.FStopRequested);

    engine.EndConvert(true);
    EXPECT_EQ(engine.Terminations, 1);
    auto result = engine.LastResult();
    EXPECT_FALSE(result.Finished); // stopped by request
    EXPECT_FALSE(result.Exception);
}

TEST_F(EngineLifecycle, EndConvertOnATaskThatNeverRanDeliversOneTermination) {
    for (bool wait : {true, false}) {
        TTestEngine engine;
        engine.Reset();
        engine.PretendFiles();
        engine.EndConvert(wait);
        engine.EndConvert(wait);
        WaitUntil([&] { return engine.Terminations >= 1; });
        EXPECT_EQ(engine.BeginConvert(false), nullptr); // the task is over
        engine.StopAndWait();
        EXPECT_EQ(engine.Terminations, 1) << "wait " << wait;
        auto result = engine.LastResult();
        EXPECT_FALSE(result.Finished);
        EXPECT_FALSE(result.Exception);
        EXPECT_NE(result.Thread, std::this_thread::get_id()); // on a terminate thread
    }
}

TEST_F(EngineLifecycle, BreakConvertStartsAnUnstartedThreadAndWaitsForIt) {
    TTestEngine engine;
    engine.Reset();
    engine.PretendFiles();
    engine.RunUntilStopped();
    ASSERT_NE(engine.BeginConvert(true), nullptr); // created, never started
    engine.BreakConvert(true);
    EXPECT_TRUE(engine.Terminated());
    EXPECT_FALSE(engine.Converting());
    EXPECT_EQ(engine.FConvertThread.load(), nullptr);
    EXPECT_TRUE(engine.SawStopAtStart);
    engine.StopAndWait(); // the callback may still be finishing
    EXPECT_EQ(engine.Terminations, 1);
    EXPECT_FALSE(engine.LastResult().Finished);
}

TEST_F(EngineLifecycle, WaitingKeepsServingCallsIntoTheMainThread) {
    // The run logs all the time; each message needs the main thread. A stop with wait must not
    // deadlock, and the termination callback may log too.
    int delivered = 0;
    FFLogger().OnLog = [&](const void*, uint32_t, TLogLevel, const std::string&) { ++delivered; };
    TTestEngine engine;
    engine.FTerminateCallback = [&](TCustomFFmpeg* sender) {
        FFLogger().Log(sender, llQuiet, "terminated");
        ++engine.Terminations;
    };
    engine.Reset();
    engine.PretendFiles();
    engine.Body = [](TTestEngine& e) {
        while (!e.FStopRequested)
            FFLogger().Log(&e, llQuiet, "working");
    };
    engine.BeginConvert(true)->Start();
    WaitUntil([&] { return delivered >= 5; });
    engine.EndConvert(true);
    engine.StopAndWait();
    FFLogger().OnLog = nullptr;
    EXPECT_EQ(engine.Terminations, 1);
}

TEST_F(EngineLifecycle, SeveralEnginesRunAtOnceAndEachTerminatesOnce) {
    constexpr int kEngines = 4;
    std::vector<std::unique_ptr<TTestEngine>> engines;
    std::atomic<int> running{0};
    for (int i = 0; i < kEngines; ++i) {
        auto engine = std::make_unique<TTestEngine>();
        engine->Reset();
        engine->PretendFiles();
        engine->Body = [&](TTestEngine& e) {
            ++running;
            while (!e.FStopRequested)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        };
        engines.push_back(std::move(engine));
    }
    for (auto& engine : engines)
        engine->BeginConvert(true)->Start();
    WaitUntil([&] { return running == kEngines; });
    for (auto& engine : engines)
        engine->EndConvert(false);
    WaitUntil([&] {
        for (auto& engine : engines)
            if (engine->Terminations < 1) return false;
        return true;
    });
    engines.clear(); // destruction waits for every thread of each engine
    EXPECT_EQ(running, kEngines);
}

TEST_F(EngineLifecycle, StopRacingTheEndOfARunStillTerminatesOnce) {
    // The run ends by itself at about the moment the stop arrives.
    for (int round = 0; round < 40; ++round) {
        TTestEngine engine;
        engine.Reset();
        engine.PretendFiles();
        engine.Body = [round](TTestEngine&) {
            std::this_thread::sleep_for(std::chrono::microseconds(round * 25));
        };
        engine.BeginConvert(true)->Start();
        std::this_thread::sleep_for(std::chrono::microseconds(500));
        engine.EndConvert(round % 2 == 0);
        engine.EndConvert(false);
        engine.StopAndWait();
        ASSERT_EQ(engine.Terminations, 1) << "round " << round;
    }
}

TEST_F(EngineLifecycle, DestroyingARunningEngineStopsItAndWaitsForTheCallback) {
    std::atomic<int> terminations{0};
    std::atomic<bool> callbackDone{false};
    auto engine = std::make_unique<TTestEngine>();
    engine->FTerminateCallback = [&](TCustomFFmpeg*) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20)); // a slow listener
        ++terminations;
        callbackDone = true;
    };
    engine->Reset();
    engine->PretendFiles();
    engine->RunUntilStopped();
    engine->BeginConvert(true)->Start();
    engine.reset();
    EXPECT_TRUE(callbackDone);
    EXPECT_EQ(terminations, 1);

    // Never started: destruction runs it to its end too.
    terminations = 0;
    engine = std::make_unique<TTestEngine>();
    engine->FTerminateCallback = [&](TCustomFFmpeg*) { ++terminations; };
    engine->Reset();
    engine->PretendFiles();
    ASSERT_NE(engine->BeginConvert(true), nullptr);
    engine.reset();
    EXPECT_EQ(terminations, 1);
}

TEST_F(EngineLifecycle, FullFileTablesRefuseTheNextEntry) {
    TCustomFFmpeg engine;
    engine.Reset();
    engine.FInputFileCount = kMaxFiles - 1;
    EXPECT_NO_THROW(engine.CheckInputFileRoom());
    engine.FInputFileCount = kMaxFiles;
    EXPECT_EQ(FFmpegMessageOf([&] { engine.CheckInputFileRoom(); }), Format(kMsgInputFilesFull, kMaxFiles));
    engine.FOutputFileCount = 18;
    EXPECT_NO_THROW(engine.CheckOutputFileRoom(2));
    EXPECT_EQ(FFmpegMessageOf([&] { engine.CheckOutputFileRoom(3); }),
              Format(kMsgOutputFilesFull, kMaxFiles));
    engine.FInputFileCount = engine.FOutputFileCount = 0;
}
