// Joins the runtime's main-thread machinery (CallInMainThread, PumpMessages) to Qt's event loop.
#pragma once

// Queued CallInMainThread calls are run on the UI thread by a posted event, and PumpMessages
// also runs Qt's pending events. Call once, on the UI thread, after the QApplication exists.
void InstallQtMainThread();

// UI thread: sleeps in Qt's event wait until at least one event has arrived, then handles what
// is pending (including queued CallInMainThread calls). Uses no CPU while nothing happens.
void WaitForEvents();

// Any thread: wakes a UI thread that sleeps in WaitForEvents (or in Qt's own loop).
void WakeUiThread();
