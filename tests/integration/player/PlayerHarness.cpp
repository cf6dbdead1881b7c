#include "PlayerHarness.h"

#include "FFmpegLogger.h"
#include "MyUtils.h"

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>

double Now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

bool PumpUntil(const std::function<bool()>& done, double seconds) {
    double end = Now() + seconds;
    while (!done()) {
        if (Now() >= end) return false;
        CheckSynchronize(5);
    }
    return true;
}

void PumpFor(double seconds) {
    PumpUntil([] { return false; }, seconds);
}

int ThreadCount() {
    int count = 0;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.') ++count;
        closedir(dir);
    }
    return count;
}

TScopedEnv::TScopedEnv(const char* name, const std::string& value) : FName(name) {
    const char* old = std::getenv(name);
    FHadOld = old != nullptr;
    if (old) FOld = old;
    setenv(name, value.c_str(), 1);
}

TScopedEnv::~TScopedEnv() {
    if (FHadOld)
        setenv(FName.c_str(), FOld.c_str(), 1);
    else
        unsetenv(FName.c_str());
}

TLogCapture::TLogCapture() {
    FFLogger().OnLog = [this](const void*, uint32_t, TLogLevel, const std::string& text) {
        Lines.push_back(text);
    };
}

TLogCapture::~TLogCapture() {
    FFLogger().OnLog = nullptr;
}

int TLogCapture::Count(const std::string& part) const {
    int count = 0;
    for (const std::string& line : Lines)
        if (line.find(part) != std::string::npos) ++count;
    return count;
}

void TTestHost::GetClientSize(int& width, int& height) {
    width = FWidth;
    height = FHeight;
}

void TTestHost::PresentFrame(const uint32_t* pixels, int width, int height) {
    std::lock_guard<std::mutex> guard(FLock);
    FPixels.assign(pixels, pixels + size_t(width) * height);
    FFrameWidth = width;
    FFrameHeight = height;
    ++FFrames;
}

int TTestHost::Frames() const {
    std::lock_guard<std::mutex> guard(FLock);
    return FFrames;
}

std::vector<uint32_t> TTestHost::LastFrame(int& width, int& height) const {
    std::lock_guard<std::mutex> guard(FLock);
    width = FFrameWidth;
    height = FFrameHeight;
    return FPixels;
}

void PlayerTest::SetUp() {
    // A hang must fail the test, not stall the suite.
    FWatchdog = std::make_unique<std::thread>([this] {
        std::unique_lock<std::mutex> lock(FWatchLock);
        if (!FWatchDone.wait_for(lock, std::chrono::seconds(90), [this] { return FFinished; })) {
            std::fprintf(stderr, "watchdog: player test hung\n");
            std::_Exit(3);
        }
    });
    ASSERT_TRUE(LoadTestLibs(PlayerLibs));
    ASSERT_TRUE(LoadTestLibs(ConverterLibs)); // the media generator encodes
    Player = std::make_unique<TFFPlayer>();
    Record(*Player);
}

void PlayerTest::TearDown() {
    Player.reset();
    {
        std::lock_guard<std::mutex> guard(FWatchLock);
        FFinished = true;
    }
    FWatchDone.notify_all();
    FWatchdog->join();
}

void PlayerTest::Record(TCustomPlayer& player) {
    player.OnFileOpen = [this](TCustomPlayer*, int64_t duration, int frameWidth, int frameHeight, int&,
                               int&) {
        OpenedDuration = duration;
        OpenedFrameWidth = frameWidth;
        OpenedFrameHeight = frameHeight;
        ++FileOpens;
    };
    player.OnPosition = [this](TCustomPlayer*, int64_t pts) { Positions.push_back({Now(), pts}); };
    player.OnState = [this](TCustomPlayer*, TPlayState state) {
        std::lock_guard<std::mutex> guard(FStateLock);
        FStates.emplace_back(Now(), state);
    };
}

bool PlayerTest::OpenAndWaitForPlay(const std::string& file, IPlayerHost* host) {
    size_t from = States().size();
    OpenTime = Now();
    if (!Player->Open(file, host)) return false;
    return WaitForState(psPlay, 5, from);
}

std::vector<TPlayState> PlayerTest::States() const {
    std::lock_guard<std::mutex> guard(FStateLock);
    std::vector<TPlayState> states;
    for (auto& entry : FStates)
        states.push_back(entry.second);
    return states;
}

int PlayerTest::CountStates(TPlayState state, size_t from) const {
    std::vector<TPlayState> states = States();
    int count = 0;
    for (size_t i = from; i < states.size(); ++i)
        if (states[i] == state) ++count;
    return count;
}

bool PlayerTest::WaitForState(TPlayState state, double seconds, size_t from) {
    return PumpUntil([&] { return CountStates(state, from) > 0; }, seconds);
}

bool PlayerTest::WaitForPosition(int64_t pts, double seconds) {
    return PumpUntil([&] { return !Positions.empty() && Positions.back().Pts >= pts; }, seconds);
}

std::string WavFile(double seconds, int channels, int rate) {
    return TestMediaFile(TMediaSpec{TMediaFormat::Wav16, seconds, rate, channels, 0});
}

std::string Mp3File(double seconds) {
    return TestMediaFile(TMediaSpec{TMediaFormat::Mp3Cbr, seconds, 44100, 2, 128000});
}

std::string CopyOf(const std::string& file, const std::string& tag) {
    std::string copy =
        TestMediaFolder() + "player-" + tag + "-" + std::to_string(getpid()) + ExtractFileExt(file);
    std::filesystem::copy_file(file, copy, std::filesystem::copy_options::overwrite_existing);
    return copy;
}
