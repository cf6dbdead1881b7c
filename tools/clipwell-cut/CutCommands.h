// clipwell-cut's commands: info, select and delete through the save workflow.
#pragma once

#include <string>
#include <vector>

// Runs clipwell-cut with its arguments (without the program name); returns the exit code.
int RunClipwellCut(const std::vector<std::string>& args);
