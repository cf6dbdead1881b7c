// File-system steps of the save (private to the workflow): the hidden name an output is written
// under, the temporary folder of a delete-mode save, free space, and telling two names apart.
#pragma once

#include <cstdint>
#include <string>

namespace FileOps {

// The system's text for errno value `error`.
std::string ErrorText(int error);

// Creates a new, empty, hidden file beside target whose name ends in target's extension
// (".name.XXXXXX.ext"); returns its name, or "" with errno's text in `error`.
std::string CreateHiddenSibling(const std::string& target, std::string& error);

// Moves `from` over `to` (same folder, so the replacement is atomic). False with `error`.
bool ReplaceFile(const std::string& from, const std::string& to, std::string& error);

// Deletes a file if it exists.
void RemoveFile(const std::string& name);

// A temporary folder of the workflow's own in `parent` (with a trailing "/"): parent + name when
// that does not exist yet, else a fresh parent + name + "-XXXXXX". Returns it with a trailing "/",
// or "" with `error`.
std::string CreateOwnFolder(const std::string& parent, const std::string& name, std::string& error);

// Bytes available to this process on the file system holding `folder`; -1 when unknown.
int64_t FreeSpace(const std::string& folder);

// True when both names lead to the same file (after resolving links, "." and ".."), or, when
// `b` does not exist yet, when they resolve to the same path.
bool SameFile(const std::string& a, const std::string& b);

} // namespace FileOps
