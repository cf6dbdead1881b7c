// Running clipwell-cut as a child process: its exit code, stdout and stderr, signals to it, and
// runs inside a private mount namespace with a small or read-only tmpfs.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

struct TCutResult {
    int ExitCode = -1;  // -1 when it ended by a signal or did not end in time
    int TermSignal = 0; // the signal that ended it, or 0
    std::string Out;
    std::string Err;
};

class TCutProcess {
public:
    TCutProcess() = default;
    ~TCutProcess();
    TCutProcess(const TCutProcess&) = delete;
    TCutProcess& operator=(const TCutProcess&) = delete;

    // Starts argv[0] with the arguments; the environment is inherited.
    bool Start(const std::vector<std::string>& argv);
    // Reads its output until stderr contains `text`; false when it ended or the time ran out.
    bool WaitForStderr(const std::string& text, int timeoutMs);
    void Signal(int signo);
    // Reads everything and waits for the end (killing it after timeoutMs).
    TCutResult Finish(int timeoutMs = 120000);

private:
    // One poll of both pipes; false when both are closed.
    bool Pump(int timeoutMs);

    pid_t FPid = -1;
    int FOut = -1;
    int FErr = -1;
    std::string FOutText;
    std::string FErrText;
};

// The clipwell-cut beside the test program.
std::string CutProgram();
// Runs clipwell-cut with the arguments to its end.
TCutResult RunCut(const std::vector<std::string>& args);

// Runs clipwell-cut with `args` while `folder` is a tmpfs mounted with `mountOptions` in a
// private mount namespace. The names left in the folder afterwards go to `listing`. False when
// the machine cannot do it (no namespaces or no mount permission).
bool RunCutOnTmpfs(const std::string& folder, const std::string& mountOptions,
                   const std::vector<std::string>& args, TCutResult& result,
                   std::vector<std::string>& listing);
