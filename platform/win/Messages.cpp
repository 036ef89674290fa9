#include "platform/win/Messages.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QPointer>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace win {
namespace {

const QEvent::Type kMessageEventType = static_cast<QEvent::Type>(QEvent::registerEventType());

class MessageEvent : public QEvent {
  public:
    MessageEvent(HWND window, Message message)
        : QEvent(kMessageEventType), window(window), message(std::move(message)) {}
    HWND window;
    Message message;
};

using HandlerPtr = std::shared_ptr<MessageHandler>;

struct Registry {
    std::mutex mutex;
    std::condition_variable posted;  // a message was posted
    std::uint64_t postCount = 0;
    std::unordered_map<HWND, HandlerPtr> windows;
    HWND nextHandle = 0x100;
    QPointer<QObject> dispatcher;  // lives on the GUI thread
};

Registry& registry() {
    static Registry* r = new Registry;  // never destroyed: posts may come late from other threads
    return *r;
}

HandlerPtr findHandler(HWND window) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    auto it = r.windows.find(window);
    return it == r.windows.end() ? nullptr : it->second;
}

// Receives the posted messages on the GUI thread and hands them to their window.
class Dispatcher : public QObject {
  public:
    bool event(QEvent* e) override {
        // The poster built the event under the registry lock; taking it here
        // orders this thread after the poster also for race detectors, which
        // do not see inside Qt's own queue.
        { std::lock_guard lock(registry().mutex); }
        if (e->type() != kMessageEventType) return QObject::event(e);
        auto* me = static_cast<MessageEvent*>(e);
        if (HandlerPtr handler = findHandler(me->window)) (*handler)(me->message);
        return true;
    }
};

QObject* dispatcherLocked(Registry& r) {
    if (!r.dispatcher) {
        auto* d = new Dispatcher;
        if (QCoreApplication* app = QCoreApplication::instance()) {
            d->moveToThread(app->thread());
            d->setParent(app);
        }
        r.dispatcher = d;
    }
    return r.dispatcher.data();
}

}  // namespace

HWND CreateMessageWindow(MessageHandler handler) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    dispatcherLocked(r);
    HWND handle = r.nextHandle++;
    r.windows.emplace(handle, std::make_shared<MessageHandler>(std::move(handler)));
    return handle;
}

void DestroyMessageWindow(HWND window) {
    HandlerPtr keepAlive;  // a window destroying itself finishes its handler first
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    auto it = r.windows.find(window);
    if (it == r.windows.end()) return;
    keepAlive = std::move(it->second);
    r.windows.erase(it);
}

bool IsWindow(HWND window) {
    return findHandler(window) != nullptr;
}

bool PostMessage(HWND window, unsigned msg, WPARAM wParam, LPARAM lParam, std::string text) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    if (!r.windows.count(window) || !r.dispatcher) return false;
    Message m{msg, wParam, lParam, std::move(text)};
    QCoreApplication::postEvent(r.dispatcher.data(), new MessageEvent(window, std::move(m)));
    ++r.postCount;
    r.posted.notify_all();
    return true;
}

LRESULT SendMessage(HWND window, unsigned msg, WPARAM wParam, LPARAM lParam, std::string text) {
    HandlerPtr handler = findHandler(window);
    if (!handler) return 0;
    return (*handler)(Message{msg, wParam, lParam, std::move(text)});
}

void ProcessMessages() {
    if (!QCoreApplication::instance()) return;
    // The event dispatcher alone does not hand out, from inside a handler, the
    // messages that were queued before it ran; deliver those explicitly first.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void WaitForMessages(unsigned maxMs) {
    Registry& r = registry();
    std::uint64_t before;
    {
        std::lock_guard lock(r.mutex);
        before = r.postCount;
    }
    ProcessMessages();
    {
        std::unique_lock lock(r.mutex);
        r.posted.wait_for(lock, std::chrono::milliseconds(maxMs),
                          [&] { return r.postCount != before; });
    }
    ProcessMessages();
}

namespace {

struct RegisteredMessages {
    std::mutex mutex;
    std::unordered_map<std::string, unsigned> numbers;
};

RegisteredMessages& registered() {
    static RegisteredMessages* r = new RegisteredMessages;
    return *r;
}

}  // namespace

unsigned RegisterWindowMessage(const std::string& name) {
    RegisteredMessages& r = registered();
    std::lock_guard lock(r.mutex);
    auto [it, added] = r.numbers.emplace(name, 0xC000u + static_cast<unsigned>(r.numbers.size()));
    return it->second;
}

unsigned FindRegisteredMessage(const std::string& name) {
    RegisteredMessages& r = registered();
    std::lock_guard lock(r.mutex);
    auto it = r.numbers.find(name);
    return it == r.numbers.end() ? 0 : it->second;
}

std::string RegisteredMessageName(unsigned msg) {
    RegisteredMessages& r = registered();
    std::lock_guard lock(r.mutex);
    for (const auto& [name, number] : r.numbers)
        if (number == msg) return name;
    return {};
}

}  // namespace win
