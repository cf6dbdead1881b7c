// File-system steps of the save (private to the workflow): the hidden name an output is written
// under, the temporary folder of a delete-mode save, the final move into place, free space,
// telling two names apart, and removing what a killed save left behind.
#pragma once

#include <cstdint>
#include <string>

namespace FileOps {

// An exclusive lock (flock) on one of the save's own files, held for as long as the save that
// made the file runs. The kernel drops it when the process ends in any way, so a marked file
// whose lock can be taken belongs to a save that no longer runs.
class TRunLock {
public:
    TRunLock() = default;
    ~TRunLock() { Release(); }
    TRunLock(const TRunLock&) = delete;
    TRunLock& operator=(const TRunLock&) = delete;
    // Takes over `fd` and locks it; false (fd closed) when another process holds the lock.
    bool Hold(int fd);
    void Release();
    bool Held() const { return FFd >= 0; }

private:
    int FFd = -1;
};

// The marker in the names of hidden partial outputs (".name.clipwell-XXXXXX.ext") and the marker
// file inside the save's own temporary folders.
inline constexpr const char* kPartialMarker = ".clipwell-";
inline constexpr const char* kFolderMarker = ".clipwell-run";

// The system's text for errno value `error`.
std::string ErrorText(int error);

// Creates a new, empty, hidden file beside target whose name ends in target's extension
// (".name.clipwell-XXXXXX.ext", the name part shortened so that the whole fits the file system's
// name limit); returns its name, or "" with errno's text in `error`. With `lock`, the file stays
// locked there as the running save's own.
std::string CreateHiddenSibling(const std::string& target, std::string& error, TRunLock* lock = nullptr);

// Moves `from` over `to` (same folder, so the replacement is atomic). False with `error`.
bool ReplaceFile(const std::string& from, const std::string& to, std::string& error);

// Moves `from` to `to` only when no `to` exists, atomically (a rename that does not replace, or
// a hard link on file systems without it). 0, or the errno value: EEXIST when `to` exists.
int MoveWithoutReplace(const std::string& from, const std::string& to);

// Gives `file` the permission bits of `model` (a file being replaced keeps its mode). Nothing
// when `model` does not exist.
void CopyPermissions(const std::string& model, const std::string& file);

// Flushes a file's data to the disk (best effort).
void SyncFile(const std::string& name);

// Deletes a file if it exists.
void RemoveFile(const std::string& name);

// A temporary folder of the workflow's own in `parent` (with a trailing "/"): parent + name when
// that does not exist yet, else a fresh parent + name + "-XXXXXX". Returns it with a trailing "/",
// or "" with `error`. With `lock`, the folder gets its marker file, locked as the running save's.
std::string CreateOwnFolder(const std::string& parent, const std::string& name, std::string& error,
                            TRunLock* lock = nullptr);

// Removes from `folder` what saves that no longer run left there: hidden partial outputs with the
// marker in their name, and temporary folders called `tempName` or `tempName`-XXXXXX holding the
// marker file, each only when it belongs to this user and its lock is free. Nothing else is
// touched. Returns how many were removed.
int RemoveLeftovers(const std::string& folder, const std::string& tempName);

// Bytes available to this process on the file system holding `folder`; -1 when unknown.
int64_t FreeSpace(const std::string& folder);

// True when both names lead to the same file (after resolving links, "." and ".."), or, when
// `b` does not exist yet, when they resolve to the same path.
bool SameFile(const std::string& a, const std::string& b);

} // namespace FileOps
