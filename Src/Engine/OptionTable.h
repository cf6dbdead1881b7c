// The names of the engine's option table (TCustomFFmpeg::ApplyOption).
#pragma once

#include <string>
#include <vector>

// True when the name (exact, case-sensitive) is one of the engine's own options.
bool IsEngineOption(const std::string& name);
// All names of the table: the general and audio options, then the video and subtitle ones.
std::vector<std::string> EngineOptionNames();
