// The command line of clipwell-cut: its commands, options, mark times and help text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Exit codes of clipwell-cut.
enum TCutExitCode {
    kExitDone = 0,
    kExitFailed = 1,  // the conversion (or loading the libraries) failed
    kExitUsage = 2,   // the command line is wrong
    kExitRefused = 3, // a check of the workflow refused the input or the save
    kExitInterrupted = 130,
};

enum class TCutCommand { None, Help, Version, Info, Select, Delete };

struct TCutOptions {
    TCutCommand Command = TCutCommand::None;
    std::string Input;
    std::string Output;
    int64_t StartMs = -1;
    int64_t EndMs = -1;
    bool Overwrite = false;
    bool Progress = false;
    bool Quiet = false;
    bool Lossless = false; // copy the compressed frames (select and delete)
    bool Json = false; // info as one JSON object
};

// Parses argv[1..]; false with the reason in `error` (a usage error).
bool ParseCutCommandLine(const std::vector<std::string>& args, TCutOptions& options, std::string& error);

// A mark: whole milliseconds ("2500") or a display time "[[hh:]mm:]ss[.zzz]" with at least one
// ":" ("00:00:02.500", "1:02.5"). False for anything else.
bool ParseMarkTime(const std::string& text, int64_t& ms);

// The --help text.
std::string CutUsageText();
