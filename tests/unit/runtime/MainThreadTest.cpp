// Calls into the main thread and the worker thread class: queued calls run on the main thread
// while it waits, threads are named, free themselves and never deadlock a waiting main thread.
#include "MyUtils.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <pthread.h>
#include <sys/resource.h>
#include <vector>

using namespace std::chrono_literals;

namespace {

// Ends the process when a test hangs: a deadlock must fail, not stall the suite.
class TWatchdog {
public:
    explicit TWatchdog(std::chrono::seconds limit)
        : FThread([this, limit] {
              std::unique_lock<std::mutex> lock(FLock);
              if (!FDone.wait_for(lock, limit, [this] { return FStop; })) {
                  std::fprintf(stderr, "watchdog: test hung (deadlock?)\n");
                  std::_Exit(3);
              }
          }) {}
    ~TWatchdog() {
        {
            std::lock_guard<std::mutex> guard(FLock);
            FStop = true;
        }
        FDone.notify_all();
        FThread.join();
    }

private:
    std::mutex FLock;
    std::condition_variable FDone;
    bool FStop = false;
    std::thread FThread;
};

TEST(RuntimeMainThread, TheTestThreadIsTheMainThread) {
    EXPECT_TRUE(IsMainThread());
    bool workerIsMain = true;
    std::thread([&] { workerIsMain = IsMainThread(); }).join();
    EXPECT_FALSE(workerIsMain);
}

TEST(RuntimeMainThread, CallOnTheMainThreadRunsAtOnce) {
    bool ran = false;
    CallInMainThread([&] { ran = true; });
    EXPECT_TRUE(ran);
    EXPECT_FALSE(CheckSynchronize(0)); // nothing was queued
}

TEST(RuntimeMainThread, WorkerBlocksUntilTheMainThreadRunsItsCall) {
    TWatchdog watchdog(20s);
    std::thread::id ranOn;
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        CallInMainThread([&] { ranOn = std::this_thread::get_id(); });
        returned = true;
    });
    // Not served yet: the worker must still be waiting.
    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(returned);
    // CheckSynchronize waits for the call and runs it.
    EXPECT_TRUE(CheckSynchronize(5000));
    worker.join();
    EXPECT_TRUE(returned);
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(RuntimeMainThread, CheckSynchronizeWaitsOnlyUpToItsTimeout) {
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(CheckSynchronize(60));
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, 50ms);
    EXPECT_LT(waited, 2s);
}

TEST(RuntimeMainThread, ExceptionOfACallReachesTheWorker) {
    TWatchdog watchdog(20s);
    std::string caught;
    TFunctionThread worker("raiser", [&] {
        try {
            CallInMainThread([] { throw std::runtime_error("from main"); });
        } catch (const std::exception& e) {
            caught = e.what();
        }
    });
    worker.Start();
    worker.WaitFor();
    EXPECT_EQ(caught, "from main");
}

TEST(RuntimeMainThread, WakerRunsOnTheQueuingThread) {
    TWatchdog watchdog(20s);
    std::atomic<int> wakes{0};
    std::thread::id wokenFrom;
    SetMainThreadWaker([&] {
        wokenFrom = std::this_thread::get_id();
        ++wakes;
    });
    std::thread::id workerId;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        workerId = std::this_thread::get_id();
        CallInMainThread([] {});
        done = true;
        WakeMainThread();
    });
    WaitUntil([&] { return done.load(); });
    worker.join();
    SetMainThreadWaker(nullptr);
    EXPECT_EQ(wakes, 1);
    EXPECT_EQ(wokenFrom, workerId);
}

TEST(RuntimeMainThread, WaitUntilServesCallsWhileWaiting) {
    TWatchdog watchdog(20s);
    std::vector<int> order; // touched on the main thread only
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int i = 0; i < 5; ++i)
            CallInMainThread([&order, i] { order.push_back(i); });
        done = true;
        WakeMainThread();
    });
    WaitUntil([&] { return done.load(); });
    worker.join();
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
}

TEST(RuntimeMainThread, PumpMessagesRunsCallsThenTheToolkitPump) {
    TWatchdog watchdog(20s);
    std::vector<std::string> seen;
    SetMessagePump([&] { seen.push_back("pump"); });
    std::atomic<bool> queued{false};
    std::thread worker([&] {
        SetMainThreadWaker([&] { queued = true; });
        CallInMainThread([&] { seen.push_back("call"); });
    });
    while (!queued)
        std::this_thread::sleep_for(1ms);
    PumpMessages();
    worker.join();
    SetMessagePump(nullptr);
    SetMainThreadWaker(nullptr);
    EXPECT_EQ(seen, (std::vector<std::string>{"call", "pump"}));
}

TEST(RuntimeThread, WaitForServesCallsOfTheWorker) {
    TWatchdog watchdog(20s);
    int onMain = 0;
    TFunctionThread worker("caller", [&] {
        for (int i = 0; i < 20; ++i)
            CallInMainThread([&] {
                if (IsMainThread()) ++onMain;
            });
    });
    EXPECT_FALSE(worker.Started());
    worker.Start();
    worker.WaitFor();
    EXPECT_TRUE(worker.Finished());
    EXPECT_EQ(onMain, 20);
    worker.WaitFor(); // a second wait returns at once
}

