// The conversion component: a list of conversion tasks, each one engine configured from option
// records, run one after another on the calling thread or each on a conversion thread of its own
// with a bounded number running at once. Progress and termination arrive as events that carry
// the task's index.
//
// Threads: every operation below is called on the application's thread. Events are NOT moved to
// that thread: in threaded mode OnProgress runs on the task's conversion thread (under the
// component's lock) and OnTerminate on a short-lived thread of its own ("convert-event"); in
// sequential mode both run on the thread that called StartConvert. A handler that touches the
// user interface must hand the work over itself.
#pragma once

#include "AVProbe.h"
#include "FFmpeg.h"
#include "TaskOptions.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

class TBitmap; // a video frame as a picture; only the video paths hand one over

// What the video hook does with one frame (video processing).
enum THookAction { haContinue, haBypass, haStop };

// Priorities a conversion thread may get: tpIdle..tpNormal.
using TConvertPriority = TThreadPriority;

using TProgressEvent =
    std::function<void(int32_t index, int32_t frameNumber, int32_t fps, int32_t currentDuration,
                       float quality, float bitRate, int64_t currentSize, int32_t totalOutputDuration)>;
// index -1: every task of the run has terminated.
using TTerminateEvent =
    std::function<void(int32_t index, bool finished, bool exception, const std::string& message)>;
using TBeforeHookEvent = std::function<void(int32_t index, int64_t pts, THookAction& hookAction)>;
using TCustomHookEvent = std::function<void(int32_t index, TBitmap* bitmap, int32_t frameNumber, int64_t pts,
                                            bool& update, bool& stopHook)>;
using TPreviewBitmapEvent =
    std::function<void(int32_t index, TBitmap* bitmap, int32_t frameNumber, int64_t pts)>;

// A task index that is not in the list.
class EListError : public std::out_of_range {
public:
    using std::out_of_range::out_of_range;
};

// A time range of the video hook, in µs.
struct THookRange {
    int64_t Start = 0;
    int64_t End = 0;
    bool operator==(const THookRange&) const = default;
};

// Parses "start-end,start-end" (milliseconds) into ranges in µs, sorted by their end. A text that
// is not a number counts as -1 ms; a pair is kept when end >= start and end >= 0.
std::vector<THookRange> ParseHookRanges(const std::string& text);

// A local date-time (days since 30 December 1899, the fraction the time of day) as seconds since
// 1 January 1970 UTC, with the local time zone's rules for that date.
int64_t DateTimeToUnixSeconds(double dateTime);

// A colour of the window toolkit as 0xRRGGBB; system colour codes resolve to the classic palette.
uint32_t ColorToRGB(TColor color);

// One conversion task: an engine with its index in the list, copies of its option records and a
// probe that describes the input it opened last.
class TFFmpeg : public TCustomFFmpeg {
public:
    TFFmpeg();
    // Stops a running conversion and waits for every thread of the engine while this task's own
    // members still exist: its termination reads TaskIndex.
    ~TFFmpeg() override;

    // Position in the component's list; -1 until the task is added. Written before the task runs.
    int32_t TaskIndex = -1;
    TInputOptions InputOptions;   // the input record added last
    TOutputOptions OutputOptions; // the output record
    TAVProbe& Probe() { return *FProbe; }

    // The record translation (configuring thread, before the run). Each raises what the engine
    // raises; settings applied before a failure stay.
    // Applies the "name=value" lines of an ExtOptions text that belong to the pass: 2 general
    // lines, 1 preset lines ("apre", "vpre", "spre"), 0 stream lines ("newaudio", "newvideo",
    // "newsubtitle").
    void ApplyOptionText(const std::string& text, int pass);
    // The input record's settings that precede opening the file (no FileName handling).
    void ApplyInputOptions(const TInputOptions& options);
    void ApplyOutputOptions(const TOutputOptions& options);
    void ApplyTarget(const TOutputOptions& options);
    void SetHookRanges(const std::string& text);

