// The component: setting up tasks from records, starting them sequentially or on a bounded
// number of conversion threads, stopping them, and forwarding the engines' progress and
// termination to the application's events.
#include "FFmpegLoader.h"
#include "RAzevaVUV.h"

#include <algorithm>

namespace {
constexpr int32_t kMinProgressInterval = 100; // ms
} // namespace

// Delivers one termination event on a short-lived thread of its own; frees itself. It holds a
// copy of the handler, so a delivery still pending when the component goes does not touch it.
class TCustomRAzevaVUV::TDoTerminateThread : public TThread {
public:
    TDoTerminateThread(TTerminateEvent event, int32_t index, bool finished, bool exception,
                       std::string message)
        : TThread("convert-event"), FEvent(std::move(event)), FIndex(index), FFinished(finished),
          FException(exception), FMessage(std::move(message)) {
        FreeOnTerminate = true;
    }

protected:
    void Execute() override {
        if (FEvent) FEvent(FIndex, FFinished, FException, FMessage);
    }

private:
    TTerminateEvent FEvent;
    int32_t FIndex;
    bool FFinished;
    bool FException;
    std::string FMessage;
};

// ---- Construction ---------------------------------------------------------------------------

TCustomRAzevaVUV::TCustomRAzevaVUV()
    : FAVProbe(std::make_unique<TAVProbe>()), FTaskList(std::make_unique<TFFmpegList>()) {}

TCustomRAzevaVUV::~TCustomRAzevaVUV() {
    DestroyTasks();
    FTaskList.reset();
    FAVProbe.reset();
}

void TCustomRAzevaVUV::DestroyTasks() {
    // No task may start from a terminating one while the list goes.
    FPendingCount = 0;
    // Running tasks are stopped and deliver their termination through DoTaskTerminate, which
    // needs the list's count and FLock: the tasks go first, then the lock.
    FTaskList->Clear();
    std::lock_guard<std::recursive_mutex> lock(FLock); // no delivery holds it any more
}

// ---- Properties --------------------------------------------------------------------------------

void TCustomRAzevaVUV::SetProgressInterval(int32_t value) {
    FProgressInterval = value <= kMinProgressInterval ? kMinProgressInterval : value;
}

void TCustomRAzevaVUV::SetPreview(bool value) {
    FPreview = value;
    FTaskList->ForEach([value](TFFmpeg& task) {
        task.FPreviewFlags = value ? (task.FPreviewFlags | 1) : (task.FPreviewFlags & ~1);
    });
}

void TCustomRAzevaVUV::SetPreviewBitmap(bool value) {
    FPreviewBitmap = value;
    FTaskList->ForEach([value](TFFmpeg& task) {
        task.FPreviewFlags = value ? (task.FPreviewFlags | 2) : (task.FPreviewFlags & ~2);
    });
}

// ---- Setup -------------------------------------------------------------------------------------

bool TCustomRAzevaVUV::LoadAVLib(const std::string& folder) {
    FFLoader().SetLibPath(folder);
    const bool loaded = FFLoader().LoadLibs(ConverterLibs);
    if (!loaded) LastErrMsg = FFLoader().LastErrMsg();
    return loaded;
}

void TCustomRAzevaVUV::ClearTasks() {
    // Freeing a running task terminates it; with tasks still pending that termination would
    // start the next one, from the list that is being emptied.
    FPendingCount = 0;
    FTaskList->Clear();
    LastErrMsg.clear();
    FThreaded = false;
    // A new set of tasks starts a new count: StopConvert on tasks that never ran must see the
    // final event after their own terminations, not earlier.
    FDoneCount = 0;
    FNextTask = -1;
}

void TCustomRAzevaVUV::InstallCallbacks(TFFmpeg& task) {
    task.FProgressCallback = [this](TCustomFFmpeg* sender, int32_t frameNumber, int32_t fps,
                                    int32_t currentDuration, float quality, float bitRate,
                                    int64_t currentSize, int32_t totalOutputDuration) {
        DoProgress(sender, frameNumber, fps, currentDuration, quality, bitRate, currentSize,
                   totalOutputDuration);
    };
    task.FTerminateCallback = [this](TCustomFFmpeg* sender) { DoTaskTerminate(sender); };
}

