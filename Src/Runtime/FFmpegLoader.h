// The loader of the media libraries: which libraries exist, their file names, loading a set of
// them from the library folder and resolving their entry points (MediaApi.h) by name.
// Loading and unloading happen on the main thread; workers only ask IsLoaded/AllLoaded.
//
// Process-wide objects, each declared once, in the header named (those reached through a function
// are created on first use and never destroyed: a thread still running at exit finds them):
//   CodecLock()        codec open and close of engines, player and probe     MyUtils.h
//   main-thread queue  calls handed to the main thread (CallInMainThread)    MyUtils.h
//   FFLoader()         the loaded libraries and their entry points           FFmpegLoader.h
//   FFLogger()         the log sink and level, the libraries' log callback   FFmpegLogger.h
//   protocol list      the registered unicode file protocol                  UnicodeProtocol.h
//   SDLStateLock()     SDL's subsystems and audio driver                     Player/Playback.h
//   PlayerEvents()     the player's registered SDL event types               Player/Playback.h
//   EventSignal()      wakes the player's event wait                         PlayThreads.cpp only
#pragma once

#include <array>
#include <atomic>
#include <bitset>
#include <initializer_list>
#include <string>

enum TLibraryID {
    libAVCodec,
    libAVDevice,
    libAVFilter,
    libAVFormat,
    libAVUtil,
    libSWScale,
    libSWResample,
    libMyUtil,
    libSDL,
};
constexpr int kLibraryCount = libSDL + 1;

// A set of libraries.
class TLibraries {
public:
    constexpr TLibraries() = default;
    TLibraries(std::initializer_list<TLibraryID> ids) {
        for (TLibraryID id : ids)
            FBits.set(id);
    }
    bool Contains(TLibraryID id) const { return FBits.test(id); }
    bool Empty() const { return FBits.none(); }

private:
    std::bitset<kLibraryCount> FBits;
};

extern const TLibraries ConverterLibs; // avcodec, avfilter, avformat, avutil, swscale, swresample, myutil
extern const TLibraries PlayerLibs;    // avcodec, avformat, avutil, swscale, swresample, myutil, SDL

struct TLibraryItem {
    TLibraryID ID;
    const char* BaseName;
    int MajorVersion; // -1: no version suffix
    void (*LoadProc)(const std::string& fileName, void* handle);
    void (*UnloadProc)();
};

struct TLibraryStatus {
    TLibraryID ID;
    std::string CustomFileName; // replaces the default file name when not empty
    void* ModuleHandle = nullptr;
    bool Resolved = false;
};

class TFFmpegLoader {
public:
    TFFmpegLoader();

    void SetLibPath(const std::string& path);
    std::string LibPath() const;
    std::string LastErrMsg() const;

    std::string GetLibFileName(TLibraryID id) const;
    bool LoadLib(TLibraryID id);
    bool LoadLibs(const TLibraries& libs);
    bool IsLoaded(TLibraryID id) const;
    bool AllLoaded(const TLibraries& libs) const;
    void UnloadLib(TLibraryID id);
    void UnloadLibs(const TLibraries& libs);

    // Replaces the file name of one library ("" restores the default). For tests and packagers.
    void SetCustomFileName(TLibraryID id, const std::string& fileName);
    const TLibraryStatus& Status(TLibraryID id) const;

    bool HookLog = true; // install the logger's callback after avutil loads

private:
    // Main thread only: the library folder, the last error and each library's state.
    std::string FLibPath;
    std::string FLastError;
    std::array<TLibraryStatus, kLibraryCount> FStatus{};
    // Read by any thread (IsLoaded, AllLoaded): set once a library's entry points are all
    // resolved, cleared before they are cleared.
    std::array<std::atomic<bool>, kLibraryCount> FLoaded{};
};

// The process-wide loader.
TFFmpegLoader& FFLoader();

const TLibraryItem& LibraryItem(TLibraryID id);

// Loads File from Folder (when Folder + File exists as a file, with Folder put in front of PATH)
// or else by name through the system's search. Returns the handle, or null with the system's
// error text in `error`.
void* LoadLibraryFrom(const std::string& folder, const std::string& file, std::string& error);
