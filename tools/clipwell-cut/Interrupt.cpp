// Signal handling of clipwell-cut: an atomic flag and a self-pipe, nothing else in the handler.
#include "Interrupt.h"

#include "MyUtils.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace {

std::atomic<int> gSignal{0}; // written by the handler, read by the main thread
int gPipe[2] = {-1, -1};     // [0] read by the watcher, [1] written by the handler

void OnSignal(int signo) {
    int saved = errno;
    gSignal.store(signo);
    char byte = 1;
    [[maybe_unused]] ssize_t written = ::write(gPipe[1], &byte, 1);
    errno = saved;
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
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_RESETHAND; // a second Ctrl+C ends the program
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

int InterruptSignal() {
    return gSignal.load();
}