// The input record of one input: stored in the task (after an empty FileName in the caller's
// record has been filled) and applied before the file opens. Without a record the stored copy
// returns to its defaults and nothing is applied.
void TCustomRAzevaVUV::ApplyInput(TFFmpeg& task, const std::string& fileName, TInputOptions* options) {
    if (options == nullptr) {
        ResetInputOptions(task.InputOptions);
        return;
    }
    if (options->FileName.empty()) options->FileName = fileName;
    task.InputOptions = *options;
    task.ApplyInputOptions(task.InputOptions);
}

int32_t TCustomRAzevaVUV::AddTask(const std::string& fileName, TInputOptions* options) {
    auto task = std::make_unique<TFFmpeg>();
    try {
        task->Reset();
        task->FVerbose = FTaskVerbose;
        task->FPreviewFlags = (FPreview ? 1 : 0) | (FPreviewBitmap ? 2 : 0);
        task->FPreviewBitmapCallback = [this](TFFmpeg* sender, TBitmap* bitmap, int32_t frameNumber,
                                              int64_t pts) {
            DoPreviewBitmap(sender, bitmap, frameNumber, pts);
        };
        ApplyInput(*task, fileName, options);
        if (!task->OpenInputFile(fileName)) {
            LastErrMsg = task->LastError();
            return -1;
        }
        task->Probe().AttachContext(task->FInputFiles[size_t(task->FInputFileCount - 1)].get());
        InstallCallbacks(*task);
        return FTaskList->Add(std::move(task));
    } catch (const std::exception& e) {
        LastErrMsg = e.what();
        return -1;
    }
}

bool TCustomRAzevaVUV::AddInput(int32_t index, const std::string& fileName, TInputOptions* options) {
    TFFmpeg* task = FTaskList->Get(index);
    try {
        ApplyInput(*task, fileName, options);
        if (!task->OpenInputFile(fileName)) {
            LastErrMsg = task->LastError();
            return false;
        }
        task->Probe().AttachContext(task->FInputFiles[size_t(task->FInputFileCount - 1)].get());
        return true;
    } catch (const std::exception& e) {
        LastErrMsg = e.what();
        return false;
    }
}

bool TCustomRAzevaVUV::SetOutput(int32_t index, const std::string& fileName, TOutputOptions* options) {
    TFFmpeg* task = FTaskList->Get(index);
    try {
        if (options != nullptr) {
            if (options->FileName.empty()) options->FileName = fileName;
            task->OutputOptions = *options;
            const TOutputOptions& o = task->OutputOptions;
            task->ApplyTarget(o);
            task->ApplyOptionText(o.ExtOptions, 2);
            task->ApplyOutputOptions(o);
            task->ApplyOptionText(o.ExtOptions, 1);
            if (o.UseCustomHook) {
                task->FCustomHookCallback = [this](TFFmpeg* sender, TBitmap* bitmap, int32_t frameNumber,
                                                   int64_t pts, bool& update, bool& stopHook) {
                    DoCustomHook(sender, bitmap, frameNumber, pts, update, stopHook);
                };
            } else if (o.UseBeforeHook) {
                task->FBeforeHookCallback = [this](TFFmpeg* sender, int64_t pts, THookAction& action) {
                    DoBeforeHook(sender, pts, action);
                };
            } else {
                task->SetHookRanges(o.HookRanges);
            }
        } else {
            ResetOutputOptions(task->OutputOptions);
        }
        if (task->OpenOutputFile(fileName, task->OutputOptions.Join) < 0) {
            LastErrMsg = task->LastError();
            return false;
        }
        // Stream lines add to the output that now exists.
        task->ApplyOptionText(task->OutputOptions.ExtOptions, 0);
        return true;
    } catch (const std::exception& e) {
        LastErrMsg = e.what();
        return false;
    }
}

// ---- Running -------------------------------------------------------------------------------

void TCustomRAzevaVUV::StartConvert(int32_t maxThreads) {
    FNextTask = 0;
    FDoneCount = 0;
    FThreaded = maxThreads > 0;
    FPendingCount = TaskCount();
    // Tasks that terminate meanwhile start further ones themselves; each of those replaces one
    // that ended, so at most maxThreads run at once.
    while (FPendingCount > 0) {
        StartNextTask();
        if (FThreaded && --maxThreads == 0) break;
    }
}

