#include "FFmpegLogger.h"

#include "MediaApi.h"
#include "MyUtils.h"

#include <cstdio>

namespace {

const char* kLoggerSource = "Src/FFmpegLogger";
std::atomic<int> gLibraryLogLevel{32}; // read without a lock by every logging thread

const char* const kLevelNames[] = {"quiet", "panic", "fatal", "error", "warning", "info", "verbose", "debug"};

} // namespace

int LibraryLogLevel() {
    return gLibraryLogLevel;
}

int LogLevelToLibrary(TLogLevel level) {
    return (static_cast<int>(level) - 1) * 8;
}

TLogLevel LibraryToLogLevel(int libraryLevel) {
    int v = libraryLevel / 8 + 1; // truncates toward zero
    return static_cast<TLogLevel>(Clip(v, 0, 7));
}

TFFLogger& FFLogger() {
    static TFFLogger* logger = new TFFLogger(); // lives to the process's end
    return *logger;
}

TFFLogger::TFFLogger() : FLogLevel(LibraryToLogLevel(gLibraryLogLevel)) {}

TFFLogger::~TFFLogger() = default;

void TFFLogger::SetLogLevel(TLogLevel level) {
    FLogLevel = level;
    if (av::av_log_set_level) {
        av::av_log_set_level(LogLevelToLibrary(level));
        gLibraryLogLevel = LogLevelToLibrary(level);
    }
}

void TFFLogger::SetLogLevelByName(const std::string& text) {
    int number = 0;
    bool named = false;
    for (int i = 0; i < 8; ++i)
        if (SameText(text, kLevelNames[i])) {
            number = LogLevelToLibrary(static_cast<TLogLevel>(i));
            named = true;
        }
    if (!named) number = StrToInt(text);
    SetLogLevel(LibraryToLogLevel(number));
}

void TFFLogger::InstallLogCallback() {
    Assert(av::av_log_set_callback != nullptr, kLoggerSource);
    av::av_log_set_callback(&TFFLogger::LogCallback);
}

void TFFLogger::Deliver(const void* sender, uint32_t threadId, TLogLevel level, const std::string& text) {
    // Each message carries its own copy to the main thread; no shared pending slot.
    CallInMainThread([this, sender, threadId, level, text] {
        if (OnLog) OnLog(sender, threadId, level, text);
    });
}

void TFFLogger::Log(const void* sender, TLogLevel level, const std::string& text) {
    if (!OnLog) return;
    TLogLevel current = FLogLevel;
    if (!(level <= current || (level == llVerbose && current != llQuiet))) return;
    Deliver(sender, CurrentThreadId(), level, text);
}

void TFFLogger::LogFromLibrary(uint32_t threadId, int libraryLevel, const std::string& line) {
    if (OnLog) Deliver(this, threadId, LibraryToLogLevel(libraryLevel), line);
}

void TFFLogger::LogCallback(void* context, int libraryLevel, const char* format, va_list args) {
    // Bits above the level byte are colour hints for debugging sessions.
    if (libraryLevel > 0) libraryLevel &= 0xff;
    if (libraryLevel > gLibraryLogLevel) return;
    TFFLogger& logger = FFLogger();
    uint32_t threadId = CurrentThreadId();
    const AVClass* cls = context ? *static_cast<AVClass* const*>(context) : nullptr;

    std::string text;
    {
        std::lock_guard<std::mutex> guard(logger.FLinesLock);
        auto pending = logger.FLines.find(threadId);
        if (pending == logger.FLines.end()) {
            if (cls) {
                const char* itemName = cls->item_name ? cls->item_name(context) : cls->class_name;
                text = Format("[%s @ %p]", itemName ? itemName : "", context);
            }
        } else {
            // Only unfinished lines are kept, so the table does not grow with every thread
            // that ever logged.
            text = std::move(pending->second);
            logger.FLines.erase(pending);
        }
    }
    // The whole message is kept, however long: nothing is cut or lost.
    text += FormatV(format, args);

    std::string head;
    while (text.find('\n') != std::string::npos) {
        SplitString(text, "\n", true, head);
        logger.LogFromLibrary(threadId, libraryLevel, head);
    }
    if (!text.empty()) {
        std::lock_guard<std::mutex> guard(logger.FLinesLock);
        logger.FLines[threadId] = std::move(text);
    }
}
