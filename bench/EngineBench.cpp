// The engine against the ffmpeg command line doing the same jobs: a 60 s cut out of a 10-minute
// 128 kbit/s MP3 (re-encoded at 128 kbit/s), a cut out of a 5-minute WAV, and a two-input join.
// Each job runs once in a process of its own (the engine in a forked child, with the libraries
// already loaded as the application has them) so that wall time and peak resident size are the
// job's own. Prints one line per job with the time ratio engine / ffmpeg, then the peak resident
// size of the same cut from a short and a long input.
//
// Not part of the test run. Build and run: bench/run.sh [build folder]
#include "FFmpeg.h"
#include "FFmpegLoader.h"
#include "MyUtils.h"
#include "TestMedia.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

struct TMeasure {
    double Seconds = 0;
    long PeakKb = 0;
    bool Ok = false;
};

TMeasure Finish(pid_t pid, std::chrono::steady_clock::time_point started) {
    TMeasure m;
    int status = 0;
    struct rusage usage {};
    if (wait4(pid, &status, 0, &usage) == pid) {
        m.Ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        m.PeakKb = usage.ru_maxrss;
    }
    m.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return m;
}

// Runs `job` in a forked child; the child's exit code is 0 when the job succeeded.
TMeasure InChild(const std::function<bool()>& job) {
    auto started = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) _exit(job() ? 0 : 1);
    return Finish(pid, started);
}

TMeasure Ffmpeg(const std::vector<std::string>& args) {
    std::vector<std::string> all{"ffmpeg", "-nostdin", "-v", "error", "-y"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    auto started = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, "ffmpeg", nullptr, nullptr, argv.data(), environ) != 0) return {};
    return Finish(pid, started);
}

// One conversion with the engine: the inputs (the first from `startUs`), `durationUs` of output
// (0 = all), the encoder and bit rate; join when there are several inputs.
bool EngineJob(const std::vector<std::string>& inputs, int64_t startUs, int64_t durationUs,
               const std::string& output, const std::string& encoder, const std::string& bitRate) {
    TCustomFFmpeg engine;
    engine.Reset();
    for (size_t i = 0; i < inputs.size(); ++i) {
        engine.FStartTime = i == 0 ? startUs : 0;
        if (!engine.OpenInputFile(inputs[i])) {
            std::fprintf(stderr, "%s\n", engine.LastError().c_str());
            return false;
        }
    }
    if (!encoder.empty()) engine.ApplyOption("acodec", encoder);
    if (!bitRate.empty()) engine.ApplyOption("ab", bitRate);
    if (durationUs > 0) engine.FRecordingTime = durationUs;
    if (engine.OpenOutputFile(output, inputs.size() > 1) < 0) {
        std::fprintf(stderr, "%s\n", engine.LastError().c_str());
        return false;
    }
    engine.BeginConvert(false);
    if (!engine.Finished()) std::fprintf(stderr, "%s\n", engine.ExceptionMessage().c_str());
    return engine.Finished();
}

void Report(const char* job, const TMeasure& engine, const TMeasure& ffmpeg) {
    std::printf(
        "%-34s engine %7.3f s  ffmpeg %7.3f s  ratio %5.2f   peak RSS engine %6.1f MB, ffmpeg %6.1f MB%s\n",
        job, engine.Seconds, ffmpeg.Seconds, ffmpeg.Seconds > 0 ? engine.Seconds / ffmpeg.Seconds : 0.0,
        engine.PeakKb / 1024.0, ffmpeg.PeakKb / 1024.0, engine.Ok && ffmpeg.Ok ? "" : "  (FAILED)");
    std::fflush(stdout);
}

} // namespace

