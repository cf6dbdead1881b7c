// The overview's build against the reference tools doing the same reading, one run each, as
// ratios: a 1-hour 128 kbit/s stereo MP3 against `ffmpeg -threads 1 -i FILE -f null -`, a 1-hour
// 16-bit stereo WAV against `cat FILE > /dev/null` (warm cache), and clipwell-cut waveform of the
// MP3 to PNG and JSON. Each build runs in a forked child so that its peak resident size is its
// own; the child reports the time to the first bins (the first pixels a view can draw) and the
// summary's memory. The media are generated once into the test media cache (an hour of MP3
// encoding takes a few minutes the first time).
//
// Not part of the test run: cmake --build build --target peaks_bench clipwell-cut && build/bin/peaks_bench
#include "FFmpegLoader.h"
#include "MyUtils.h"
#include "PeakBuilder.h"
#include "TestMedia.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using TClock = std::chrono::steady_clock;

struct TMeasure {
    double Seconds = 0;
    double CpuSeconds = 0; // user + system
    long PeakKb = 0;
    bool Ok = false;
};

TMeasure Finish(pid_t pid, TClock::time_point started) {
    TMeasure m;
    int status = 0;
    struct rusage usage {};
    if (wait4(pid, &status, 0, &usage) == pid) {
        m.Ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        m.PeakKb = usage.ru_maxrss;
        m.CpuSeconds = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
                       usage.ru_stime.tv_usec / 1e6;
    }
    m.Seconds = std::chrono::duration<double>(TClock::now() - started).count();
    return m;
}

TMeasure Spawn(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    auto started = TClock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return {};
    return Finish(pid, started);
}

struct TBuildFigures {
    double FirstBinsMs = -1;
    double SummaryMb = 0;
};

// Builds the overview of `file` in a child; its figures come back through a pipe.
TMeasure BuildInChild(const std::string& file, TBuildFigures& figures) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    auto started = TClock::now();
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        TPeakBuilder builder;
        std::atomic<bool> seen{false};
        std::atomic<int64_t> firstNs{-1};
        builder.OnProgress = [&] {
            auto summary = builder.Summary();
            if (!seen && summary && summary->BinCount() > 0) {
                seen = true;
                firstNs =
                    std::chrono::duration_cast<std::chrono::nanoseconds>(TClock::now() - started).count();
            }
        };
        builder.Start(file);
        bool done = builder.Wait();
        TBuildFigures result{firstNs.load() / 1e6,
                             builder.Summary() ? builder.Summary()->MemoryBytes() / 1e6 : 0};
        [[maybe_unused]] ssize_t n = write(fds[1], &result, sizeof result);
        _exit(done ? 0 : 1);
    }
    close(fds[1]);
    TMeasure m = Finish(pid, started);
    if (read(fds[0], &figures, sizeof figures) != sizeof figures) m.Ok = false;
    close(fds[0]);
    return m;
}

// Wall time decides; the CPU time shows what a machine busy with other work hides.
void PrintRatio(const char* job, const TMeasure& ours, const char* reference, const TMeasure& theirs) {
    std::printf(
        "%-34s %6.2f s (cpu %5.2f s) peak %6.1f MB | %-27s %6.2f s (cpu %5.2f s) | ratio %.2f (cpu %.2f)%s\n",
        job, ours.Seconds, ours.CpuSeconds, ours.PeakKb / 1024.0, reference, theirs.Seconds,
        theirs.CpuSeconds, ours.Seconds / theirs.Seconds, ours.CpuSeconds / std::max(theirs.CpuSeconds, 1e-3),
        ours.Ok && theirs.Ok ? "" : "  (FAILED)");
}

} // namespace

int main(int argc, char** argv) {
    bool wavOnly = argc > 1 && std::string(argv[1]) == "wav"; // the WAV rows alone
    FFLoader().SetLibPath(GetExecutableFolder() + "Dll/");
    if (!FFLoader().LoadLibs(ConverterLibs)) {
        std::fprintf(stderr, "%s\n", FFLoader().LastErrMsg().c_str());
        return 1;
    }
    double load[3] = {};
    if (getloadavg(load, 3) > 0) std::printf("load average before the runs: %.2f\n", load[0]);
    std::string mp3 = TestMediaFile({TMediaFormat::Mp3Cbr, 3600.0, 44100, 2, 128000});
    std::string wav = TestMediaFile({TMediaFormat::Wav16, 3600.0, 44100, 2, 0});
    std::string cut = GetExecutableFolder() + "clipwell-cut";
    std::string out = TestMediaFolder() + "peaks-bench-out";

    TMeasure ffmpeg, mp3Build, png, json;
    TBuildFigures mp3Figures;
    if (!wavOnly) {
        ffmpeg = Spawn({"ffmpeg", "-nostdin", "-v", "error", "-threads", "1", "-i", mp3, "-f", "null", "-"});
        mp3Build = BuildInChild(mp3, mp3Figures);
        PrintRatio("overview, 1 h MP3 128 kbit/s", mp3Build, "ffmpeg -threads 1 -f null", ffmpeg);
        png = Spawn({cut, "waveform", mp3, out + ".png", "--overwrite", "--quiet"});
        PrintRatio("clipwell-cut waveform MP3 -> PNG", png, "ffmpeg -threads 1 -f null", ffmpeg);
        json = Spawn({cut, "waveform", mp3, out + ".json", "--overwrite", "--quiet"});
        PrintRatio("clipwell-cut waveform MP3 -> JSON", json, "ffmpeg -threads 1 -f null", ffmpeg);
    }

    Spawn({"sh", "-c", "cat '" + wav + "' > /dev/null"}); // warms the cache
    TMeasure cat = Spawn({"sh", "-c", "cat '" + wav + "' > /dev/null"});
    TBuildFigures wavFigures;
    TMeasure wavBuild = BuildInChild(wav, wavFigures);
    PrintRatio("overview, 1 h WAV 16-bit stereo", wavBuild, "cat FILE > /dev/null (warm)", cat);

    std::printf("first bins after the build starts: MP3 %.0f ms, WAV %.0f ms\n", mp3Figures.FirstBinsMs,
                wavFigures.FirstBinsMs);
    std::printf("summary of 1 h stereo 44.1 kHz: %.1f MB (MP3), %.1f MB (WAV)\n", mp3Figures.SummaryMb,
                wavFigures.SummaryMb);
    std::remove((out + ".png").c_str());
    std::remove((out + ".json").c_str());
    return 0;
}
