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
#include <dirent.h>
#include <map>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
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

// CPU seconds per thread name, from /proc.
std::map<std::string, double> ThreadCpu() {
    std::map<std::string, double> result;
    const double tick = double(sysconf(_SC_CLK_TCK));
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] == '.') continue;
            std::string base = std::string("/proc/self/task/") + entry->d_name;
            char name[64] = {};
            if (FILE* f = std::fopen((base + "/comm").c_str(), "r")) {
                if (std::fgets(name, sizeof name, f)) name[std::strcspn(name, "\n")] = 0;
                std::fclose(f);
            }
            if (FILE* f = std::fopen((base + "/stat").c_str(), "r")) {
                char buffer[1024] = {};
                size_t n = std::fread(buffer, 1, sizeof buffer - 1, f);
                std::fclose(f);
                buffer[n] = 0;
                // Fields after the closing parenthesis of the name: state is field 3, utime 14, stime 15.
                const char* p = std::strrchr(buffer, ')');
                unsigned long utime = 0, stime = 0;
                if (p && std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime,
                                     &stime) == 2)
                    result[name] += (utime + stime) / tick;
            }
        }
        closedir(dir);
    }
    return result;
}

struct TStats {
    std::vector<double> Values;
    void Print(const char* what) {
        std::sort(Values.begin(), Values.end());
        std::printf("%-44s median %6.1f ms   max %6.1f ms   (%zu runs)\n", what,
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

    // Open to the first position, from a stopped player and while another file plays (Open then
    // stops that one first).
    for (const std::string& file : {mp3, wav}) {
        const bool isMp3 = file == mp3;
        TStats open, reopen, stop;
        for (int run = 0; run < 20; ++run) {
            const bool playing = run % 2 == 1;
            if (!playing) {
                double start = Now();
                player.Stop(true);
                stop.Values.push_back(Now() - start);
            }
            reports = 0;
            double start = Now();
            if (!player.Open(file, hostPtr)) {
                std::fprintf(stderr, "open failed: %s\n", player.LastErrMsg.c_str());
                return 1;
            }
            if (!PumpUntil([&] { return reports > 0; }, 5)) return 1;
            (playing ? reopen : open).Values.push_back(Now() - start);
            PumpUntil([] { return false; }, 0.2);
        }
        open.Print(isMp3 ? "Open -> first position (MP3)" : "Open -> first position (WAV)");
        reopen.Print(isMp3 ? "Open while playing -> first position (MP3)"
                           : "Open while playing -> first position (WAV)");
        stop.Print(isMp3 ? "Stop(true) while playing (MP3)" : "Stop(true) while playing (WAV)");

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
    std::map<std::string, double> threads0 = ThreadCpu();
    PumpUntil([&] { return false; }, playSeconds);
    double wall = Now() - wall0, cpu = CpuSeconds() - cpu0;
    for (auto& [name, seconds] : ThreadCpu())
        std::printf("  thread %-16s %.2f %% of one core\n", name.c_str(),
                    100.0 * (seconds - threads0[name]) / wall);
    player.Stop(true);
    std::printf("CPU while playing %.0f s of MP3%s: %.2f %% of one core (%.3f s CPU)\n", wall,
                hostPtr ? " with waveform frames" : "", 100.0 * cpu / wall, cpu);
    return 0;
}
