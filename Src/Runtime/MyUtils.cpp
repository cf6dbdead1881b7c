#include "MyUtils.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <exception>
#include <filesystem>
#include <locale.h>
#include <memory>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace fs = std::filesystem;

// ---- Errors -------------------------------------------------------------------------------

EAssertionFailed::EAssertionFailed(const std::string& source)
    : std::runtime_error("Assertion failure (" + source + ")") {}

void Assert(bool condition, const char* source) {
    if (!condition) throw EAssertionFailed(source);
}

// ---- Text ---------------------------------------------------------------------------------

std::string FormatV(const char* format, va_list args) {
    char small[512];
    va_list copy;
    va_copy(copy, args);
    int n = vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n < 0) return std::string();
    if (static_cast<size_t>(n) < sizeof small) return std::string(small, n);
    std::string out(static_cast<size_t>(n) + 1, '\0');
    vsnprintf(out.data(), out.size(), format, args);
    out.resize(n);
    return out;
}

std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string s = FormatV(format, args);
    va_end(args);
    return s;
}

void SplitString(std::string& text, const std::string& separator, bool remove, std::string& head) {
    size_t pos = separator.empty() ? std::string::npos : text.find(separator);
    if (pos != std::string::npos) {
        head = text.substr(0, pos);
        if (remove) text.erase(0, pos + separator.size());
    } else {
        head = text;
        if (remove) text.clear();
    }
}

std::string Trim(const std::string& text) {
    size_t b = 0, e = text.size();
    while (b < e && static_cast<unsigned char>(text[b]) <= ' ')
        ++b;
    while (e > b && static_cast<unsigned char>(text[e - 1]) <= ' ')
        --e;
    return text.substr(b, e - b);
}

