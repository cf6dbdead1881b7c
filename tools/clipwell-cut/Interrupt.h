// Ctrl+C (SIGINT) and SIGTERM for clipwell-cut. The handler only records the signal and writes
// to a self-pipe; a watcher thread wakes the main thread, which then stops the conversion.
#pragma once

// Installs the handlers (once). A second signal of the same kind ends the program at once.
void InstallInterruptHandler();
// The signal that arrived, or 0.
int InterruptSignal();
