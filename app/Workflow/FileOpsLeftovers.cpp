// Removing what a save that no longer runs left behind: its hidden partial output beside the
// target and its temporary folder. Both carry a marker (in the name, or a marker file inside) and
// a lock that their save held; only marked entries of this user whose lock is free are removed.
#include "FileOps.h"

#include "MyUtils.h"
#include "SaveWorkflow.h"

#include <cctype>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace FileOps {

namespace {

// ".<name>.clipwell-XXXXXX" followed by nothing or one extension.
bool IsPartialName(const std::string& name) {
    if (name.size() < 2 || name[0] != '.') return false;
    size_t marker = name.rfind(kPartialMarker);
    if (marker == std::string::npos || marker == 0) return false;
    size_t suffix = marker + std::strlen(kPartialMarker);
    if (name.size() < suffix + 6) return false;
    for (size_t i = suffix; i < suffix + 6; ++i)
        if (!std::isalnum(static_cast<unsigned char>(name[i]))) return false;
    std::string ext = name.substr(suffix + 6);
    return ext.empty() || (ext[0] == '.' && ext.find('.', 1) == std::string::npos);
}

bool IsOwnFolderName(const std::string& name, const std::string& tempName) {
    if (name == tempName) return true;
    return name.size() == tempName.size() + 7 && name.compare(0, tempName.size() + 1, tempName + "-") == 0;
}

// Whether `path` (a regular file of this user) is locked by a running save; false when its lock
// could be taken, that is, nobody holds it.
bool LockIsFree(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
        ::close(fd);
        return false;
    }
    TRunLock probe;
    return probe.Hold(fd);
}

} // namespace

int RemoveLeftovers(const std::string& folder, const std::string& tempName) {
    std::string f = folder.empty() ? std::string("./") : IncludeTrailingPathDelimiter(folder);
    DIR* dir = ::opendir(f.c_str());
    if (!dir) return 0;
    std::vector<std::string> names;
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (IsPartialName(name) || IsOwnFolderName(name, tempName)) names.push_back(name);
    }
    ::closedir(dir);

    int removed = 0;
    for (const std::string& name : names) {
        std::string path = f + name;
        struct stat info;
        if (::lstat(path.c_str(), &info) != 0 || info.st_uid != ::geteuid()) continue;
        if (S_ISREG(info.st_mode) && IsPartialName(name)) {
            if (LockIsFree(path) && ::unlink(path.c_str()) == 0) ++removed;
        } else if (S_ISDIR(info.st_mode) && IsOwnFolderName(name, tempName)) {
            std::string inner = IncludeTrailingPathDelimiter(path);
            if (LockIsFree(inner + kFolderMarker) && DeleteFolder(inner, true)) ++removed;
        }
    }
    return removed;
}

} // namespace FileOps
