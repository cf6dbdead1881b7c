// Loading the real media libraries in tests, from Dll/ beside the test program.
#pragma once

#include "FFmpegLoader.h"

#include <string>

std::string TestDllFolder();
// Loads a library set and fails the calling test (ASSERT) with the loader's text when it cannot.
bool LoadTestLibs(const TLibraries& libs);
