#include "CutProcess.h"

#include "MyUtils.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

TCutProcess::~TCutProcess() {
    if (FPid > 0) {
        ::kill(FPid, SIGKILL);
        ::waitpid(FPid, nullptr, 0);
    }
    if (FOut >= 0) ::close(FOut);
    if (FErr >= 0) ::close(FErr);
}

bool TCutProcess::Start(const std::vector<std::string>& argv) {
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return false;
    if (::pipe2(err, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    // The child starts with default signal handling, whatever the test runner ignores.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setsigdefault(&attributes, &all);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    int rc = ::posix_spawn(&FPid, args[0], &actions, &attributes, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(out[1]);
    ::close(err[1]);
    FOut = out[0];
    FErr = err[0];
    if (rc != 0) FPid = -1;
    return rc == 0;
}

bool TCutProcess::Pump(int timeoutMs) {
    pollfd fds[2] = {{FOut, POLLIN, 0}, {FErr, POLLIN, 0}};
    int open = (FOut >= 0) + (FErr >= 0);
    if (open == 0) return false;
    if (::poll(fds, 2, timeoutMs) <= 0) return true;
    for (pollfd& fd : fds) {
        if (fd.fd < 0 || fd.revents == 0) continue;
        char buffer[4096];
        ssize_t got = ::read(fd.fd, buffer, sizeof(buffer));
        if (got > 0) {
            (fd.fd == FOut ? FOutText : FErrText).append(buffer, size_t(got));
        } else if (got == 0 || errno != EINTR) {
            ::close(fd.fd);
            (fd.fd == FOut ? FOut : FErr) = -1;
        }
    }
    return true;
}

bool TCutProcess::WaitForStderr(const std::string& text, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (FErrText.find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() > deadline || !Pump(50)) return false;
    }
    return true;
}

void TCutProcess::Signal(int signo) {
    if (FPid > 0) ::kill(FPid, signo);
}

TCutResult TCutProcess::Finish(int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Pump(100)) {
        if (std::chrono::steady_clock::now() > deadline) {
            Signal(SIGKILL);
            break;
        }
    }
    TCutResult result;
    int status = 0;
    if (FPid > 0 && ::waitpid(FPid, &status, 0) == FPid) {
        if (WIFEXITED(status)) result.ExitCode = WEXITSTATUS(status);
        if (WIFSIGNALED(status)) result.TermSignal = WTERMSIG(status);
    }
    FPid = -1;
    result.Out = FOutText;
    result.Err = FErrText;
    return result;
}

std::string CutProgram() {
    return GetExecutableFolder() + "clipwell-cut";
}

TCutResult RunCut(const std::vector<std::string>& args) {
    std::vector<std::string> argv{CutProgram()};
    argv.insert(argv.end(), args.begin(), args.end());
    TCutProcess process;
    if (!process.Start(argv)) return TCutResult();
    return process.Finish();
}

bool RunCutOnTmpfs(const std::string& folder, const std::string& mountOptions,
                   const std::vector<std::string>& args, TCutResult& result,
                   std::vector<std::string>& listing) {
    static const char* kScript = "dir=$1; opts=$2; shift 2; "
                                 "mount -t tmpfs -o \"$opts\" tmpfs \"$dir\" 2>/dev/null || exit 97; "
                                 "\"$@\"; rc=$?; echo @@LISTING; ls -A \"$dir\"; exit $rc";
    std::vector<std::string> argv{
        "/usr/bin/unshare", "--user",    "--map-root-user", "--mount", "/bin/sh", "-c", kScript, "sh", folder,
        mountOptions,       CutProgram()};
    argv.insert(argv.end(), args.begin(), args.end());
    if (::access(argv[0].c_str(), X_OK) != 0) return false;
    TCutProcess process;
    if (!process.Start(argv)) return false;
    result = process.Finish();
    if (result.ExitCode == 97 || result.Out.find("@@LISTING") == std::string::npos) return false;
    std::string tail = result.Out.substr(result.Out.find("@@LISTING") + 10);
    result.Out.erase(result.Out.find("@@LISTING"));
    listing.clear();
    while (!tail.empty()) {
        std::string line;
        SplitString(tail, "\n", true, line);
        if (!line.empty()) listing.push_back(line);
    }
    return true;
}
