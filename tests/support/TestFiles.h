// Small file helpers shared by the tests.
#pragma once

#include <string>
#include <vector>

// The whole content of a file ("" when it cannot be read).
std::string ReadAll(const std::string& file);
// The names in a folder, without "." and "..", sorted ({} when it cannot be listed).
std::vector<std::string> FolderEntries(const std::string& folder);
