// The application as a whole: the hidden window that stands for it, and the
// request to end it, which waits that may be cut short look at.
#pragma once

#include "Messages.h"

namespace win {

// The hidden window standing for the application (the handle plug-ins are
// given as the application's window). Made on first use, on the GUI thread;
// it lives until the process ends and answers WM_QUERYENDSESSION with 1,
// every other message with 0.
HWND ApplicationWindow();

// The program is ending by request (a signal): waits for other code (a
// plug-in, a stream draining, a start) give up soon instead of running to
// their limits. Async-signal-safe: a signal handler may call it.
void RequestQuit();
bool QuitRequested();
// Tests only: a new run of the program in the same process.
void ClearQuitRequest();

}  // namespace win
