// Loading the real media libraries, and every way a load can fail: a missing library, a missing
// entry point, a folder that does not exist, a file that is no library.
#include "FFmpegLoader.h"
#include "FFmpegLogger.h"
#include "MediaApi.h"
#include "MyUtils.h"
#include "TestLibs.h"
#include "UnicodeProtocol.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const TLibraryID kAllIds[] = {libAVCodec, libAVDevice,   libAVFilter, libAVFormat, libAVUtil,
                              libSWScale, libSWResample, libMyUtil,   libSDL};

// The file a resolved entry point lives in.
template <class F> std::string FileOf(F function) {
    Dl_info info{};
    if (!function || !::dladdr(reinterpret_cast<void*>(function), &info) || !info.dli_fname) return "";
    return info.dli_fname;
}

class RuntimeLoader : public testing::Test {
protected:
    void SetUp() override {
        FSavedPath = GetEnvironmentVariable("PATH");
        FTemp = fs::temp_directory_path() / ("clipwell-loader-" + std::to_string(::getpid()));
        fs::create_directories(FTemp);
    }
    void TearDown() override {
        // Leave the process as a fresh one would be: defaults, nothing loaded.
        for (TLibraryID id : kAllIds) {
            FFLoader().SetCustomFileName(id, "");
            FFLoader().UnloadLib(id);
        }
        FFLoader().SetLibPath("");
        SetEnvironmentVariable("PATH", FSavedPath);
        fs::remove_all(FTemp);
    }
    std::string Temp(const std::string& name = "") const { return (FTemp / name).string(); }
    bool NothingLoaded(const TLibraries& libs) {
        for (TLibraryID id : kAllIds)
            if (libs.Contains(id) && (FFLoader().IsLoaded(id) || FFLoader().Status(id).ModuleHandle))
                return false;
        return true;
    }

    std::string FSavedPath;
    fs::path FTemp;
};

TEST_F(RuntimeLoader, FileNamesFollowTheHeaders) {
    TFFmpegLoader& loader = FFLoader();
    EXPECT_EQ(loader.GetLibFileName(libAVCodec), "libavcodec.so." + std::to_string(LIBAVCODEC_VERSION_MAJOR));
    EXPECT_EQ(loader.GetLibFileName(libAVFormat),
              "libavformat.so." + std::to_string(LIBAVFORMAT_VERSION_MAJOR));
    EXPECT_EQ(loader.GetLibFileName(libAVFilter),
              "libavfilter.so." + std::to_string(LIBAVFILTER_VERSION_MAJOR));
    EXPECT_EQ(loader.GetLibFileName(libSWResample),
              "libswresample.so." + std::to_string(LIBSWRESAMPLE_VERSION_MAJOR));
    EXPECT_EQ(loader.GetLibFileName(libMyUtil), "libmyutil.so");
    EXPECT_EQ(loader.GetLibFileName(libSDL), "libSDL2-2.0.so.0");
    loader.SetCustomFileName(libSDL, "/opt/x/libSDL2.so");
    EXPECT_EQ(loader.GetLibFileName(libSDL), "/opt/x/libSDL2.so");
    loader.SetCustomFileName(libSDL, "");
    EXPECT_EQ(loader.GetLibFileName(libSDL), "libSDL2-2.0.so.0");
}

TEST_F(RuntimeLoader, LoadsBothSetsFromTheSystemAndTheLibraryFolder) {
    ASSERT_TRUE(LoadTestLibs(ConverterLibs));
    ASSERT_TRUE(LoadTestLibs(PlayerLibs));
    TFFmpegLoader& loader = FFLoader();
    EXPECT_TRUE(loader.AllLoaded(ConverterLibs));
    EXPECT_TRUE(loader.AllLoaded(PlayerLibs));
    EXPECT_FALSE(loader.IsLoaded(libAVDevice)); // nobody loads it
    EXPECT_FALSE(loader.AllLoaded(TLibraries{libAVCodec, libAVDevice}));
    // The entry points reach the libraries the headers describe.
    EXPECT_EQ(av::avcodec_version() >> 16, static_cast<unsigned>(LIBAVCODEC_VERSION_MAJOR));
    EXPECT_EQ(av::avformat_version() >> 16, static_cast<unsigned>(LIBAVFORMAT_VERSION_MAJOR));
    EXPECT_EQ(av::swresample_version() >> 16, static_cast<unsigned>(LIBSWRESAMPLE_VERSION_MAJOR));
    EXPECT_NE(FileOf(sdl::SDL_Init).find("libSDL2-2.0.so.0"), std::string::npos);
    // myutil comes from Dll/ beside the program, the others from the system.
    EXPECT_EQ(FileOf(myutil::my_snprintf), TestDllFolder() + "libmyutil.so");
    char buffer[8];
    EXPECT_EQ(myutil::my_snprintf(buffer, sizeof buffer, "%s", "truncated"), 9);
    EXPECT_STREQ(buffer, "truncat");
    EXPECT_TRUE(UnicodeProtocolRegistered());
}

