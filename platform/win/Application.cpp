#include "platform/win/Application.h"

#include <atomic>

namespace win {
namespace {

std::atomic<bool> quitRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

}  // namespace

HWND ApplicationWindow() {
    static const HWND window = CreateMessageWindow(
        [](const Message& m) -> LRESULT { return m.msg == WM_QUERYENDSESSION ? 1 : 0; });
    return window;
}

void RequestQuit() {
    quitRequested.store(true);
}

bool QuitRequested() {
    return quitRequested.load();
}

void ClearQuitRequest() {
    quitRequested.store(false);
}

}  // namespace win
