// clipwell-cut waveform: builds the overview with the window's peaks code and writes it out.
#include "WaveformCommand.h"

#include "CutCommandLine.h"
#include "FFmpegLoader.h"
#include "Interrupt.h"
#include "MyUtils.h"
#include "PeakBuilder.h"
#include "WaveformExport.h"

#include <cstdio>

namespace {

constexpr int kDefaultPngWidth = 1000;
constexpr int kMaxWidth = 1 << 20;
constexpr int kMaxPngSide = 16384;

void PrintError(const std::string& text) {
    std::fprintf(stderr, "clipwell-cut: %s\n", text.c_str());
}

std::string LowerExtension(const std::string& name) {
    std::string ext = ExtractFileExt(name);
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

bool ParseNumber(const std::string& text, int low, int high, int& value) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::stoi(text);
    return value >= low && value <= high;
}

// Builds the summary, with Ctrl+C stopping the build; 0 or the exit code to end with.
int BuildSummary(TPeakBuilder& builder, const TWaveformOptions& options, bool png) {
    TPeakOptions peakOptions;
    peakOptions.StartMs = options.StartMs;
    peakOptions.EndMs = options.EndMs;
    if (options.Width > 0 || png) peakOptions.Columns = options.Width > 0 ? options.Width : kDefaultPngWidth;
    builder.OnProgress = [] { WakeMainThread(); };
    builder.Start(options.Input, peakOptions);
    WaitUntil([&] {
        TPeakState state = builder.State();
        return InterruptSignal() != 0 || state == TPeakState::Done || state == TPeakState::Failed;
    });
    if (InterruptSignal() != 0) {
        builder.Stop();
        return 128 + InterruptSignal();
    }
    if (builder.State() != TPeakState::Done) {
        PrintError(builder.LastError());
        return kExitFailed;
    }
    if (!builder.LastError().empty() && !options.Quiet) PrintError(builder.LastError());
    return 0;
}

} // namespace

bool IsWaveformCommand(const std::vector<std::string>& args) {
    for (const std::string& arg : args)
        if (arg.empty() || arg[0] != '-') return arg == "waveform";
    return false;
}

bool ParseWaveformCommandLine(const std::vector<std::string>& args, TWaveformOptions& options,
                              std::string& error) {
    options = TWaveformOptions();
    std::vector<std::string> positional;
    bool haveStart = false, haveEnd = false;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i], value;
        bool inlineValue = arg.rfind("--", 0) == 0 && arg.find('=') != std::string::npos;
        if (inlineValue) {
            value = arg.substr(arg.find('=') + 1);
            arg.erase(arg.find('='));
        }
        bool takesValue =
            arg == "--width" || arg == "--height" || arg == "--bits" || arg == "--start" || arg == "--end";
        if (takesValue && !inlineValue) {
            if (i + 1 >= args.size()) {
                error = arg + " needs a value";
                return false;
            }
            value = args[++i];
        }
        int64_t ms = 0;
        if (arg == "--width") {
            if (!ParseNumber(value, 1, kMaxWidth, options.Width)) {
                error = "not a width: \"" + value + "\"";
                return false;
            }
        } else if (arg == "--height") {
            if (!ParseNumber(value, 1, kMaxPngSide, options.Height)) {
                error = "not a height: \"" + value + "\"";
                return false;
            }
        } else if (arg == "--bits") {
            if (value != "8" && value != "16") {
                error = "--bits is 8 or 16";
                return false;
            }
            options.Bits = std::stoi(value);
        } else if (arg == "--start" || arg == "--end") {
            if (!ParseMarkTime(value, ms)) {
                error = "not a time for " + arg + ": \"" + value + "\" (milliseconds or 00:00:02.500)";
                return false;
            }
            (arg == "--start" ? options.StartMs : options.EndMs) = ms;
            (arg == "--start" ? haveStart : haveEnd) = true;
        } else if (arg == "--overwrite" || arg == "--quiet") {
            if (inlineValue) {
                error = arg + " takes no value";
                return false;
            }
            (arg == "--overwrite" ? options.Overwrite : options.Quiet) = true;
        } else if (arg == "--") {
            positional.insert(positional.end(), args.begin() + i + 1, args.end());
            break;
        } else if (arg.size() > 1 && arg[0] == '-') {
            error = "unknown option " + arg + " for waveform";
            return false;
        } else {
            positional.push_back(args[i]);
        }
    }
    if (positional.size() != 3 || positional[0] != "waveform") {
        error = "waveform takes INPUT and OUTPUT";
        return false;
    }
    options.Input = positional[1];
    options.Output = positional[2];
    std::string ext = LowerExtension(options.Output);
    if (options.Input.empty() || (ext != ".png" && ext != ".json" && ext != ".dat")) {
        error = "the waveform OUTPUT ends in .png, .json or .dat";
        return false;
    }
    if (ext == ".png" && options.Width > kMaxPngSide) {
        error = Format("a PNG is at most %d pixels wide", kMaxPngSide);
        return false;
    }
    if (haveStart && haveEnd && options.EndMs <= options.StartMs) {
        error = "the ending point shall be after the starting point";
        return false;
    }
    return true;
}

