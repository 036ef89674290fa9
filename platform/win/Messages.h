// Message windows: hidden windows identified by a handle, to which any thread
// may post a message; the GUI thread dispatches them to the window's handler.
// Built on the Qt event loop, so a QCoreApplication (or QApplication) must exist.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace win {

using HWND = std::uintptr_t;  // 0 is no window
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

constexpr unsigned WM_QUERYENDSESSION = 17;
constexpr unsigned WM_USER = 1024;

// One message as the handler receives it. A posted message that carries data
// (a stream title, say) carries its own copy in `text`.
struct Message {
    unsigned msg = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    std::string text;
};

using MessageHandler = std::function<LRESULT(const Message&)>;

// Creates a message window on the calling (GUI) thread. Handles are never reused.
HWND CreateMessageWindow(MessageHandler handler);

// Destroys the window; messages still queued for it are dropped. A window may
// destroy itself from inside its own handler.
void DestroyMessageWindow(HWND window);

bool IsWindow(HWND window);

// Thread-safe. Queues the message for the GUI thread; false when the window
// does not exist (a post to a destroyed window is dropped, never a crash).
bool PostMessage(HWND window, unsigned msg, WPARAM wParam = 0, LPARAM lParam = 0,
                 std::string text = {});

// GUI thread only: calls the window's handler at once and returns its result
// (0 when the window does not exist).
LRESULT SendMessage(HWND window, unsigned msg, WPARAM wParam = 0, LPARAM lParam = 0,
                    std::string text = {});

// GUI thread only: dispatches every message (and timer, and UI event) pending
// for the GUI thread, then returns. Re-entrant: handlers may call it.
void ProcessMessages();

// GUI thread only: ProcessMessages, then, unless a message was posted
// meanwhile, sleeps until one is posted or maxMs have passed, and dispatches
// again. A wait for another thread's message ends as soon as it comes.
void WaitForMessages(unsigned maxMs);

// The same name gives the same number within the process; numbers lie in
// 0xC000..0xFFFF like the platform's registered messages.
unsigned RegisterWindowMessage(const std::string& name);
// The number of a name registered before, 0 for a name never registered.
unsigned FindRegisteredMessage(const std::string& name);
// The name of a registered message, empty for any other number.
std::string RegisteredMessageName(unsigned msg);

}  // namespace win