TEST_F(RuntimeLoader, MissingLibraryReleasesTheSetLoadedSoFar) {
    TFFmpegLoader& loader = FFLoader();
    loader.SetLibPath(TestDllFolder());
    ASSERT_TRUE(loader.LoadLibs(PlayerLibs)); // another user loaded its set before
    std::string missing = Temp("libavfilter-missing.so.8");
    loader.SetCustomFileName(libAVFilter, missing);

    EXPECT_FALSE(loader.LoadLibs(ConverterLibs));
    EXPECT_EQ(loader.LastErrMsg(),
              "Load library " + missing +
                  " error: libavfilter-missing.so.8: cannot open shared object file: No such "
                  "file or directory");
    // Every member of the failed set is released, also those another user had loaded.
    EXPECT_TRUE(NothingLoaded(ConverterLibs));
    EXPECT_EQ(av::avcodec_version, nullptr);
    EXPECT_EQ(av::avformat_open_input, nullptr);
    EXPECT_EQ(myutil::my_vsprintf, nullptr);
    // Members outside the set stay.
    EXPECT_TRUE(loader.IsLoaded(libSDL));
    EXPECT_NE(sdl::SDL_Init, nullptr);
}

TEST_F(RuntimeLoader, NamedFolderWithoutTheFileFallsBackToTheSystemSearch) {
    // The folder is only preferred: a name it does not hold is loaded by name.
    FFLoader().SetCustomFileName(libAVFilter,
                                 "/nonexistent/libavfilter.so." + std::to_string(LIBAVFILTER_VERSION_MAJOR));
    EXPECT_TRUE(FFLoader().LoadLib(libAVFilter)) << FFLoader().LastErrMsg();
    EXPECT_NE(FileOf(av::avfilter_version).find("/libavfilter.so."), std::string::npos);
}

TEST_F(RuntimeLoader, MissingEntryPointNamesFunctionAndLibrary) {
    std::string myutil = TestDllFolder() + "libmyutil.so";
    FFLoader().SetCustomFileName(libAVCodec, myutil);
    EXPECT_FALSE(FFLoader().LoadLib(libAVCodec));
    EXPECT_EQ(FFLoader().LastErrMsg(), "Load function avcodec_version@" + myutil + " error: " + myutil +
                                           ": undefined symbol: avcodec_version");
    EXPECT_FALSE(FFLoader().IsLoaded(libAVCodec));
    EXPECT_EQ(FFLoader().Status(libAVCodec).ModuleHandle, nullptr);
}

TEST_F(RuntimeLoader, EntryPointsResolvedBeforeTheMissingOneAreClearedAgain) {
    // The stand-in codec library has the first two names of the table only.
    std::string folder = CLIPWELL_PARTIAL_LIB_DIR;
    std::string file = FFLoader().GetLibFileName(libAVCodec);
    ASSERT_TRUE(FileExists(folder + file));
    FFLoader().SetLibPath(folder);
    EXPECT_FALSE(FFLoader().LoadLibs(TLibraries{libAVCodec, libAVUtil}));
    EXPECT_EQ(FFLoader().LastErrMsg(), "Load function avcodec_free_context@" + file + " error: " + folder +
                                           file + ": undefined symbol: avcodec_free_context");
    EXPECT_EQ(av::avcodec_version, nullptr);
    EXPECT_EQ(av::avcodec_alloc_context3, nullptr);
    EXPECT_EQ(FFLoader().Status(libAVCodec).ModuleHandle, nullptr);
    EXPECT_FALSE(FFLoader().Status(libAVCodec).Resolved);
    EXPECT_FALSE(FFLoader().IsLoaded(libAVUtil)); // never reached
}