int main() {
    FFLoader().SetLibPath(GetExecutableFolder() + "Dll/");
    if (!FFLoader().LoadLibs(ConverterLibs)) {
        std::fprintf(stderr, "%s\n", FFLoader().LastErrMsg().c_str());
        return 1;
    }
    std::printf("Generating the test media (cached in %s)...\n", TestMediaFolder().c_str());
    std::fflush(stdout);
    // Generated in a child so that this process (and the children it forks) stays small.
    auto media = [] {
        return std::vector<std::string>{TestMediaFile({TMediaFormat::Mp3Cbr, 600.0, 44100, 2, 128000}),
                                        TestMediaFile({TMediaFormat::Mp3Cbr, 90.0, 44100, 2, 128000}),
                                        TestMediaFile({TMediaFormat::Wav16, 300.0, 44100, 2}),
                                        TestMediaFile({TMediaFormat::Mp3Cbr, 60.0, 44100, 2, 128000}),
                                        TestMediaFile({TMediaFormat::Mp3Cbr, 45.0, 44100, 2, 128000})};
    };
    if (!InChild([&] { return media().size() == 5; }).Ok) {
        std::fprintf(stderr, "cannot generate the test media\n");
        return 1;
    }
    const std::string longMp3 = TestMediaFile({TMediaFormat::Mp3Cbr, 600.0, 44100, 2, 128000});
    const std::string shortMp3 = TestMediaFile({TMediaFormat::Mp3Cbr, 90.0, 44100, 2, 128000});
    const std::string wav = TestMediaFile({TMediaFormat::Wav16, 300.0, 44100, 2});
    const std::string partA = TestMediaFile({TMediaFormat::Mp3Cbr, 60.0, 44100, 2, 128000});
    const std::string partB = TestMediaFile({TMediaFormat::Mp3Cbr, 45.0, 44100, 2, 128000});

    const std::string folder =
        std::filesystem::temp_directory_path().string() + "/clipwell-bench-" + std::to_string(getpid()) + "/";
    std::filesystem::create_directories(folder);
    std::printf(
        "Each job runs once; ratio = engine time / ffmpeg time (<= 1.0: the engine is not slower).\n");

    Report("cut 60 s of a 10-min MP3 (lame)", InChild([&] {
               return EngineJob({longMp3}, 300000000, 60000000, folder + "cut.mp3", "libmp3lame", "128000");
           }),
           Ffmpeg({"-ss", "300", "-i", longMp3, "-t", "60", "-c:a", "libmp3lame", "-b:a", "128k",
                   folder + "ff-cut.mp3"}));
    Report("cut 120 s of a 5-min WAV",
           InChild([&] { return EngineJob({wav}, 60000000, 120000000, folder + "cut.wav", "", ""); }),
           Ffmpeg({"-ss", "60", "-i", wav, "-t", "120", "-c:a", "pcm_s16le", folder + "ff-cut.wav"}));
    Report("join 60 s + 45 s MP3 (lame)", InChild([&] {
               return EngineJob({partA, partB}, 0, 0, folder + "join.mp3", "libmp3lame", "128000");
           }),
           Ffmpeg({"-i", partA, "-i", partB, "-filter_complex", "[0:a][1:a]concat=n=2:v=0:a=1", "-c:a",
                   "libmp3lame", "-b:a", "128k", folder + "ff-join.mp3"}));

    // The same 60 s cut from a 90 s and from a 600 s input: the peak resident size must not grow
    // with the input.
    TMeasure fromShort = InChild(
        [&] { return EngineJob({shortMp3}, 20000000, 60000000, folder + "s.mp3", "libmp3lame", "128000"); });
    TMeasure fromLong = InChild(
        [&] { return EngineJob({longMp3}, 520000000, 60000000, folder + "l.mp3", "libmp3lame", "128000"); });
    std::printf("peak RSS of a 60 s cut: from a 90 s input %.1f MB, from a 600 s input %.1f MB%s\n",
                fromShort.PeakKb / 1024.0, fromLong.PeakKb / 1024.0,
                fromShort.Ok && fromLong.Ok ? "" : "  (FAILED)");

    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return 0;
}