int RunWaveformCommand(const std::vector<std::string>& args) {
    TWaveformOptions options;
    std::string error;
    if (!ParseWaveformCommandLine(args, options, error)) {
        PrintError(error);
        std::fprintf(stderr, "\nUsage: %s\n%s", WaveformUsageText().c_str() + 7, WaveformHelpText().c_str());
        return kExitUsage;
    }
    if (!options.Overwrite && FileExists(options.Output)) {
        PrintError(options.Output + " exists; use --overwrite to replace it.");
        return kExitRefused;
    }
    InstallInterruptHandler();
    FFLoader().SetLibPath(GetExecutableFolder() + "Dll/");
    if (!FFLoader().LoadLibs(ConverterLibs)) {
        PrintError(FFLoader().LastErrMsg());
        return kExitFailed;
    }
    bool png = LowerExtension(options.Output) == ".png";
    TPeakBuilder builder;
    if (int rc = BuildSummary(builder, options, png)) return rc;

    auto summary = builder.Summary();
    int64_t start = summary->OriginFrame();
    int64_t span =
        std::min(builder.TotalFrames(), options.EndMs >= 0 ? builder.TotalFrames() : INT64_MAX) - start;
    int64_t columns = span > 0 ? (span + summary->BinFrames() - 1) / summary->BinFrames() : 0;
    int64_t decodedColumns = std::min(summary->BinCount(), columns);
    if (decodedColumns <= 0) {
        PrintError("The starting point lies beyond the end of the file.");
        return kExitRefused;
    }
    std::string bytes;
    std::string ext = LowerExtension(options.Output);
    if (png) {
        int width = static_cast<int>(std::min<int64_t>(columns, kMaxPngSide));
        std::vector<uint8_t> rgba = DrawWaveform(*summary, width, options.Height, columns);
        if (!EncodePng(rgba, width, options.Height, bytes, error)) {
            PrintError(error);
            return kExitFailed;
        }
    } else {
        // Only what decoded: a player shows the length the data has.
        TWaveformData data = WaveformDataOf(*summary, decodedColumns, options.Bits);
        bytes = ext == ".json" ? WaveformJson(data) : WaveformDat(data);
    }
    if (!WriteFileAtomically(options.Output, bytes, error)) {
        PrintError(error);
        return kExitFailed;
    }
    if (!options.Quiet) std::printf("%s\n", options.Output.c_str());
    return kExitDone;
}

std::string WaveformUsageText() {
    return "       clipwell-cut waveform INPUT OUTPUT [--width W] [--height H] [--start S --end E]\n"
           "                    [--bits 8|16] [--overwrite] [--quiet]\n";
}

std::string WaveformHelpText() {
    return "waveform draws the overview of INPUT (from S to E, else all of it) into OUTPUT: a .png\n"
           "picture W (default 1000) by H (default 200) pixels, or the waveform-data format of web\n"
           "waveform players, version 2, as .json or binary .dat, with W pixels (default: 256\n"
           "samples per pixel) of min/max pairs per channel in 8 or 16 (default) bits. Parts of a\n"
           "file that cannot be decoded are hatched in the picture and reported on stderr.\n";
}