TEST_F(RuntimeLoader, LibraryFolderThatDoesNotExist) {
    // Released libraries stay mapped, and the system's search finds a mapped one by its name.
    if (void* mapped = ::dlopen("libmyutil.so", RTLD_NOW | RTLD_NOLOAD)) {
        ::dlclose(mapped);
        GTEST_SKIP() << "an earlier test of this process left libmyutil.so mapped";
    }
    FFLoader().SetLibPath("/nonexistent/clipwell-dll");
    EXPECT_FALSE(FFLoader().LoadLibs(ConverterLibs));
    // The media libraries come from the system; myutil exists nowhere else.
    EXPECT_EQ(FFLoader().LastErrMsg(),
              "Load library /nonexistent/clipwell-dll/libmyutil.so error: libmyutil.so: "
              "cannot open shared object file: No such file or directory");
    EXPECT_TRUE(NothingLoaded(ConverterLibs));
}

TEST_F(RuntimeLoader, FilesThatAreNoLibraries) {
    std::string name = Temp("libmyutil.so");
    FFLoader().SetLibPath(Temp());
    struct TCase {
        const char* What;
        std::string Content;
        std::string Reason; // empty: any reason
    };
    std::string elfHead;
    {
        std::ifstream real(TestDllFolder() + "libmyutil.so", std::ios::binary);
        elfHead.resize(200);
        real.read(elfHead.data(), static_cast<std::streamsize>(elfHead.size()));
    }
    const TCase cases[] = {
        {"text file", std::string(100, '#') + " not a library\n", "invalid ELF header"},
        {"empty file", "", "file too short"},
        {"truncated library", elfHead, ""},
    };
    for (const TCase& c : cases) {
        std::ofstream(name, std::ios::binary | std::ios::trunc) << c.Content;
        EXPECT_FALSE(FFLoader().LoadLib(libMyUtil)) << c.What;
        std::string expected = "Load library " + name + " error: " + name + ": ";
        EXPECT_EQ(FFLoader().LastErrMsg().substr(0, expected.size()), expected) << c.What;
        if (!c.Reason.empty()) {
            EXPECT_EQ(FFLoader().LastErrMsg(), expected + c.Reason) << c.What;
        }
        EXPECT_GT(FFLoader().LastErrMsg().size(), expected.size()) << c.What;
        EXPECT_FALSE(FFLoader().IsLoaded(libMyUtil));
        EXPECT_EQ(myutil::my_snprintf, nullptr);
    }
}

TEST_F(RuntimeLoader, UnreadableLibrary) {
    std::string name = Temp("libmyutil.so");
    fs::copy_file(TestDllFolder() + "libmyutil.so", name);
    fs::permissions(name, fs::perms::none);
    if (::access(name.c_str(), R_OK) == 0) GTEST_SKIP() << "running with rights that read any file";
    FFLoader().SetLibPath(Temp());
    EXPECT_FALSE(FFLoader().LoadLib(libMyUtil));
    EXPECT_EQ(FFLoader().LastErrMsg(), "Load library " + name + " error: " + name +
                                           ": cannot open shared object file: Permission denied");
}

TEST_F(RuntimeLoader, CustomNameWithoutAFileIsRefused) {
    FFLoader().SetCustomFileName(libMyUtil, Temp() + "/");
    EXPECT_FALSE(FFLoader().LoadLib(libMyUtil));
    EXPECT_EQ(FFLoader().LastErrMsg(), "Load library " + Temp() + "/ error: no library file name");
}

TEST_F(RuntimeLoader, CustomNameWithAFolderWinsOverTheLibraryPath) {
    std::string copy = Temp("libmyutil.so");
    fs::copy_file(TestDllFolder() + "libmyutil.so", copy);
    FFLoader().SetLibPath(TestDllFolder());
    FFLoader().SetCustomFileName(libMyUtil, copy);
    ASSERT_TRUE(FFLoader().LoadLib(libMyUtil)) << FFLoader().LastErrMsg();
    EXPECT_EQ(FileOf(myutil::my_strtol), copy);
}

