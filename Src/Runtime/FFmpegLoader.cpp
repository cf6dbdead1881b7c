#include "FFmpegLoader.h"

#include "FFmpegLogger.h"
#include "MediaApi.h"
#include "MyUtils.h"
#include "UnicodeProtocol.h"

#include <array>
#include <dlfcn.h>

namespace {

const char* kLoaderSource = "Src/FFmpegLoader";

// Releasing a library clears its entry points and its handle, but the code stays mapped: the
// media libraries and their dependencies keep threads, thread-local data and exit handlers that
// must not outlive their code, and a later load gets the same instance back.
const int kOpenFlags = RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE;

// An installed program keeps the runtime library folder in a private folder under lib/, given
// relative to the program's own folder by the build; empty: not installed.
#ifndef CLIPWELL_INSTALLED_LIBRARY_FOLDER
#define CLIPWELL_INSTALLED_LIBRARY_FOLDER ""
#endif
const char* kInstalledLibraryFolder = CLIPWELL_INSTALLED_LIBRARY_FOLDER;

// The library path unless it lacks the file and the installed folder holds it.
std::string FolderHolding(const std::string& libPath, const std::string& file) {
    if (FileExists(libPath + file) || !*kInstalledLibraryFolder) return libPath;
    std::string installed = ExpandFileName(GetExecutableFolder() + kInstalledLibraryFolder);
    installed = IncludeTrailingPathDelimiter(installed);
    return FileExists(installed + file) ? installed : libPath;
}

template <class F>
void LoadFunction(const std::string& fileName, void* handle, const char* name, F& variable) {
    ::dlerror();
    void* address = ::dlsym(handle, name);
    if (!address) {
        const char* why = ::dlerror();
        throw std::runtime_error(
            Format("Load function %s@%s error: %s", name, fileName.c_str(), why ? why : "symbol not found"));
    }
    variable = reinterpret_cast<F>(address);
}

// Calls visit(name, variable) for every entry point of library `Id`, from its list.
template <TLibraryID Id, class Visit> void ForEachEntryPoint(Visit&& visit) {
#define ENTRY_POINT(name) visit(#name, NS::name);
    if constexpr (Id == libAVCodec) {
        namespace NS = av;
#include "EntryPoints/AVCodec.inc"
    } else if constexpr (Id == libAVDevice) {
        namespace NS = av;
#include "EntryPoints/AVDevice.inc"
    } else if constexpr (Id == libAVFilter) {
        namespace NS = av;
#include "EntryPoints/AVFilter.inc"
    } else if constexpr (Id == libAVFormat) {
        namespace NS = av;
#include "EntryPoints/AVFormat.inc"
    } else if constexpr (Id == libAVUtil) {
        namespace NS = av;
#include "EntryPoints/AVUtil.inc"
    } else if constexpr (Id == libSWScale) {
        namespace NS = av;
#include "EntryPoints/SWScale.inc"
    } else if constexpr (Id == libSWResample) {
        namespace NS = av;
#include "EntryPoints/SWResample.inc"
    } else if constexpr (Id == libMyUtil) {
        namespace NS = myutil;
#include "EntryPoints/MyUtil.inc"
    } else {
        static_assert(Id == libSDL);
        namespace NS = sdl;
#include "EntryPoints/SDL.inc"
    }
#undef ENTRY_POINT
}

template <TLibraryID Id> void LoadEntryPoints(const std::string& fileName, void* handle) {
    ForEachEntryPoint<Id>(
        [&](const char* name, auto& variable) { LoadFunction(fileName, handle, name, variable); });
}

template <TLibraryID Id> void UnloadEntryPoints() {
    ForEachEntryPoint<Id>([](const char*, auto& variable) { variable = nullptr; });
}

// The major versions are those of the headers the program is compiled with.
const std::array<TLibraryItem, kLibraryCount> kLibraryItems = {{
    {libAVCodec, "avcodec", LIBAVCODEC_VERSION_MAJOR, LoadEntryPoints<libAVCodec>,
     UnloadEntryPoints<libAVCodec>},
    {libAVDevice, "avdevice", LIBAVDEVICE_VERSION_MAJOR, LoadEntryPoints<libAVDevice>,
     UnloadEntryPoints<libAVDevice>},
    {libAVFilter, "avfilter", LIBAVFILTER_VERSION_MAJOR, LoadEntryPoints<libAVFilter>,
     UnloadEntryPoints<libAVFilter>},
    {libAVFormat, "avformat", LIBAVFORMAT_VERSION_MAJOR, LoadEntryPoints<libAVFormat>,
     UnloadEntryPoints<libAVFormat>},
    {libAVUtil, "avutil", LIBAVUTIL_VERSION_MAJOR, LoadEntryPoints<libAVUtil>, UnloadEntryPoints<libAVUtil>},
    {libSWScale, "swscale", LIBSWSCALE_VERSION_MAJOR, LoadEntryPoints<libSWScale>,
     UnloadEntryPoints<libSWScale>},
    {libSWResample, "swresample", LIBSWRESAMPLE_VERSION_MAJOR, LoadEntryPoints<libSWResample>,
     UnloadEntryPoints<libSWResample>},
    {libMyUtil, "myutil", -1, LoadEntryPoints<libMyUtil>, UnloadEntryPoints<libMyUtil>},
    {libSDL, "SDL2-2.0", 0, LoadEntryPoints<libSDL>, UnloadEntryPoints<libSDL>},
}};

} // namespace

const TLibraries ConverterLibs{libAVCodec, libAVFilter,   libAVFormat, libAVUtil,
                               libSWScale, libSWResample, libMyUtil};
