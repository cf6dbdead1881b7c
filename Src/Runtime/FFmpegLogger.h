// The logger: every diagnostic of the media runtime (library messages and the program's own)
// is filtered by level, assembled into whole lines per thread and handed to OnLog on the main
// thread.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>

enum TLogLevel { llQuiet, llPanic, llFatal, llError, llWarning, llInfo, llVerbose, llDebug };

// (Sender, thread id, level, text); called on the main thread.
using TLogEvent =
    std::function<void(const void* sender, uint32_t threadId, TLogLevel level, const std::string& msg)>;

int LogLevelToLibrary(TLogLevel level);        // (level - 1) * 8
TLogLevel LibraryToLogLevel(int libraryLevel); // N / 8 + 1, clamped to llQuiet..llDebug

class TFFLogger {
public:
    TFFLogger();
    ~TFFLogger();
    TFFLogger(const TFFLogger&) = delete;
    TFFLogger& operator=(const TFFLogger&) = delete;

    TLogLevel LogLevel() const { return FLogLevel; }
    void SetLogLevel(TLogLevel level);
    // A level name ("quiet" ... "debug", any case) or a decimal library level; raises
    // EConvertError for other text.
    void SetLogLevelByName(const std::string& text);

    void InstallLogCallback();

    // A message of the program's own code.
    void Log(const void* sender, TLogLevel level, const std::string& text);
    // One complete line from the media libraries.
    void LogFromLibrary(uint32_t threadId, int libraryLevel, const std::string& line);

    TLogEvent OnLog; // assign on the main thread while no worker logs

    // The media libraries' log function target.
    static void LogCallback(void* context, int libraryLevel, const char* format, va_list args);

private:
    void Deliver(const void* sender, uint32_t threadId, TLogLevel level, const std::string& text);

    std::atomic<TLogLevel> FLogLevel;
    std::mutex FLinesLock;                            // guards FLines
    std::unordered_map<uint32_t, std::string> FLines; // unfinished library line per thread
};

// The process-wide logger, created on first use.
TFFLogger& FFLogger();

// The numeric filter applied to library messages (initially 32, "info").
int LibraryLogLevel();
