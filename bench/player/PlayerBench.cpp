// Measures the player on generated media with the sound driver of the environment
// (SDL_AUDIODRIVER=dummy keeps real-time pace without sound):
//   - time from Open to the first position report,
//   - time from Seek to the first position report at the new place,
//   - CPU time of the whole process while a minute of MP3 plays, as a share of one core.
// Usage: player_bench [--seconds N] [--host WIDTHxHEIGHT]
#include "FFPlay.h"
#include "MyUtils.h"
#include "TestLibs.h"
#include "TestMedia.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/resource.h>
#include <vector>

namespace {

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Serves the player's calls into the main thread the way a window's event loop would: blocking
// until a call arrives, at most 50 ms.
bool PumpUntil(const std::function<bool()>& done, double seconds) {
    double end = Now() + seconds;
    while (!done()) {
        if (Now() > end) return false;
        CheckSynchronize(50);
    }
    return true;
}

class THost : public IPlayerHost {
public:
    THost(int width, int height) : FWidth(width), FHeight(height) {}
    void GetClientSize(int& width, int& height) override {
        width = FWidth;
        height = FHeight;
    }
    void PresentFrame(const uint32_t* pixels, int width, int height) override {
        FCopy.assign(pixels, pixels + size_t(width) * height); // what a window does
    }

private:
    int FWidth, FHeight;
    std::vector<uint32_t> FCopy;
};

struct TStats {
    std::vector<double> Values;
    void Print(const char* what) {
        std::sort(Values.begin(), Values.end());
        std::printf("%-40s median %6.1f ms   max %6.1f ms   (%zu runs)\n", what,
                    Values[Values.size() / 2] * 1000, Values.back() * 1000, Values.size());
    }
};

} // namespace

int main(int argc, char** argv) {
    double playSeconds = 60;
    int hostWidth = 0, hostHeight = 0;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc) playSeconds = std::atof(argv[++i]);
        if (!std::strcmp(argv[i], "--host") && i + 1 < argc)
            std::sscanf(argv[++i], "%dx%d", &hostWidth, &hostHeight);
    }
    if (!LoadTestLibs(PlayerLibs) || !LoadTestLibs(ConverterLibs)) return 1;
    const std::string mp3 = TestMediaFile(TMediaSpec{TMediaFormat::Mp3Cbr, 65.0, 44100, 2, 128000});
    const std::string wav = TestMediaFile(TMediaSpec{TMediaFormat::Wav16, 65.0, 44100, 2, 0});
    THost host(hostWidth, hostHeight);
    IPlayerHost* hostPtr = hostWidth > 0 ? &host : nullptr;

    TFFPlayer player;
    int64_t lastPts = -1;
    int reports = 0;
    player.OnPosition = [&](TCustomPlayer*, int64_t pts) {
        lastPts = pts;
        ++reports;
    };

    // Open to the first position.
    for (const std::string& file : {mp3, wav}) {
        TStats open;
        for (int run = 0; run < 10; ++run) {
            reports = 0;
            double start = Now();
            if (!player.Open(file, hostPtr)) {
                std::fprintf(stderr, "open failed: %s\n", player.LastErrMsg.c_str());
                return 1;
            }
            if (!PumpUntil([&] { return reports > 0; }, 5)) return 1;
            open.Values.push_back(Now() - start);
        }
        open.Print(file == mp3 ? "Open -> first position (MP3)" : "Open -> first position (WAV)");

        // Seek to the first position at the new place.
        TStats seek;
        const int64_t targets[] = {40000000, 12000000, 55000000, 3000000,
                                   30000000, 20000000, 50000000, 8000000};
        for (int64_t target : targets) {
            PumpUntil([] { return false; }, 0.2);
            double start = Now();
            player.Seek(target);
            if (!PumpUntil([&] { return std::llabs(lastPts - target) < 500000; }, 5)) return 1;
            seek.Values.push_back(Now() - start);
        }
        seek.Print(file == mp3 ? "Seek -> first position there (MP3)" : "Seek -> first position there (WAV)");
        player.Stop(true);
    }

    // CPU share while playing.
    if (!player.Open(mp3, hostPtr)) return 1;
    PumpUntil([&] { return reports > 0; }, 5);
    double wall0 = Now(), cpu0 = CpuSeconds();
    PumpUntil([&] { return false; }, playSeconds);
    double wall = Now() - wall0, cpu = CpuSeconds() - cpu0;
    player.Stop(true);
    std::printf("CPU while playing %.0f s of MP3%s: %.2f %% of one core (%.3f s CPU)\n", wall,
                hostPtr ? " with waveform frames" : "", 100.0 * cpu / wall, cpu);
    return 0;
}