const TLibraries PlayerLibs{libAVCodec, libAVFormat, libAVUtil, libSWScale, libSWResample, libMyUtil, libSDL};

const TLibraryItem& LibraryItem(TLibraryID id) {
    return kLibraryItems[id];
}

TFFmpegLoader& FFLoader() {
    static TFFmpegLoader* loader = new TFFmpegLoader(); // lives to the process's end
    return *loader;
}

TFFmpegLoader::TFFmpegLoader() {
    for (int i = 0; i < kLibraryCount; ++i)
        FStatus[i].ID = static_cast<TLibraryID>(i);
}

void TFFmpegLoader::SetLibPath(const std::string& path) {
    FLibPath = path;
}
std::string TFFmpegLoader::LibPath() const {
    return FLibPath;
}
std::string TFFmpegLoader::LastErrMsg() const {
    return FLastError;
}

void TFFmpegLoader::SetCustomFileName(TLibraryID id, const std::string& fileName) {
    FStatus[id].CustomFileName = fileName;
}

const TLibraryStatus& TFFmpegLoader::Status(TLibraryID id) const {
    return FStatus[id];
}

std::string TFFmpegLoader::GetLibFileName(TLibraryID id) const {
    if (!FStatus[id].CustomFileName.empty()) return FStatus[id].CustomFileName;
    const TLibraryItem& item = kLibraryItems[id];
    std::string name = std::string("lib") + item.BaseName + ".so";
    if (item.MajorVersion >= 0) name += "." + std::to_string(item.MajorVersion);
    return name;
}

bool TFFmpegLoader::LoadLib(TLibraryID id) {
    TLibraryStatus& status = FStatus[id];
    if (!status.ModuleHandle) {
        std::string name = GetLibFileName(id);
        std::string folder = ExtractFilePath(name);
        std::string file = ExtractFileName(name);
        if (folder.empty() && !FLibPath.empty())
            folder = FolderHolding(IncludeTrailingPathDelimiter(FLibPath), file);
        std::string error;
        void* handle = LoadLibraryFrom(folder, file, error);
        if (!handle) {
            FLastError = Format("Load library %s error: %s", (folder + file).c_str(), error.c_str());
            return false;
        }
        status.ModuleHandle = handle;
    }
    if (!status.Resolved) {
        try {
            kLibraryItems[id].LoadProc(GetLibFileName(id), status.ModuleHandle);
            status.Resolved = true;
        } catch (const EAssertionFailed&) {
            throw;
        } catch (const std::exception& e) {
            FLastError = e.what();
        }
    }
    if (!status.Resolved) UnloadLib(id); // clears every entry point of the library first
    bool result = status.Resolved;
    FLoaded[id] = result; // published after every entry point is set
    if (result && id == libAVUtil && HookLog) FFLogger().InstallLogCallback();
    if (result && id == libAVFormat) RegisterUnicodeProtocol();
    return result;
}

bool TFFmpegLoader::LoadLibs(const TLibraries& libs) {
    Assert(!libs.Empty(), kLoaderSource);
    for (int i = 0; i < kLibraryCount; ++i) {
        TLibraryID id = static_cast<TLibraryID>(i);
        if (!libs.Contains(id)) continue;
        if (!LoadLib(id)) {
            UnloadLibs(libs);
            return false;
        }
    }
    return true;
}

bool TFFmpegLoader::IsLoaded(TLibraryID id) const {
    return FLoaded[id];
}

bool TFFmpegLoader::AllLoaded(const TLibraries& libs) const {
    Assert(!libs.Empty(), kLoaderSource);
    for (int i = 0; i < kLibraryCount; ++i)
        if (libs.Contains(static_cast<TLibraryID>(i)) && !IsLoaded(static_cast<TLibraryID>(i))) return false;
    return true;
}

void TFFmpegLoader::UnloadLib(TLibraryID id) {
    FLoaded[id] = false; // withdrawn before any entry point is cleared
    TLibraryStatus& status = FStatus[id];
    if (status.Resolved) {
        status.Resolved = false;
    }
    // Every entry point goes back to null, also those resolved before a failing name.
    kLibraryItems[id].UnloadProc();
    if (status.ModuleHandle) {
        ::dlclose(status.ModuleHandle);
        status.ModuleHandle = nullptr;
    }
}

void TFFmpegLoader::UnloadLibs(const TLibraries& libs) {
    Assert(!libs.Empty(), kLoaderSource);
    for (int i = 0; i < kLibraryCount; ++i)
        if (libs.Contains(static_cast<TLibraryID>(i))) UnloadLib(static_cast<TLibraryID>(i));
}

void* LoadLibraryFrom(const std::string& folder, const std::string& file, std::string& error) {
    void* handle = nullptr;
    if (file.empty()) {
        // dlopen("") would hand back the program itself.
        error = "no library file name";
        return nullptr;
    }
    if (!folder.empty() && FileExists(IncludeTrailingPathDelimiter(folder) + file)) {
        std::string dir = IncludeTrailingPathDelimiter(folder);
        // Put the folder in front of PATH once, compared without regard to case.
        std::string path = GetEnvironmentVariable("PATH");
        std::string bare = dir.size() > 1 ? dir.substr(0, dir.size() - 1) : dir;
        if (UpperCase(path).find(UpperCase(bare)) == std::string::npos)
            SetEnvironmentVariable("PATH", path.empty() ? bare : bare + ":" + path);
        handle = ::dlopen((dir + file).c_str(), kOpenFlags);
    } else {
        handle = ::dlopen(file.c_str(), kOpenFlags);
    }
    if (!handle) {
        const char* why = ::dlerror();
        error = why ? why : "unknown error";
    }
    return handle;
}
