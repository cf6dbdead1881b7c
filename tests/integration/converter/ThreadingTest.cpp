// Starting, bounding and stopping the task list's threads, and the threads events arrive on.
#include "ConverterFixture.h"
#include "MyUtils.h"
#include "TestMedia.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <set>

namespace {

class ConverterThreads : public ConverterFixture {
protected:
    // `count` tasks, each converting its own generated WAV into `ext` with the encoder.
    static void AddTasks(ZEVuzuzAVE& component, int count, double seconds, const std::string& tag,
                         const std::string& ext = ".wav", const std::string& encoder = "pcm_s16le") {
        const std::string input = TestMediaFile({TMediaFormat::Wav16, seconds, 44100, 2});
        for (int i = 0; i < count; ++i) {
            ASSERT_EQ(component.AddTask(input), i) << component.LastErrMsg;
            TOutputOptions out;
            out.AudioCodec = encoder;
            ASSERT_TRUE(component.SetOutput(i, OutPath(tag + std::to_string(i) + ext), &out))
                << component.LastErrMsg;
        }
    }

    static std::vector<int32_t> Indexes(const std::vector<TTermination>& events) {
        std::vector<int32_t> indexes;
        for (const auto& event : events)
            indexes.push_back(event.Index);
        return indexes;
    }
};

} // namespace

// With two threads for three tasks: 0 and 1 run at once, 2 only after one of them ended, the
// final event after all three. Progress comes on the conversion threads, terminations on event
// threads of their own.
TEST_F(ConverterThreads, ThreeTasksOnTwoThreads) {
    ZEVuzuzAVE component;
    AddTasks(component, 3, 2.0, "bounded");
    TFFmpeg* tasks[3] = {component.Task(0), component.Task(1), component.Task(2)};
    const auto mainThread = std::this_thread::get_id();

    // The first progress event holds its conversion thread (and the component's lock, so no
    // task can terminate and start the next) until the test has looked.
    std::mutex gateLock;
    std::condition_variable gateChanged;
    bool gateOpen = false;
    std::atomic<bool> gateEntered{false};
    std::atomic<int> mostRunning{0};
    std::atomic<bool> thirdStartedAfterAnEnd{false};
    std::set<std::string> progressThreadNames;
    std::atomic<bool> progressOnMain{false};
    component.SetProgressInterval(100);
    component.OnProgress = [&](int32_t index, int32_t, int32_t, int32_t, float, float, int64_t, int32_t) {
        const int running = int(std::count_if(tasks, tasks + 3, [](TFFmpeg* t) { return t->Converting(); }));
        mostRunning = std::max(mostRunning.load(), running);
        if (std::this_thread::get_id() == mainThread) progressOnMain = true;
        if (index == 2 && !thirdStartedAfterAnEnd)
            thirdStartedAfterAnEnd = tasks[0]->Terminated() || tasks[1]->Terminated();
        std::unique_lock<std::mutex> lock(gateLock);
        progressThreadNames.insert(CurrentThreadName());
        if (!gateOpen) {
            gateEntered = true;
            gateChanged.wait_for(lock, std::chrono::seconds(30), [&] { return gateOpen; });
        }
    };
    TEventLog log;
    std::atomic<bool> allEndedBeforeFinal{false};
    log.OnEvent = [&](const TTermination& event) {
        if (event.Index == -1)
            allEndedBeforeFinal = std::all_of(tasks, tasks + 3, [](TFFmpeg* t) { return t->Terminated(); });
    };
    log.Attach(component);

    component.StartConvert(2);
    ASSERT_TRUE(WaitMain([&] { return gateEntered.load(); }));
    EXPECT_TRUE(tasks[0]->Converting());
    EXPECT_TRUE(tasks[1]->Converting());
    EXPECT_FALSE(tasks[2]->Converting());
    EXPECT_FALSE(tasks[2]->Terminated());
    {
        std::lock_guard<std::mutex> lock(gateLock);
        gateOpen = true;
    }
    gateChanged.notify_all();

    ASSERT_TRUE(WaitMain([&] { return log.Terminations().size() == 4; }));
    const auto events = log.Terminations();
    std::vector<int32_t> indexes = Indexes(events);
    std::sort(indexes.begin(), indexes.end());
    EXPECT_EQ(indexes, (std::vector<int32_t>{-1, 0, 1, 2}));
    for (const auto& event : events) {
        EXPECT_TRUE(event.Finished) << event.Index << ": " << event.Message;
        EXPECT_FALSE(event.Exception) << event.Index << ": " << event.Message;
        EXPECT_NE(event.Thread, mainThread);
        EXPECT_EQ(event.ThreadName, "convert-event");
    }
    EXPECT_TRUE(allEndedBeforeFinal);
    EXPECT_TRUE(thirdStartedAfterAnEnd);
    EXPECT_LE(mostRunning.load(), 2);
    EXPECT_FALSE(progressOnMain);
    EXPECT_EQ(progressThreadNames, (std::set<std::string>{"convert"}));
}

