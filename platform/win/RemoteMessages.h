// Registered messages between processes of the same user: a process makes a
// window reachable under a title (as a top-level window is found by its
// title), and another process finds it by that title and posts registered
// messages to it. They arrive on the receiving GUI thread like any posted
// message. docs/visualisation-link.md describes the protocol.
//
// Each title is a local socket (SOCK_SEQPACKET, one message per packet) in a
// directory of the user's own (IpcNames.h), named from the title and the
// user's id. The receiver accepts only connections from the same user, and
// only messages of the right length whose name it has registered itself.
//
// GUI thread only.
#pragma once

#include <string>

#include "platform/win/Messages.h"

namespace win {

// Makes `window` reachable under `title`. False when another live process
// already has the title, or the endpoint cannot be made. One title per window.
bool PublishWindow(HWND window, const std::string& title);
void UnpublishWindow(HWND window);

// Connects to the window published under `title`; 0 when none answers. The
// handle lives in its own space and is only good for the calls below.
HWND FindWindowByTitle(const std::string& title);
// False once the other process has closed its end (it quit or died).
bool IsRemoteWindow(HWND remote);
// Posts a registered message (RegisterWindowMessage); never waits: false when
// the window is gone or is not reading its messages.
bool PostRemoteMessage(HWND remote, unsigned msg, WPARAM wParam, LPARAM lParam);
// Closes the connection and frees the handle.
void ForgetRemoteWindow(HWND remote);

// The endpoint's path for a title (for peers written in other languages).
std::string WindowEndpoint(const std::string& title);
// One message as it travels: wParam (8 bytes), lParam (8 bytes), both
// little-endian, then the message's name (1..255 bytes, no NUL).
std::string EncodeRemoteMessage(const std::string& name, WPARAM wParam, LPARAM lParam);

}  // namespace win