    // ---- Video state (video processing; the audio paths never use it) ---------------------
    int32_t FPreviewFlags = 0; // bit 0 preview, bit 1 preview bitmap; guarded by the list's lock
    std::vector<THookRange> FHookRanges;
    std::function<void(TFFmpeg* sender, int64_t pts, THookAction& action)> FBeforeHookCallback;
    std::function<void(TFFmpeg* sender, TBitmap* bitmap, int32_t frameNumber, int64_t pts, bool& update,
                       bool& stopHook)>
        FCustomHookCallback;
    std::function<void(TFFmpeg* sender, TBitmap* bitmap, int32_t frameNumber, int64_t pts)>
        FPreviewBitmapCallback;

private:
    std::unique_ptr<TAVProbe> FProbe;
};

// The tasks, guarded by their own lock, plus a copy of their number that is read without it.
class TFFmpegList {
public:
    TFFmpegList() = default;
    ~TFFmpegList() { Clear(); }
    TFFmpegList(const TFFmpegList&) = delete;
    TFFmpegList& operator=(const TFFmpegList&) = delete;

    // Frees every task (a running one is stopped and waited for) and empties the list. The stored
    // count drops to 0 only after the last task is gone.
    void Clear();
    // Appends the task, sets its TaskIndex and returns it.
    int32_t Add(std::unique_ptr<TFFmpeg> task);
    // Raises EListError "List index out of bounds (%d)" for an index not in the list.
    TFFmpeg* Get(int32_t index);
    // The same without raising: null for an index not in the list.
    TFFmpeg* Find(int32_t index);
    // The tasks in list order. The pointers stay valid until Clear, which only the application's
    // thread calls.
    std::vector<TFFmpeg*> Snapshot();
    int32_t Count() const { return FCount; }
    // Runs fn on every task in list order while holding the list's lock.
    void ForEach(const std::function<void(TFFmpeg&)>& fn);

private:
    std::mutex FLock;                            // guards FList
    std::vector<std::unique_ptr<TFFmpeg>> FList; // guarded by FLock
    std::atomic<int32_t> FCount{0};              // copy of FList.size()
};

class TCustomRAzevaVUV {
public:
    TCustomRAzevaVUV();
    // Stops running tasks (their terminations are still delivered) before the lock goes.
    virtual ~TCustomRAzevaVUV();
    TCustomRAzevaVUV(const TCustomRAzevaVUV&) = delete;
    TCustomRAzevaVUV& operator=(const TCustomRAzevaVUV&) = delete;

    std::string About;
    std::string Version() const { return "2.5"; }

    // Loads the converter's libraries from the folder; false with LastErrMsg.
    bool LoadAVLib(const std::string& folder);
    // Text of the last failure of LoadAVLib, AddTask, AddInput or SetOutput.
    std::string LastErrMsg;

    void ClearTasks();
    int32_t TaskCount() const { return FTaskList->Count(); }
    // A new task reading fileName; its index, or -1 with LastErrMsg. An options record whose
    // FileName is empty gets fileName written into it; fileName is what is opened either way.
    int32_t AddTask(const std::string& fileName, TInputOptions* options = nullptr);
    // One more input for task index (EListError for a bad index); false with LastErrMsg.
    bool AddInput(int32_t index, const std::string& fileName, TInputOptions* options = nullptr);
    // The output of task index (EListError for a bad index); false with LastErrMsg.
    bool SetOutput(int32_t index, const std::string& fileName, TOutputOptions* options = nullptr);
    // maxThreads > 0: at most that many tasks run at once, each on its own thread, the next one
    // started when one terminates; returns at once. maxThreads <= 0: every task runs to its end
    // on the calling thread, in list order, before this returns.
    void StartConvert(int32_t maxThreads);
    // No further task starts; every task is stopped (with wait: and waited for, while queued
    // main-thread calls keep being served) and reports its termination, then the final event.
    // Progress handlers of the stopping tasks may still run meanwhile; the wait keeps serving
    // their CallInMainThread requests.
    void StopConvert(bool wait);

