// The message-box facade: every box the program shows goes through here. The
// GUI installs its boxes; tests install a handler that records and answers.
//
// A box waits for its OK only when the caller asks so with MB_WAIT (an answer
// to the operator's own command, the intended end of a run). Every other box
// is shown and the call returns IDOK at once: a program playing by itself must
// never stop for a click that nobody will give.
#pragma once

#include <functional>
#include <string>

#include "Messages.h"

namespace win {

constexpr unsigned MB_OK = 0x0;
constexpr unsigned MB_OKCANCEL = 0x1;  // OK and Cancel buttons
constexpr unsigned MB_ICONERROR = 0x10;
constexpr unsigned MB_ICONQUESTION = 0x20;
constexpr unsigned MB_ICONWARNING = 0x30;
constexpr unsigned MB_ICONINFORMATION = 0x40;
constexpr unsigned MB_WAIT = 0x01000000;  // the caller waits until the box is closed
constexpr int IDOK = 1;

using MessageBoxHandler =
    std::function<int(const std::string& caption, const std::string& text, unsigned flags)>;

// Shows a box with an OK button (flags: the MB_ICON... value, MB_OKCANCEL for
// a Cancel button too, optionally MB_WAIT) and returns the button pressed. Without a handler
// installed the box is written to stderr and answered with IDOK (headless tools).
int MessageBox(HWND owner, const std::string& text, const std::string& caption,
               unsigned flags = MB_OK);

// Installs the handler (an empty function restores the stderr default);
// returns the previous one.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

}  // namespace win