std::string NormaliseLineBreaks(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            out += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string UpperCase(const std::string& text) {
    std::string s = text;
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

std::string LowerCase(const std::string& text) {
    std::string s = text;
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

bool SameText(const std::string& a, const std::string& b) {
    return LowerCase(a) == LowerCase(b);
}

int64_t StrToInt64(const std::string& text) {
    std::string t = Trim(text);
    if (t.empty()) throw EConvertError(Format("'%s' is not a valid integer value", text.c_str()));
    // "$1F" and "0x1F" are hexadecimal, as the classic conversion accepts.
    int base = 10;
    std::string digits = t;
    bool negative = false;
    if (digits[0] == '-' || digits[0] == '+') {
        negative = digits[0] == '-';
        digits.erase(0, 1);
    }
    if (!digits.empty() && digits[0] == '$') {
        base = 16;
        digits.erase(0, 1);
    } else if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits.erase(0, 2);
    }
    if (digits.empty() || !std::all_of(digits.begin(), digits.end(), [&](char c) {
            return base == 16 ? std::isxdigit(static_cast<unsigned char>(c)) != 0
                              : std::isdigit(static_cast<unsigned char>(c)) != 0;
        }))
        throw EConvertError(Format("'%s' is not a valid integer value", text.c_str()));
    errno = 0;
    unsigned long long magnitude = std::strtoull(digits.c_str(), nullptr, base);
    if (errno == ERANGE || magnitude > static_cast<unsigned long long>(INT64_MAX) + (negative ? 1 : 0))
        throw EConvertError(Format("'%s' is not a valid integer value", text.c_str()));
    if (negative)
        return magnitude == static_cast<unsigned long long>(INT64_MAX) + 1 ? INT64_MIN
                                                                           : -static_cast<int64_t>(magnitude);
    return static_cast<int64_t>(magnitude);
}

int32_t StrToInt(const std::string& text) {
    int64_t v = StrToInt64(text);
    if (v < INT32_MIN || v > INT32_MAX)
        throw EConvertError(Format("'%s' is not a valid integer value", text.c_str()));
    return static_cast<int32_t>(v);
}

double StrToFloat(const std::string& text) {
    std::string t = Trim(text);
    char* end = nullptr;
    errno = 0;
    // Always "." as the decimal point: a toolkit may switch the process to the user's locale,
    // but option values and times are written by the program in the C notation.
    static const locale_t cLocale = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    double v = t.empty() ? 0.0 : ::strtod_l(t.c_str(), &end, cLocale);
    if (t.empty() || end != t.c_str() + t.size() || errno == ERANGE)
        throw EConvertError(Format("'%s' is not a valid floating point value", text.c_str()));
    return v;
}

// ---- Paths and environment ------------------------------------------------------------------

std::string IncludeTrailingPathDelimiter(const std::string& path) {
    if (!path.empty() && path.back() == '/') return path;
    return path + "/";
}

std::string ExtractFilePath(const std::string& name) {
    size_t pos = name.rfind('/');
    return pos == std::string::npos ? std::string() : name.substr(0, pos + 1);
}

std::string ExtractFileName(const std::string& name) {
    size_t pos = name.rfind('/');
    return pos == std::string::npos ? name : name.substr(pos + 1);
}

std::string ExtractFileExt(const std::string& name) {
    std::string file = ExtractFileName(name);
    size_t pos = file.rfind('.');
    return pos == std::string::npos ? std::string() : file.substr(pos);
}

std::string ChangeFileExt(const std::string& name, const std::string& ext) {
    std::string folder = ExtractFilePath(name);
    std::string file = ExtractFileName(name);
    size_t pos = file.rfind('.');
    if (pos != std::string::npos) file.erase(pos);
    return folder + file + ext;
}

bool FileExists(const std::string& name) {
    struct stat st;
    return !name.empty() && ::stat(name.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& name) {
    struct stat st;
    return !name.empty() && ::stat(name.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string ExpandFileName(const std::string& name) {
    std::error_code ec;
    fs::path p = fs::absolute(fs::path(name), ec);
    if (ec) return name;
    return p.lexically_normal().string();
}

int64_t GetFileSize64(const std::string& name) {
    struct stat st;
    if (name.empty() || ::stat(name.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return static_cast<int64_t>(st.st_size);
}

std::string GetEnvironmentVariable(const std::string& name) {
    const char* v = std::getenv(name.c_str());
    return v ? std::string(v) : std::string();
}

void SetEnvironmentVariable(const std::string& name, const std::string& value) {
    ::setenv(name.c_str(), value.c_str(), 1);
}

std::string GetExecutableFolder() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return IncludeTrailingPathDelimiter(fs::current_path().string());
    return IncludeTrailingPathDelimiter(exe.parent_path().string());
}

// ---- The main thread and calls into it -------------------------------------------------------

namespace {

struct TQueuedCall {
    std::function<void()> Fn;
    bool Done = false;
    std::exception_ptr Error;
};

// Queue of calls waiting for the main thread, with the state that wakes it.
struct TMainThreadQueue {
    std::mutex Lock;                   // guards every member below
    std::condition_variable Wake;      // the main thread waits on it
    std::condition_variable CallsDone; // callers wait on it for their call to be run
    std::deque<std::shared_ptr<TQueuedCall>> Calls;
    uint64_t WakeCount = 0;
    std::function<void()> Waker;
    std::function<void()> Pump;
    std::thread::id MainId = std::this_thread::get_id();
};

TMainThreadQueue& Queue() {
    static TMainThreadQueue* queue = new TMainThreadQueue(); // lives to the process's end
    return *queue;
}

// The program's static initialisation runs on the main thread.
const bool kMainThreadRecorded = (Queue(), true);

bool RunQueuedCalls(std::unique_lock<std::mutex>& lock) {
    TMainThreadQueue& q = Queue();
    bool ran = false;
    while (!q.Calls.empty()) {
        std::shared_ptr<TQueuedCall> call = q.Calls.front();
        q.Calls.pop_front();
        lock.unlock();
        try {
            call->Fn();
        } catch (...) {
            call->Error = std::current_exception();
        }
        lock.lock();
        call->Done = true;
        ran = true;
        q.CallsDone.notify_all();
    }
    return ran;
}

} // namespace

void SetMainThread() {
    std::lock_guard<std::mutex> guard(Queue().Lock);
    Queue().MainId = std::this_thread::get_id();
}

bool IsMainThread() {
    std::lock_guard<std::mutex> guard(Queue().Lock);
    return Queue().MainId == std::this_thread::get_id();
}

void CallInMainThread(const std::function<void()>& fn) {
    if (IsMainThread()) {
        fn();
        return;
    }
    TMainThreadQueue& q = Queue();
    auto call = std::make_shared<TQueuedCall>();
    call->Fn = fn;
    std::function<void()> waker;
    {
        std::lock_guard<std::mutex> guard(q.Lock);
        q.Calls.push_back(call);
        ++q.WakeCount;
        waker = q.Waker;
    }
    q.Wake.notify_all();
    if (waker) waker();
    std::unique_lock<std::mutex> lock(q.Lock);
    q.CallsDone.wait(lock, [&] { return call->Done; });
    if (call->Error) std::rethrow_exception(call->Error);
}

bool CheckSynchronize(int timeoutMs) {
    if (!IsMainThread()) return false;
    TMainThreadQueue& q = Queue();
    std::unique_lock<std::mutex> lock(q.Lock);
    if (q.Calls.empty() && timeoutMs > 0)
        q.Wake.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return !q.Calls.empty(); });
    return RunQueuedCalls(lock);
}

void SetMainThreadWaker(std::function<void()> waker) {
    std::lock_guard<std::mutex> guard(Queue().Lock);
    Queue().Waker = std::move(waker);
}

void SetMessagePump(std::function<void()> pump) {
    std::lock_guard<std::mutex> guard(Queue().Lock);
    Queue().Pump = std::move(pump);
}

void PumpMessages() {
    CheckSynchronize(0);
    std::function<void()> pump;
    {
        std::lock_guard<std::mutex> guard(Queue().Lock);
        pump = Queue().Pump;
    }
    if (pump && IsMainThread()) pump();
}

void WakeMainThread() {
    TMainThreadQueue& q = Queue();
    {
        std::lock_guard<std::mutex> guard(q.Lock);
        ++q.WakeCount;
    }
    q.Wake.notify_all();
}

void WaitUntil(const std::function<bool()>& done) {
    TMainThreadQueue& q = Queue();
    bool onMain = IsMainThread();
    for (;;) {
        std::unique_lock<std::mutex> lock(q.Lock);
        if (onMain) RunQueuedCalls(lock);
        uint64_t seen = q.WakeCount;
        lock.unlock();
        if (done()) return;
        lock.lock();
        q.Wake.wait_for(lock, std::chrono::milliseconds(50),
                        [&] { return q.WakeCount != seen || (onMain && !q.Calls.empty()); });
    }
}

// ---- Threads ------------------------------------------------------------------------------

void SetCurrentThreadName(const std::string& name) {
    pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
}

uint32_t CurrentThreadId() {
    return static_cast<uint32_t>(::syscall(SYS_gettid));
}

namespace {
int NiceOf(TThreadPriority p) {
    switch (p) {
    case tpIdle:
        return 19;
    case tpLowest:
        return 10;
    case tpLower:
        return 5;
    case tpNormal:
        return 0;
    case tpHigher:
        return -5;
    case tpHighest:
        return -10;
    case tpTimeCritical:
        return -20;
    }
    return 0;
}
} // namespace

TThread::TThread(std::string name) : FName(std::move(name)) {}

TThread::~TThread() {
    if (!FThread.joinable()) return;
    if (FThread.get_id() == std::this_thread::get_id()) {
        FThread.detach();
    } else {
        // A plain join on the main thread would deadlock a worker that is blocked in
        // CallInMainThread; WaitFor keeps serving those calls.
        if (IsMainThread()) WaitUntil([this] { return FFinished.load(); });
        FThread.join();
    }
}

void TThread::Start() {
    if (FStarted.exchange(true)) return;
    if (FreeOnTerminate) {
        // The thread may delete the object at any moment from now on: touch no member after
        // creating it.
        std::thread(&TThread::Run, this).detach();
        return;
    }
    FThread = std::thread(&TThread::Run, this);
}

void TThread::Run() {
    SetCurrentThreadName(FName);
    FSystemId = static_cast<int>(CurrentThreadId());
    if (FPriority != tpNormal) ::setpriority(PRIO_PROCESS, FSystemId, NiceOf(FPriority));
    try {
        Execute();
    } catch (...) {
        // Execute reports its own failures; nothing may escape a thread.
    }
    if (FreeOnTerminate) {
        delete this;
        WakeMainThread();
        return;
    }
    {
        std::lock_guard<std::mutex> guard(FDoneLock);
        FFinished = true;
    }
    FDone.notify_all();
    WakeMainThread();
}

void TThread::WaitFor() {
    if (!FStarted || FSystemId == static_cast<int>(CurrentThreadId())) return;
    if (IsMainThread()) {
        WaitUntil([this] { return FFinished.load(); });
    } else {
        std::unique_lock<std::mutex> lock(FDoneLock);
        FDone.wait(lock, [this] { return FFinished.load(); });
    }
    if (FThread.joinable() && FThread.get_id() != std::this_thread::get_id()) FThread.join();
}

void TThread::SetPriority(TThreadPriority priority) {
    FPriority = priority;
    int id = FSystemId;
    if (id != 0) ::setpriority(PRIO_PROCESS, id, NiceOf(priority)); // lowering always works
}

// ---- Process-wide locks ---------------------------------------------------------------------

std::mutex& CodecLock() {
    static std::mutex* lock = new std::mutex(); // lives to the process's end
    return *lock;
}