// Called by StartConvert and by terminating tasks (under FLock), possibly at the same time: each
// claim of a pending task gets an index of its own, and a count that StopConvert has set to 0
// stays 0.
void TCustomRAzevaVUV::StartNextTask() {
    int32_t pending = FPendingCount;
    do {
        if (pending <= 0) return;
    } while (!FPendingCount.compare_exchange_weak(pending, pending - 1));
    StartTask(FNextTask++);
}

void TCustomRAzevaVUV::StartTask(int32_t index) {
    TFFmpeg* task = FTaskList->Find(index);
    if (task == nullptr) return; // the list was emptied meanwhile
    task->FReportInterval = int64_t(ProgressInterval()) * 1000;
    // Conversion threads run at normal priority at most.
    const TThreadPriority priority = std::min<TThreadPriority>(ThreadPriority, tpNormal);
    if (FThreaded) {
        // A task that fails validation has reported its termination already and gives no thread.
        if (TConvertThread* thread = task->BeginConvert(true, priority)) thread->Start();
    } else {
        task->BeginConvert(false, priority); // runs the whole conversion here
    }
}

void TCustomRAzevaVUV::StopConvert(bool wait) {
    FPendingCount = 0; // no further task starts
    // The list's lock is not held while waiting: a terminating task may still be looking up the
    // task it had claimed before the count went to 0 (which then reports its own termination
    // once, stopped or never run).
    for (TFFmpeg* task : FTaskList->Snapshot())
        task->EndConvert(wait);
}

// ---- Engine callbacks ------------------------------------------------------------------------

void TCustomRAzevaVUV::DoProgress(TCustomFFmpeg* sender, int32_t frameNumber, int32_t fps,
                                  int32_t currentDuration, float quality, float bitRate, int64_t currentSize,
                                  int32_t totalOutputDuration) {
    std::lock_guard<std::recursive_mutex> lock(FLock);
    if (!OnProgress) return;
    OnProgress(static_cast<TFFmpeg*>(sender)->TaskIndex, frameNumber, fps, currentDuration, quality, bitRate,
               currentSize, totalOutputDuration);
}

void TCustomRAzevaVUV::DoTaskTerminate(TCustomFFmpeg* sender) {
    std::lock_guard<std::recursive_mutex> lock(FLock);
    if (sender == nullptr) {
        DoAllTerminated();
        return;
    }
    const auto* task = static_cast<TFFmpeg*>(sender);
    DeliverTermination(task->TaskIndex, task->Finished(), task->ExceptionRaised(), task->ExceptionMessage());
    ++FDoneCount; // under FLock: exactly one termination sees the last count
    if (FPendingCount < 1 && FDoneCount >= TaskCount()) DoAllTerminated();
    if (FPendingCount >= 1 && FThreaded) StartNextTask(); // from the thread of the task that ended
}

void TCustomRAzevaVUV::DoAllTerminated() {
    DeliverTermination(-1, true, false, std::string());
}

// Called with FLock held.
void TCustomRAzevaVUV::DeliverTermination(int32_t index, bool finished, bool exception,
                                          const std::string& message) {
    if (!OnTerminate) return;
    if (FThreaded)
        (new TDoTerminateThread(OnTerminate, index, finished, exception, message))->Start();
    else
        OnTerminate(index, finished, exception, message);
}

// ---- Video callbacks (video processing; the audio engine never calls them) -------------------

void TCustomRAzevaVUV::DoBeforeHook(TFFmpeg* sender, int64_t pts, THookAction& hookAction) {
    if (OnBeforeHook) OnBeforeHook(sender->TaskIndex, pts, hookAction);
}

void TCustomRAzevaVUV::DoCustomHook(TFFmpeg* sender, TBitmap* bitmap, int32_t frameNumber, int64_t pts,
                                    bool& update, bool& stopHook) {
    if (OnCustomHook) OnCustomHook(sender->TaskIndex, bitmap, frameNumber, pts, update, stopHook);
}

void TCustomRAzevaVUV::DoPreviewBitmap(TFFmpeg* sender, TBitmap* bitmap, int32_t frameNumber, int64_t pts) {
    if (!OnPreviewBitmap) return;
    const int32_t index = sender->TaskIndex;
    CallInMainThread([&] { OnPreviewBitmap(index, bitmap, frameNumber, pts); });
}