TEST_F(ConverterThreads, SequentialRunStaysOnTheCallersThread) {
    ZEVuzuzAVE component;
    AddTasks(component, 2, 1.0, "sequential");
    const auto mainThread = std::this_thread::get_id();
    std::atomic<int> progressEvents{0};
    std::atomic<bool> progressOffMain{false};
    component.OnProgress = [&](int32_t, int32_t, int32_t, int32_t, float, float, int64_t, int32_t) {
        ++progressEvents;
        if (std::this_thread::get_id() != mainThread) progressOffMain = true;
    };
    TEventLog log;
    log.Attach(component);

    component.StartConvert(0);
    // Everything happened inside the call, in list order.
    const auto events = log.Terminations();
    EXPECT_EQ(Indexes(events), (std::vector<int32_t>{0, 1, -1}));
    for (const auto& event : events) {
        EXPECT_EQ(event.Thread, mainThread);
        EXPECT_TRUE(event.Finished) << event.Message;
    }
    EXPECT_GT(progressEvents.load(), 0);
    EXPECT_FALSE(progressOffMain);
}

// Tasks that never started still report one termination each, then the final event, also on a
// component whose previous run ended before the tasks were replaced.
TEST_F(ConverterThreads, StopBeforeStartTerminatesEveryTaskOnce) {
    ZEVuzuzAVE component;
    TEventLog log;
    log.Attach(component);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round == 0 ? "new component" : "after a run");
        if (round == 1) {
            component.ClearTasks();
            AddTasks(component, 1, 0.5, "ran");
            component.StartConvert(0);
            ASSERT_EQ(log.FinalCount(), 2);
            component.ClearTasks();
        }
        AddTasks(component, 3, 0.5, "unstarted" + std::to_string(round) + "-");
        const size_t before = log.Terminations().size();
        component.StopConvert(false);
        ASSERT_TRUE(WaitMain([&] { return log.Terminations().size() == before + 4; }));
        CheckSynchronize(50); // a duplicate final event would arrive now
        const auto all = log.Terminations();
        ASSERT_EQ(all.size(), before + 4);
        const std::vector<TTermination> events(all.begin() + long(before), all.end());
        std::vector<int32_t> indexes = Indexes(events);
        EXPECT_EQ(indexes.back(), -1);
        indexes.pop_back();
        std::sort(indexes.begin(), indexes.end());
        EXPECT_EQ(indexes, (std::vector<int32_t>{0, 1, 2}));
        for (size_t i = 0; i + 1 < events.size(); ++i) {
            EXPECT_FALSE(events[i].Finished);
            EXPECT_FALSE(events[i].Exception);
            EXPECT_EQ(events[i].Message, "");
        }
    }
}

TEST_F(ConverterThreads, StopWithWaitEndsRunningAndPendingTasks) {
    ZEVuzuzAVE component;
    AddTasks(component, 2, 10.0, "stopped", ".mp3", "libmp3lame");
    TFFmpeg* tasks[2] = {component.Task(0), component.Task(1)};
    std::atomic<bool> running{false};
    std::atomic<bool> secondReported{false};
    component.SetProgressInterval(100);
    // The first report of task 0 holds its thread until the stop has been requested, so the stop
    // surely meets a running conversion. Meanwhile it keeps needing the application's thread,
    // which must go on serving such calls while it stops the tasks.
    component.OnProgress = [&](int32_t index, int32_t, int32_t, int32_t, float, float, int64_t, int32_t) {
        if (index == 1) secondReported = true;
        if (index != 0 || running.exchange(true)) return;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!tasks[0]->FStopRequested && std::chrono::steady_clock::now() < deadline) {
            CallInMainThread([] {});
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    };
    TEventLog log;
    log.Attach(component);

    component.StartConvert(1);
    ASSERT_TRUE(WaitMain([&] { return running.load(); }));
    component.StopConvert(true);
    EXPECT_FALSE(tasks[0]->Converting());
    EXPECT_TRUE(tasks[0]->Terminated());
    EXPECT_TRUE(tasks[1]->Terminated());

    ASSERT_TRUE(WaitMain([&] { return log.Terminations().size() == 3; }));
    CheckSynchronize(50);
    const auto events = log.Terminations();
    ASSERT_EQ(events.size(), 3u);
    for (const auto& event : events) {
        if (event.Index == -1) continue;
        EXPECT_FALSE(event.Finished) << event.Index;
        EXPECT_FALSE(event.Exception) << event.Index << ": " << event.Message;
    }
    EXPECT_EQ(log.FinalCount(), 1);
    EXPECT_FALSE(secondReported); // the pending task never ran
}

// Destroying the component stops its running tasks; their terminations and the final event are
// still delivered (on event threads that outlive the component).
TEST_F(ConverterThreads, DestructionStopsRunningTasks) {
    TEventLog log;
    std::atomic<bool> running{false};
    {
        ZEVuzuzAVE component;
        AddTasks(component, 2, 10.0, "destroyed", ".mp3", "libmp3lame");
        log.Attach(component);
        component.SetProgressInterval(100);
        component.OnProgress = [&](int32_t, int32_t, int32_t, int32_t, float, float, int64_t, int32_t) {
            running = true;
        };
        component.StartConvert(2);
        ASSERT_TRUE(WaitMain([&] { return running.load(); }));
    }
    ASSERT_TRUE(WaitMain([&] { return log.Terminations().size() == 3; }));
    CheckSynchronize(50);
    const auto events = log.Terminations();
    ASSERT_EQ(events.size(), 3u);
    std::vector<int32_t> indexes = Indexes(events);
    std::sort(indexes.begin(), indexes.end());
    EXPECT_EQ(indexes, (std::vector<int32_t>{-1, 0, 1}));
    for (const auto& event : events) {
        if (event.Index >= 0) {
            EXPECT_FALSE(event.Exception) << event.Message;
        }
    }
}
