// Starting, stopping and terminating a conversion across threads.
//
// Termination is reported exactly once per run: by BeginConvert when validation fails, by
// ConvertProc at the end of a run, or by a terminate thread for a task that never ran.
// The engine owns every thread it creates and frees it once it has ended (Reset, destruction, or
// the next thread it creates), so no thread object is touched after it has freed itself.
#include "EngineTexts.h"
#include "FFmpeg.h"
#include "FFmpegLogger.h"

#include <chrono>
#include <thread>

TConvertThread* TCustomFFmpeg::BeginConvert(bool threaded, TThreadPriority priority) {
    ReapThreads(false);
    const char* failure = nullptr;
    TConvertThread* thread = nullptr;
    {
        std::lock_guard<std::mutex> guard(FThreadsLock);
        // An engine runs once per Reset.
        if (FConverting || FTerminated || FTerminating) return nullptr;
        // Outputs are checked before inputs.
        if (FOutputFileCount <= 0)
            failure = kMsgNoOutputFile;
        else if (FInputFileCount == 0)
            failure = kMsgNoInputFile;
        if (failure) {
            FTerminating = true;
        } else {
            FConverting = true;
            FStopRequested = false;
            FFinished = false;
            FTerminated = false;
            if (threaded) {
                // A thread of an earlier run (normally reaped by Reset) is kept until it is
                // waited for.
                if (FOwnedConvertThread) FHelperThreads.push_back(std::move(FOwnedConvertThread));
                FOwnedConvertThread = std::make_unique<TConvertThread>(this);
                FOwnedConvertThread->SetPriority(priority);
                thread = FOwnedConvertThread.get();
                FConvertThread = thread;
            }
        }
    }
    if (failure) {
        CloseAll();
        FFLogger().Log(this, llQuiet, failure);
        FExceptionMessage = failure;
        FExceptionRaised = true;
        DoTerminate();
        return nullptr;
    }
    if (!threaded) ConvertProc();
    return thread; // not started: the caller starts it
}

void TCustomFFmpeg::ConvertProc() {
    FFinished = false;
    // Whatever happens, codecs and files are closed and termination is reported.
    auto finish = [this] {
        CloseAll(); // releases the run state first, which closes the opened codecs
        DoTerminate();
    };
    try {
        RunConversion();
    } catch (const std::exception& e) {
        FFLogger().Log(this, llQuiet, e.what());
        FExceptionMessage = e.what();
        FExceptionRaised = true;
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

void TCustomFFmpeg::DoTerminate() {
    FConverting = false;
    FTerminated = true;
    FConvertThread = nullptr; // the last state change before the callback: BreakConvert's wait ends
    if (FTerminateCallback) FTerminateCallback(this);
}

void TCustomFFmpeg::BreakConvert(bool wait) {
    FStopRequested = true;
    {
        std::lock_guard<std::mutex> guard(FThreadsLock);
        TConvertThread* thread = FOwnedConvertThread.get();
        if (FConvertThread == nullptr || thread == nullptr) return;
        // Created but never started: it runs, sees the stop request at its first loop test and
        // ends.
        if (!thread->Started()) thread->Start();
    }
    auto waiter = std::make_unique<TWaitThread>(this);
    waiter->Start();
    if (wait)
        waiter->WaitFor(); // keeps serving calls into the main thread
    else
        AdoptThread(std::move(waiter));
}

void TCustomFFmpeg::EndConvert(bool wait) {
    bool running;
    {
        std::lock_guard<std::mutex> guard(FThreadsLock);
        running = FConverting;
        if (!running) {
            if (FTerminated || FTerminating) return;
            FTerminating = true; // this call reports the termination
        }
    }
    if (running) {
        BreakConvert(wait);
        return;
    }
    auto terminator = std::make_unique<TDoTerminateThread>(this);
    terminator->Start();
    if (wait)
        terminator->WaitFor();
    else
        AdoptThread(std::move(terminator));
}

void TCustomFFmpeg::StopAndWait() {
    BreakConvert(true);
    ReapThreads(true);
}

void TCustomFFmpeg::AdoptThread(std::unique_ptr<TThread> thread) {
    ReapThreads(false);
    std::lock_guard<std::mutex> guard(FThreadsLock);
    FHelperThreads.push_back(std::move(thread));
}

void TCustomFFmpeg::ReapThreads(bool all) {
    std::vector<std::unique_ptr<TThread>> done;
    {
        std::lock_guard<std::mutex> guard(FThreadsLock);
        for (auto it = FHelperThreads.begin(); it != FHelperThreads.end();) {
            if (all || (*it)->Finished()) {
                done.push_back(std::move(*it));
                it = FHelperThreads.erase(it);
            } else {
                ++it;
            }
        }
        if (all && FOwnedConvertThread) done.push_back(std::move(FOwnedConvertThread));
    }
    // Outside the lock: waiting keeps serving calls into the main thread.
    for (auto& thread : done)
        thread->WaitFor();
}

// ---- Thread bodies ----------------------------------------------------------------------------

void TConvertThread::Execute() {
    if (FEngine) FEngine->ConvertProc();
}

void TWaitThread::Execute() {
    if (!FEngine) return;
    while (FEngine->FConvertThread.load() != nullptr)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

void TDoTerminateThread::Execute() {
    if (FEngine) FEngine->DoTerminate();
}
