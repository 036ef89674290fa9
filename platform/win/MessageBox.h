// The message-box facade: every box the program shows goes through here. The
// GUI installs a modal box; tests install a handler that records and answers.
#pragma once

#include <functional>
#include <string>

#include "Messages.h"

namespace win {

constexpr unsigned MB_OK = 0x0;
constexpr unsigned MB_ICONERROR = 0x10;
constexpr unsigned MB_ICONQUESTION = 0x20;
constexpr unsigned MB_ICONWARNING = 0x30;
constexpr unsigned MB_ICONINFORMATION = 0x40;
constexpr int IDOK = 1;

using MessageBoxHandler =
    std::function<int(const std::string& caption, const std::string& text, unsigned flags)>;

// Shows a box with an OK button (flags: the MB_ICON... value) and returns the
// button pressed. Without a handler installed the box is written to stderr and
// answered with IDOK (headless tools).
int MessageBox(HWND owner, const std::string& text, const std::string& caption,
               unsigned flags = MB_OK);

// Installs the handler (an empty function restores the stderr default);
// returns the previous one.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

}  // namespace win
