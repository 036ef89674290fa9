// SIGTERM and SIGINT end the program the way closing the main window does.
// The signal handler only writes a byte to a pipe; the GUI thread reads it
// through a socket notifier and does the closing.
#pragma once

#include <functional>

// Call first in main, before anything can be lost to a signal.
void InstallCloseSignals();
// Once the application object exists: runs onSignal on the GUI thread for each
// signal received (also for one that arrived before this call).
void WatchCloseSignals(std::function<void()> onSignal);