TEST_F(RuntimeLoader, PathGetsTheFolderOnce) {
    std::string folder = TestDllFolder().substr(0, TestDllFolder().size() - 1);
    SetEnvironmentVariable("PATH", "/usr/bin:/bin");
    ASSERT_TRUE(LoadTestLibs(ConverterLibs));
    EXPECT_EQ(GetEnvironmentVariable("PATH"), folder + ":/usr/bin:/bin");
    FFLoader().UnloadLibs(ConverterLibs);
    ASSERT_TRUE(LoadTestLibs(ConverterLibs));
    EXPECT_EQ(GetEnvironmentVariable("PATH"), folder + ":/usr/bin:/bin");

    // Already there in another letter case: not added again.
    FFLoader().UnloadLibs(ConverterLibs);
    std::string upper = UpperCase(folder) + ":/usr/bin";
    SetEnvironmentVariable("PATH", upper);
    ASSERT_TRUE(LoadTestLibs(ConverterLibs));
    EXPECT_EQ(GetEnvironmentVariable("PATH"), upper);

    // Libraries found by the system's search do not touch PATH.
    FFLoader().UnloadLibs(ConverterLibs);
    SetEnvironmentVariable("PATH", "/bin");
    FFLoader().SetLibPath("");
    ASSERT_TRUE(FFLoader().LoadLibs(TLibraries{libAVCodec, libAVUtil}));
    EXPECT_EQ(GetEnvironmentVariable("PATH"), "/bin");
}

unsigned FakeLogGetLevelCalls = 0;
int FakeLogGetLevel() {
    ++FakeLogGetLevelCalls;
    return 12345;
}

TEST_F(RuntimeLoader, LoadingTwiceRepeatsOnlyThePostLoadSteps) {
    ASSERT_TRUE(LoadTestLibs(ConverterLibs));
    void* handles[kLibraryCount];
    for (TLibraryID id : kAllIds)
        handles[id] = FFLoader().Status(id).ModuleHandle;
    // Marks that a second resolution would overwrite, and a callback a second install replaces.
    auto realGetLevel = av::av_log_get_level;
    av::av_log_get_level = FakeLogGetLevel;
    av::av_log_set_callback(av::av_log_default_callback);

    ASSERT_TRUE(LoadTestLibs(ConverterLibs));
    for (TLibraryID id : kAllIds)
        EXPECT_EQ(FFLoader().Status(id).ModuleHandle, handles[id]) << id;
    EXPECT_EQ(av::av_log_get_level, FakeLogGetLevel); // not resolved again
    av::av_log_get_level = realGetLevel;

    std::vector<std::string> lines;
    FFLogger().OnLog = [&](const void*, uint32_t, TLogLevel, const std::string& msg) {
        lines.push_back(msg);
    };
    av::av_log(nullptr, AV_LOG_ERROR, "callback installed again\n");
    FFLogger().OnLog = nullptr;
    EXPECT_EQ(lines, (std::vector<std::string>{"callback installed again"}));
    EXPECT_TRUE(UnicodeProtocolRegistered());
}

TEST_F(RuntimeLoader, LogHookCanBeLeftOut) {
    // Start from the library's own printer, whether or not the library stayed mapped.
    ASSERT_TRUE(FFLoader().LoadLibs(TLibraries{libAVUtil}));
    av::av_log_set_callback(av::av_log_default_callback);
    FFLoader().UnloadLib(libAVUtil);
    FFLoader().HookLog = false;
    ASSERT_TRUE(FFLoader().LoadLibs(TLibraries{libAVUtil}));
    FFLoader().HookLog = true;
    std::vector<std::string> lines;
    FFLogger().OnLog = [&](const void*, uint32_t, TLogLevel, const std::string& msg) {
        lines.push_back(msg);
    };
    av::av_log_set_level(AV_LOG_QUIET); // keep the library's own printer quiet
    av::av_log(nullptr, AV_LOG_PANIC, "not ours\n");
    FFLogger().OnLog = nullptr;
    EXPECT_TRUE(lines.empty());
}

TEST_F(RuntimeLoader, EmptySetIsAProgrammingError) {
    auto textOf = [](auto&& fn) -> std::string {
        try {
            fn();
        } catch (const EAssertionFailed& e) {
            return e.what();
        }
        return "no assertion";
    };
    EXPECT_EQ(textOf([] { FFLoader().LoadLibs(TLibraries{}); }), "Assertion failure (Src/FFmpegLoader)");
    EXPECT_EQ(textOf([] { FFLoader().AllLoaded(TLibraries{}); }), "Assertion failure (Src/FFmpegLoader)");
    EXPECT_EQ(textOf([] { FFLoader().UnloadLibs(TLibraries{}); }), "Assertion failure (Src/FFmpegLoader)");
}

} // namespace
