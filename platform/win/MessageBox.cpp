#include "platform/win/MessageBox.h"

#include <cstdio>
#include <mutex>

namespace win {
namespace {
std::mutex handlerMutex;
MessageBoxHandler currentHandler;
}  // namespace

int MessageBox(HWND, const std::string& text, const std::string& caption, unsigned flags) {
    MessageBoxHandler handler;
    {
        std::lock_guard lock(handlerMutex);
        handler = currentHandler;
    }
    if (handler) return handler(caption, text, flags);
    std::fprintf(stderr, "[%s] %s\n", caption.c_str(), text.c_str());
    return IDOK;
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
    std::lock_guard lock(handlerMutex);
    std::swap(currentHandler, handler);
    return handler;
}

}  // namespace win
