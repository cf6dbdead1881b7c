// What the fuzz targets share: the media libraries loaded once, and each input written to a file
// whose extension follows its content, as a user's file would be named.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class ZEVuzuzAVE;

// The conversion component with its libraries loaded (once per process); aborts when they
// cannot be loaded, since no input could then be tried.
ZEVuzuzAVE& FuzzConverter();

// Writes the input to a scratch file of this process and returns its name. The extension is
// the one a file of that content would carry (".wav" for RIFF, ".ogg", ".wma", ".aac"; ".mp3"
// otherwise).
std::string WriteFuzzInput(const uint8_t* data, size_t size);

// A name in the same scratch folder.
std::string FuzzScratch(const std::string& name);