    // A probe for the application's own use; the component never uses it.
    TAVProbe& AVProbe() { return *FAVProbe; }
    // Task index of the list (EListError for a bad index).
    TFFmpeg* Task(int32_t index) { return FTaskList->Get(index); }

    // Milliseconds between progress events; values <= 100 store 100.
    int32_t ProgressInterval() const { return FProgressInterval; }
    void SetProgressInterval(int32_t value);
    std::atomic<TConvertPriority> ThreadPriority{tpNormal};
    bool Preview() const { return FPreview; }
    void SetPreview(bool value);
    bool PreviewBitmap() const { return FPreviewBitmap; }
    void SetPreviewBitmap(bool value);

    // Assign before StartConvert; they are read by the conversion and event threads.
    TProgressEvent OnProgress;
    TTerminateEvent OnTerminate;
    TBeforeHookEvent OnBeforeHook;
    TCustomHookEvent OnCustomHook;
    TPreviewBitmapEvent OnPreviewBitmap;

protected:
    // Stops and frees every task; their terminations are still delivered. The destructor does
    // this too, but a task's callbacks dispatch through this object's virtual operations: a
    // derived class calls it first in its own destructor, while the whole object still exists.
    void DestroyTasks();

    // Callbacks of the tasks' engines. Conversion thread (or the thread of StartConvert in
    // sequential mode); DoTaskTerminate also on the engine's terminate thread.
    virtual void DoBeforeHook(TFFmpeg* sender, int64_t pts, THookAction& hookAction);
    virtual void DoCustomHook(TFFmpeg* sender, TBitmap* bitmap, int32_t frameNumber, int64_t pts,
                              bool& update, bool& stopHook);
    virtual void DoPreviewBitmap(TFFmpeg* sender, TBitmap* bitmap, int32_t frameNumber, int64_t pts);
    virtual void DoProgress(TCustomFFmpeg* sender, int32_t frameNumber, int32_t fps, int32_t currentDuration,
                            float quality, float bitRate, int64_t currentSize, int32_t totalOutputDuration);
    // Bookkeeping of one task's end: its event, the final event after the last one, and in
    // threaded mode the start of the next task. A null sender delivers only the final event.
    virtual void DoTaskTerminate(TCustomFFmpeg* sender);

private:
    class TDoTerminateThread;

    void DoAllTerminated();
    void DeliverTermination(int32_t index, bool finished, bool exception, const std::string& message);
    void InstallCallbacks(TFFmpeg& task);
    void ApplyInput(TFFmpeg& task, const std::string& fileName, TInputOptions* options);
    void StartNextTask();
    void StartTask(int32_t index);

    // Held while progress and termination are forwarded (so handlers are serialised and each
    // termination's bookkeeping is whole). Recursive: a task that fails validation terminates
    // inside the StartTask of a termination that already holds it. The application's thread
    // never takes it while tasks can run, so a handler may wait for that thread.
    std::recursive_mutex FLock;
    // The run's counters are atomics: the application's thread sets them (start, stop, clear)
    // while terminating tasks read them under FLock.
    std::atomic<int32_t> FNextTask{-1};    // index of the next task to start
    std::atomic<bool> FThreaded{false};    // tasks of this run have their own threads
    std::atomic<int32_t> FPendingCount{0}; // tasks not yet started; only StartConvert raises it
    std::atomic<int32_t> FDoneCount{0};    // tasks that terminated in this run (written under FLock)
    int32_t FTaskVerbose = 1;              // "v" of every new task
    std::atomic<int32_t> FProgressInterval{500};
    std::atomic<bool> FPreview{false};
    std::atomic<bool> FPreviewBitmap{false};
    std::unique_ptr<TAVProbe> FAVProbe;
    std::unique_ptr<TFFmpegList> FTaskList; // freed before FLock (destructor)
};

// The component as the application places it.
class ZEVuzuzAVE : public TCustomRAzevaVUV {
public:
    ZEVuzuzAVE() = default;
    ~ZEVuzuzAVE() override { DestroyTasks(); }
};
