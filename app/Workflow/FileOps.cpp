// File-system steps of the save on POSIX calls.
#include "FileOps.h"

#include "MyUtils.h"
#include "SaveWorkflow.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace FileOps {

namespace {

constexpr const char* kSuffixChars = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
constexpr size_t kSuffixLength = 6;

std::string RandomSuffix() {
    thread_local std::mt19937 generator{std::random_device{}()};
    std::uniform_int_distribution<int> pick(0, int(std::strlen(kSuffixChars)) - 1);
    std::string suffix(kSuffixLength, 'x');
    for (char& c : suffix)
        c = kSuffixChars[pick(generator)];
    return suffix;
}

// `text` cut to at most `bytes` bytes, never inside a UTF-8 sequence.
std::string FitName(const std::string& text, size_t bytes) {
    if (text.size() <= bytes) return text;
    size_t end = bytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return text.substr(0, end);
}

// The path of a name with its folder resolved (the name itself may not exist).
std::string ResolvedPath(const std::string& name) {
    char buffer[PATH_MAX];
    if (::realpath(name.c_str(), buffer)) return buffer;
    std::string folder = ExtractFilePath(name);
    if (folder.empty()) folder = "./";
    if (!::realpath(folder.c_str(), buffer)) return ExpandFileName(name);
    return IncludeTrailingPathDelimiter(buffer) + ExtractFileName(name);
}

} // namespace

std::string ErrorText(int error) {
    return std::strerror(error);
}

bool TRunLock::Hold(int fd) {
    Release();
    if (fd < 0) return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    FFd = fd;
    return true;
}

void TRunLock::Release() {
    if (FFd >= 0) ::close(FFd); // closing drops the lock
    FFd = -1;
}

std::string CreateHiddenSibling(const std::string& target, std::string& error, TRunLock* lock) {
    std::string folder = ExtractFilePath(target);
    std::string base = ExtractFileName(target);
    std::string ext = ExtractFileExt(base);
    // The name limit is in bytes; the dot, marker and suffix must fit beside the extension.
    const size_t fixed = 1 + std::strlen(kPartialMarker) + kSuffixLength + ext.size();
    std::string stem =
        FitName(base.substr(0, base.size() - ext.size()), fixed < NAME_MAX ? NAME_MAX - fixed : 0);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = folder + "." + stem + kPartialMarker + RandomSuffix() + ext;
        // 0666 before the umask, like any file the program creates.
        int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            // Another save cleaning up may just have taken the fresh file for a leftover.
            if (lock && !lock->Hold(fd)) continue;
            if (!lock) ::close(fd);
            return name;
        }
        if (errno != EEXIST) {
            error = ErrorText(errno);
            return std::string();
        }
    }
    error = ErrorText(EEXIST);
    return std::string();
}

bool ReplaceFile(const std::string& from, const std::string& to, std::string& error) {
    if (::rename(from.c_str(), to.c_str()) == 0) return true;
    error = ErrorText(errno);
    return false;
}

int MoveWithoutReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return errno;
    // The file system cannot rename without replacing: a hard link fails when `to` exists.
    if (::link(from.c_str(), to.c_str()) != 0) return errno;
    ::unlink(from.c_str());
    return 0;
}

void CopyPermissions(const std::string& model, const std::string& file) {
    struct stat info;
    if (::stat(model.c_str(), &info) == 0) ::chmod(file.c_str(), info.st_mode & 0777);
}

void SyncFile(const std::string& name) {
    int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

void RemoveFile(const std::string& name) {
    if (!name.empty()) ::unlink(name.c_str());
}

std::string CreateOwnFolder(const std::string& parent, const std::string& name, std::string& error,
                            TRunLock* lock) {
    std::string plain = parent + name;
    std::string folder;
    if (::mkdir(plain.c_str(), 0777) == 0) {
        folder = IncludeTrailingPathDelimiter(plain);
    } else if (errno != EEXIST) {
        error = ErrorText(errno);
        return std::string();
    } else {
        // Someone else's folder of that name: leave it alone and make a fresh one beside it.
        std::string pattern = plain + "-XXXXXX";
        if (!::mkdtemp(pattern.data())) {
            error = ErrorText(errno);
            return std::string();
        }
        folder = IncludeTrailingPathDelimiter(pattern);
    }
    if (lock) {
        int fd = ::open((folder + kFolderMarker).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 || !lock->Hold(fd)) {
            error = ErrorText(fd < 0 ? errno : EWOULDBLOCK);
            ::rmdir(folder.c_str());
            return std::string();
        }
    }
    return folder;
}

int64_t FreeSpace(const std::string& folder) {
    struct statvfs info;
    std::string path = folder.empty() ? std::string(".") : folder;
    if (::statvfs(path.c_str(), &info) != 0) return -1;
    return int64_t(info.f_bavail) * int64_t(info.f_frsize);
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    if (::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0)
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    return ResolvedPath(a) == ResolvedPath(b);
}

} // namespace FileOps

// ---- Deleting a folder ------------------------------------------------------------------------

bool DeleteFolder(const std::string& folder, bool removeFolder) {
    std::string f = IncludeTrailingPathDelimiter(Trim(folder));
    bool result = true;
    DIR* dir = ::opendir(f.c_str());
    if (!dir) return false;
    // Entries are collected first: removing while reading a directory may skip entries.
    std::vector<std::string> names;
    while (dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.emplace_back(entry->d_name);
    }
    ::closedir(dir);
    for (const std::string& name : names) {
        std::string path = f + name;
        struct stat info;
        if (::lstat(path.c_str(), &info) != 0) {
            result = false;
            continue;
        }
        if (S_ISDIR(info.st_mode)) {
            // A read-only folder cannot lose its entries: make it writable first.
            if ((info.st_mode & S_IWUSR) == 0) ::chmod(path.c_str(), info.st_mode | S_IRWXU);
            result = DeleteFolder(path, true) && result;
        } else {
            result = ::unlink(path.c_str()) == 0 && result;
        }
    }
    if (removeFolder) result = ::rmdir(f.c_str()) == 0 && result;
    return result;
}
