// Routines shared by the media runtime and its components: the worker thread class, calls into
// the main thread, text and path helpers, and the process-wide codec lock.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

// ---- Errors -------------------------------------------------------------------------------

// A text that is not a valid number (or date) where one is required.
class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A programming error detected at run time; the text names the source ("Src/FFmpegLoader").
class EAssertionFailed : public std::runtime_error {
public:
    explicit EAssertionFailed(const std::string& source);
};

// Raises EAssertionFailed naming `source` unless `condition` holds. Kept in release builds.
void Assert(bool condition, const char* source);

// ---- Text ---------------------------------------------------------------------------------

// printf-style formatting into a std::string of any length.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatV(const char* format, va_list args);

// If Separator occurs in Text: Head := the text before its first occurrence and, when Remove,
// Text := the text after it. Otherwise Head := Text and, when Remove, Text := "".
void SplitString(std::string& text, const std::string& separator, bool remove, std::string& head);

std::string Trim(const std::string& text);
// Line breaks of any kind (CR LF, lone CR, LF) as LF.
std::string NormaliseLineBreaks(const std::string& text);
std::string UpperCase(const std::string& text);
std::string LowerCase(const std::string& text);
bool SameText(const std::string& a, const std::string& b);

// Whole-text integer conversion; raises EConvertError "'%s' is not a valid integer value".
int32_t StrToInt(const std::string& text);
int64_t StrToInt64(const std::string& text);
// Whole-text real conversion; raises EConvertError "'%s' is not a valid floating point value".
double StrToFloat(const std::string& text);

// ---- Paths and environment ------------------------------------------------------------------

std::string IncludeTrailingPathDelimiter(const std::string& path);
std::string ExtractFilePath(const std::string& name); // up to and including the last "/"
std::string ExtractFileName(const std::string& name); // after the last "/"
std::string ExtractFileExt(const std::string& name);  // ".ext" of the name part, or ""
std::string ChangeFileExt(const std::string& name, const std::string& ext);
bool FileExists(const std::string& name); // an existing file, not a folder
bool DirectoryExists(const std::string& name);
std::string ExpandFileName(const std::string& name);
// Size of a file in bytes, or -1 when it does not exist or is not a regular file.
int64_t GetFileSize64(const std::string& name);
std::string GetEnvironmentVariable(const std::string& name);
void SetEnvironmentVariable(const std::string& name, const std::string& value);
// Folder of the running executable, with a trailing "/".
std::string GetExecutableFolder();

// ---- Numbers of the media headers ---------------------------------------------------------

template <class T> constexpr T Clip(T value, T low, T high) {
    return value < low ? low : (value > high ? high : value);
}

// ---- The main thread and calls into it -------------------------------------------------------

// The main thread is the one that initialised the runtime (the thread that ran the program's
// static initialisation, unless SetMainThread names another).
void SetMainThread();
bool IsMainThread();

// On the main thread runs fn at once; on any other thread queues it and blocks until the main
// thread has run it. An exception thrown by fn is rethrown in the caller.
void CallInMainThread(const std::function<void()>& fn);

// On the main thread: runs every queued call; when none is queued, waits up to timeoutMs for one.
// Returns true when at least one call ran. Does nothing on another thread.
bool CheckSynchronize(int timeoutMs = 0);

// Called on the queuing thread whenever a call is queued (the window posts an event that runs
// CheckSynchronize(0) on its UI thread).
void SetMainThreadWaker(std::function<void()> waker);

// The toolkit's own message pump, run by PumpMessages after the queued calls.
void SetMessagePump(std::function<void()> pump);
void PumpMessages();

// Wakes a main thread that waits in CheckSynchronize or WaitUntil.
void WakeMainThread();

// Waits until done() is true. On the main thread it keeps running queued calls while it waits;
// done() is re-tested whenever WakeMainThread is called and at least every 50 ms.
void WaitUntil(const std::function<bool()>& done);

// ---- Threads ------------------------------------------------------------------------------

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// A worker thread: constructed not running, started with Start(), waited for with WaitFor().
// With FreeOnTerminate the object deletes itself when Execute returns (it must be heap-allocated
// and nobody may wait for it).
class TThread {
public:
    explicit TThread(std::string name);
    virtual ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    void Start();
    // Blocks until Execute has returned; on the main thread it keeps serving CallInMainThread.
    // Returns at once when called on the thread itself. A derived class whose Execute uses its
    // own members calls WaitFor in its destructor (the base destructor runs after they are gone).
    void WaitFor();
    void Terminate() { FTerminated = true; }
    bool Terminated() const { return FTerminated; }
    bool Started() const { return FStarted; }
    bool Finished() const { return FFinished; }
    const std::string& Name() const { return FName; }

    // Best effort: a nice value for the thread (idle 19, lowest 10, lower 5, normal 0).
    void SetPriority(TThreadPriority priority);
    TThreadPriority Priority() const { return FPriority; }

    bool FreeOnTerminate = false; // set before Start()

protected:
    virtual void Execute() = 0;

private:
    void Run();

    std::string FName;
    std::thread FThread;
    std::atomic<bool> FStarted{false};
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FFinished{false};
    std::atomic<TThreadPriority> FPriority{tpNormal};
    std::atomic<int> FSystemId{0}; // kernel thread id once running
    std::mutex FDoneLock;          // guards the wait on FDone
    std::condition_variable FDone;
};

// A thread running one function; handy for short-lived helpers.
class TFunctionThread : public TThread {
public:
    TFunctionThread(std::string name, std::function<void()> body)
        : TThread(std::move(name)), FBody(std::move(body)) {}
    // The body must outlive its run: wait (serving main-thread calls) before it is destroyed.
    ~TFunctionThread() override { WaitFor(); }

protected:
    void Execute() override { FBody(); }

private:
    std::function<void()> FBody;
};

// Names the calling thread (at most 15 characters reach the kernel).
void SetCurrentThreadName(const std::string& name);
// The kernel's id of the calling thread.
uint32_t CurrentThreadId();

// ---- Process-wide locks ---------------------------------------------------------------------

// Held around every codec open and close (engine, player, probe) and around the engine's
// reading of an input's stream information.
std::mutex& CodecLock();
