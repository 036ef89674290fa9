#include "SignalClose.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#if defined(__unix__)
#include <fcntl.h>
#include <unistd.h>

#include <csignal>

#include "platform/win/Application.h"

namespace {
int pipeFds[2] = {-1, -1};

void onSignal(int) {
    // Waits for plug-ins and streams give up soon, also one the GUI thread
    // is inside now, before it can read the pipe.
    win::RequestQuit();
    const char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(pipeFds[1], &byte, 1);
}
}  // namespace

void InstallCloseSignals() {
    if (pipeFds[0] >= 0 || ::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) return;
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

void WatchCloseSignals(std::function<void()> handler) {
    if (pipeFds[0] < 0) return;
    auto* notifier =
        new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [handler] {
        char buffer[16];
        bool received = false;
        while (::read(pipeFds[0], buffer, sizeof buffer) > 0) received = true;
        if (received) handler();
    });
}

#else
void InstallCloseSignals() {}
void WatchCloseSignals(std::function<void()>) {}
#endif
