// Shared by the component's integration tests: loaded libraries, a scratch folder, waiting on the
// main thread with a deadline, and a thread-safe record of the component's events.
#pragma once

#include "RAzevaVUV.h"

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class ConverterFixture : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;

    // A file name in this process's scratch folder.
    static std::string OutPath(const std::string& name);
    // Runs queued main-thread calls until done() holds; false after timeoutMs.
    static bool WaitMain(const std::function<bool()>& done, int timeoutMs = 60000);

private:
    static std::string FScratch;
};

std::string CurrentThreadName();

// One OnTerminate call.
struct TTermination {
    int32_t Index;
    bool Finished;
    bool Exception;
    std::string Message;
    std::thread::id Thread;
    std::string ThreadName;
};

// Records OnTerminate calls of a component (any thread).
class TEventLog {
public:
    void Attach(TCustomRAzevaVUV& component);
    std::vector<TTermination> Terminations(); // in arrival order, the final event included
    int FinalCount();
    bool HasFinal() { return FinalCount() > 0; }

    std::function<void(const TTermination&)> OnEvent; // extra check, called under the log's lock

private:
    std::mutex FLock; // guards FEvents
    std::vector<TTermination> FEvents;
};
