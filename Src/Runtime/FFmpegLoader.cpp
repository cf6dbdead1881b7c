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

// Module-level state; touched on the main thread only (see the header).
std::string gLastError;
std::string gLibPath;
std::array<TLibraryStatus, kLibraryCount> gStatus = [] {
    std::array<TLibraryStatus, kLibraryCount> s{};
    for (int i = 0; i < kLibraryCount; ++i)
        s[i].ID = static_cast<TLibraryID>(i);
    return s;
}();

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

#define ENTRY_POINT(name) LoadFunction(fileName, handle, #name, NS::name);
void LoadAVCodec(const std::string& fileName, void* handle) {
    namespace NS = av;
#include "EntryPoints/AVCodec.inc"
}
void LoadAVDevice(const std::string& fileName, void* handle) {
    namespace NS = av;
#include "EntryPoints/AVDevice.inc"
}
void LoadAVFilter(const std::string& fileName, void* handle) {
    namespace NS = av;
#include "EntryPoints/AVFilter.inc"
}
void LoadAVFormat(const std::string& fileName, void* handle) {
    namespace NS = av;
#include "EntryPoints/AVFormat.inc"
}
void LoadAVUtil(const std::string& fileName, void* handle) {
    namespace NS = av;
#include "EntryPoints/AVUtil.inc"
}
void LoadSWScale(const std::string& fileName, void* handle) {
    namespace NS = av;
#include "EntryPoints/SWScale.inc"
}
void LoadSWResample(const std::string& fileName, void* handle) {
    namespace NS = av;
#include "EntryPoints/SWResample.inc"
}
void LoadMyUtil(const std::string& fileName, void* handle) {
    namespace NS = myutil;
#include "EntryPoints/MyUtil.inc"
}
void LoadSDL(const std::string& fileName, void* handle) {
    namespace NS = sdl;
#include "EntryPoints/SDL.inc"
}
#undef ENTRY_POINT
#define ENTRY_POINT(name) NS::name = nullptr;
void UnloadAVCodec() {
    namespace NS = av;
#include "EntryPoints/AVCodec.inc"
}
void UnloadAVDevice() {
    namespace NS = av;
#include "EntryPoints/AVDevice.inc"
}
void UnloadAVFilter() {
    namespace NS = av;
#include "EntryPoints/AVFilter.inc"
}
void UnloadAVFormat() {
    namespace NS = av;
#include "EntryPoints/AVFormat.inc"
}
void UnloadAVUtil() {
    namespace NS = av;
#include "EntryPoints/AVUtil.inc"
}
void UnloadSWScale() {
    namespace NS = av;
#include "EntryPoints/SWScale.inc"
}
void UnloadSWResample() {
    namespace NS = av;
#include "EntryPoints/SWResample.inc"
}
void UnloadMyUtil() {
    namespace NS = myutil;
#include "EntryPoints/MyUtil.inc"
}
void UnloadSDL() {
    namespace NS = sdl;
#include "EntryPoints/SDL.inc"
}
#undef ENTRY_POINT

// The major versions are those of the headers the program is compiled with.
const std::array<TLibraryItem, kLibraryCount> kLibraryItems = {{
    {libAVCodec, "avcodec", LIBAVCODEC_VERSION_MAJOR, LoadAVCodec, UnloadAVCodec},
    {libAVDevice, "avdevice", LIBAVDEVICE_VERSION_MAJOR, LoadAVDevice, UnloadAVDevice},
    {libAVFilter, "avfilter", LIBAVFILTER_VERSION_MAJOR, LoadAVFilter, UnloadAVFilter},
    {libAVFormat, "avformat", LIBAVFORMAT_VERSION_MAJOR, LoadAVFormat, UnloadAVFormat},
    {libAVUtil, "avutil", LIBAVUTIL_VERSION_MAJOR, LoadAVUtil, UnloadAVUtil},
    {libSWScale, "swscale", LIBSWSCALE_VERSION_MAJOR, LoadSWScale, UnloadSWScale},
    {libSWResample, "swresample", LIBSWRESAMPLE_VERSION_MAJOR, LoadSWResample, UnloadSWResample},
    {libMyUtil, "myutil", -1, LoadMyUtil, UnloadMyUtil},
    {libSDL, "SDL2-2.0", 0, LoadSDL, UnloadSDL},
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

void TFFmpegLoader::SetLibPath(const std::string& path) {
    gLibPath = path;
}
std::string TFFmpegLoader::LibPath() const {
    return gLibPath;
}
std::string TFFmpegLoader::LastErrMsg() const {
    return gLastError;
}

void TFFmpegLoader::SetCustomFileName(TLibraryID id, const std::string& fileName) {
    gStatus[id].CustomFileName = fileName;
}

const TLibraryStatus& TFFmpegLoader::Status(TLibraryID id) const {
    return gStatus[id];
}

std::string TFFmpegLoader::GetLibFileName(TLibraryID id) const {
    if (!gStatus[id].CustomFileName.empty()) return gStatus[id].CustomFileName;
    const TLibraryItem& item = kLibraryItems[id];
    std::string name = std::string("lib") + item.BaseName + ".so";
    if (item.MajorVersion >= 0) name += "." + std::to_string(item.MajorVersion);
    return name;
}

bool TFFmpegLoader::LoadLib(TLibraryID id) {
    TLibraryStatus& status = gStatus[id];
    if (!status.ModuleHandle) {
        std::string name = GetLibFileName(id);
        std::string folder = ExtractFilePath(name);
        std::string file = ExtractFileName(name);
        if (folder.empty() && !gLibPath.empty())
            folder = FolderHolding(IncludeTrailingPathDelimiter(gLibPath), file);
        std::string error;
        void* handle = LoadLibraryFrom(folder, file, error);
        if (!handle) {
            gLastError = Format("Load library %s error: %s", (folder + file).c_str(), error.c_str());
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
            gLastError = e.what();
        }
    }
    if (!status.Resolved) UnloadLib(id); // clears every entry point of the library first
    bool result = status.Resolved;
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
    return gStatus[id].ModuleHandle != nullptr && gStatus[id].Resolved;
}

bool TFFmpegLoader::AllLoaded(const TLibraries& libs) const {
    Assert(!libs.Empty(), kLoaderSource);
    for (int i = 0; i < kLibraryCount; ++i)
        if (libs.Contains(static_cast<TLibraryID>(i)) && !IsLoaded(static_cast<TLibraryID>(i))) return false;
    return true;
}

void TFFmpegLoader::UnloadLib(TLibraryID id) {
    TLibraryStatus& status = gStatus[id];
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
