// Ctrl+C (SIGINT), SIGTERM and SIGHUP for clipwell-cut. The handler only records the signal and
// writes to a self-pipe; a watcher thread wakes the main thread, which then stops the conversion
// and cleans up. A second signal changes nothing (the cleanup goes on); only a third ends the
// program at once, and what it leaves is removed by the next save into that folder.
#pragma once

// Installs the handlers (once), and makes media reads give up once a signal arrived.
void InstallInterruptHandler();
// The first signal that arrived, or 0.
int InterruptSignal();
