// main() of the playing tests: a Qt event loop for the message windows.
//
// Under ThreadSanitizer, Qt's event queue is not instrumented: the sanitizer
// does not see that a posted message is handed from the posting thread to the
// GUI thread under Qt's lock. The filter below takes the message registry's
// lock (through win::IsWindow) before each event is delivered. PostMessage
// queues its event while holding that lock, so this orders the delivery after
// the post in a way the sanitizer sees, as Qt's own lock does in fact.
#include <QCoreApplication>
#include <QObject>

#include <gtest/gtest.h>

#include "platform/win/Messages.h"

#if defined(__SANITIZE_THREAD__)
#define KAV_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KAV_TSAN 1
#endif
#endif

namespace {

class PostOrderFilter : public QObject {
  public:
    bool eventFilter(QObject*, QEvent*) override {
        win::IsWindow(0);
        return false;
    }
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
#if defined(KAV_TSAN)
    // The first message window sets up the dispatcher, sending Qt events while
    // the registry's lock is held: done before the filter is in place.
    win::DestroyMessageWindow(win::CreateMessageWindow([](const win::Message&) { return 0; }));
    PostOrderFilter filter;
    app.installEventFilter(&filter);
#endif
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