TEST(RuntimeThread, WaitForFromAnotherWorker) {
    TWatchdog watchdog(20s);
    TFunctionThread sleeper("sleeper", [] { std::this_thread::sleep_for(30ms); });
    sleeper.Start();
    bool finishedSeen = false;
    std::thread waiter([&] {
        sleeper.WaitFor();
        finishedSeen = sleeper.Finished();
    });
    waiter.join();
    EXPECT_TRUE(finishedSeen);
}

TEST(RuntimeThread, DestroyingAThreadObjectServesItsPendingCalls) {
    // The owner forgets WaitFor: the destructor must not join while the worker is blocked in
    // CallInMainThread.
    TWatchdog watchdog(20s);
    std::atomic<bool> ran{false};
    {
        TFunctionThread worker("forgotten", [&] {
            std::this_thread::sleep_for(20ms);
            CallInMainThread([&] { ran = true; });
        });
        worker.Start();
    }
    EXPECT_TRUE(ran);
}

class TCountedThread : public TThread {
public:
    TCountedThread(std::atomic<int>& destroyed, std::atomic<int>& ranOnMain)
        : TThread("selffree"), FDestroyed(destroyed), FRanOnMain(ranOnMain) {
        FreeOnTerminate = true;
    }
    ~TCountedThread() override { ++FDestroyed; }

protected:
    void Execute() override {
        CallInMainThread([this] {
            if (IsMainThread()) ++FRanOnMain;
        });
    }

private:
    std::atomic<int>& FDestroyed;
    std::atomic<int>& FRanOnMain;
};

TEST(RuntimeThread, FreeOnTerminateThreadsDeleteThemselves) {
    TWatchdog watchdog(20s);
    std::atomic<int> destroyed{0}, ranOnMain{0};
    const int count = 32;
    for (int i = 0; i < count; ++i)
        (new TCountedThread(destroyed, ranOnMain))->Start();
    WaitUntil([&] { return destroyed.load() == count; });
    EXPECT_EQ(ranOnMain, count);
}

TEST(RuntimeThread, FreeOnTerminateThreadThatEndsAtOnce) {
    // The thread may be gone before Start returns; Start must not touch the object then.
    struct TInstantThread : TFunctionThread {
        TInstantThread(std::atomic<int>& done, std::atomic<int>& destroyed)
            : TFunctionThread("instant", [&done] { ++done; }), Destroyed(destroyed) {}
        ~TInstantThread() override { ++Destroyed; }
        std::atomic<int>& Destroyed;
    };
    TWatchdog watchdog(20s);
    std::atomic<int> done{0}, destroyed{0};
    for (int i = 0; i < 64; ++i) {
        auto t = new TInstantThread(done, destroyed);
        t->FreeOnTerminate = true;
        t->Start();
    }
    // Every thread ran its body once and deleted itself.
    WaitUntil([&] { return destroyed.load() == 64; });
    EXPECT_EQ(done, 64);
    EXPECT_EQ(destroyed, 64);
}

TEST(RuntimeThread, ThreadsCarryTheirNames) {
    std::string shortName, longName;
    auto nameOf = [](std::string& out) {
        char buffer[32] = {};
        pthread_getname_np(pthread_self(), buffer, sizeof buffer);
        out = buffer;
    };
    TFunctionThread a("convert", [&] { nameOf(shortName); });
    TFunctionThread b("a-very-long-thread-name", [&] { nameOf(longName); });
    a.Start();
    b.Start();
    a.WaitFor();
    b.WaitFor();
    EXPECT_EQ(shortName, "convert");
    EXPECT_EQ(longName, "a-very-long-thr"); // the kernel keeps 15 characters
    EXPECT_EQ(b.Name(), "a-very-long-thread-name");
}

TEST(RuntimeThread, TerminateIsSeenByTheWorker) {
    TWatchdog watchdog(20s);
    std::atomic<int> rounds{0};
    TThread* self = nullptr;
    TFunctionThread worker("looper", [&] {
        while (!self->Terminated()) {
            ++rounds;
            std::this_thread::sleep_for(1ms);
        }
    });
    self = &worker;
    worker.Start();
    while (rounds == 0)
        std::this_thread::sleep_for(1ms);
    worker.Terminate();
    worker.WaitFor();
    EXPECT_TRUE(worker.Terminated());
    EXPECT_TRUE(worker.Finished());
}

TEST(RuntimeThread, ExceptionInExecuteEndsTheThreadQuietly) {
    TWatchdog watchdog(20s);
    TFunctionThread worker("thrower", [] { throw std::runtime_error("lost"); });
    worker.Start();
    worker.WaitFor();
    EXPECT_TRUE(worker.Finished());
}

TEST(RuntimeThread, PriorityBecomesTheNiceValue) {
    int niceBefore = 99, niceAfter = 99;
    std::atomic<bool> go{false}, running{false};
    TFunctionThread worker("lowprio", [&] {
        niceBefore = ::getpriority(PRIO_PROCESS, CurrentThreadId());
        running = true;
        while (!go)
            std::this_thread::sleep_for(1ms);
        niceAfter = ::getpriority(PRIO_PROCESS, CurrentThreadId());
    });
    worker.SetPriority(tpLower);
    worker.Start();
    while (!running)
        std::this_thread::sleep_for(1ms);
    worker.SetPriority(tpIdle); // while running
    go = true;
    worker.WaitFor();
    EXPECT_EQ(niceBefore, 5);
    EXPECT_EQ(niceAfter, 19);
    EXPECT_EQ(worker.Priority(), tpIdle);
}

} // namespace
