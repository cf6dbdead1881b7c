// clipwell-cut waveform: the overview of a file as PNG, waveform-data JSON or .dat.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TWaveformOptions {
    std::string Input;
    std::string Output;
    int Width = -1; // -1: 1000 columns for PNG, 256 samples per pixel for the data formats
    int Height = 200;
    int Bits = 16;
    int64_t StartMs = 0;
    int64_t EndMs = -1;
    bool Overwrite = false;
    bool Quiet = false;
};

bool IsWaveformCommand(const std::vector<std::string>& args);
// Parses "waveform INPUT OUTPUT [options]"; false with the reason in `error`.
bool ParseWaveformCommandLine(const std::vector<std::string>& args, TWaveformOptions& options,
                              std::string& error);
// Runs the command (args[0] is "waveform"); returns the exit code.
int RunWaveformCommand(const std::vector<std::string>& args);
// The command's usage lines and its paragraph of the --help text.
std::string WaveformUsageText();
std::string WaveformHelpText();
