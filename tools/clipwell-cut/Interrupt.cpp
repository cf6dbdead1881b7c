// Signal handling of clipwell-cut: an atomic flag and a self-pipe, nothing else in the handler.
#include "Interrupt.h"

#include "MyUtils.h"
#include "UnicodeProtocol.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kAbandonAt = 3; // the signal that ends the program without cleaning up
constexpr const char kStillCleaning[] =
    "clipwell-cut: stopping and removing the partial files; interrupt once more to quit at once\n";

std::atomic<int> gSignal{0}; // the first signal: written by the handler, read by the main thread
std::atomic<int> gCount{0};  // signals so far: handler only
int gPipe[2] = {-1, -1};     // [0] read by the watcher, [1] written by the handler

void OnSignal(int signo) {
    int saved = errno;
    int count = gCount.fetch_add(1) + 1;
    if (count >= kAbandonAt) {
        // Abandon: the default action ends the process with this signal.
        ::signal(signo, SIG_DFL);
        ::raise(signo);
        return;
    }
    int expected = 0;
    gSignal.compare_exchange_strong(expected, signo);
    if (count == 2) {
        [[maybe_unused]] ssize_t shown = ::write(2, kStillCleaning, sizeof kStillCleaning - 1);
    }
    char byte = 1;
    [[maybe_unused]] ssize_t written = ::write(gPipe[1], &byte, 1);
    errno = saved;
}

bool MediaReadInterrupted() {
    return gSignal.load() != 0;
}

// Wakes the main thread's wait for every signal byte ("sigwatch").
void WatchPipe() {
    SetCurrentThreadName("sigwatch");
    char byte;
    for (;;) {
        ssize_t got = ::read(gPipe[0], &byte, 1);
        if (got == 1) {
            WakeMainThread();
        } else if (got == 0 || errno != EINTR) {
            return;
        }
    }
}

} // namespace

void InstallInterruptHandler() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    if (::pipe2(gPipe, O_CLOEXEC) != 0) return;
    // Started before the handlers: every signal that is caught has a watcher to wake.
    std::thread(WatchPipe).detach();
    SetMediaInterruptCheck(MediaReadInterrupted);
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signo : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signo, &action, nullptr);
}

int InterruptSignal() {
    return gSignal.load();
}
