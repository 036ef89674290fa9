#include "platform/win/ServiceManager.h"

#include <systemd/sd-daemon.h>

#include <algorithm>
#include <cstdlib>

namespace win::service {
namespace {

void notify(const std::string& state) {
    if (Managed()) sd_notify(0, state.c_str());
}

}  // namespace

bool Managed() {
    const char* socket = std::getenv("NOTIFY_SOCKET");
    return socket && *socket;
}

void NotifyReady() {
    notify("READY=1");
}

void NotifyStatus(const std::string& status) {
    std::string line = status;
    std::replace_if(
        line.begin(), line.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    notify("STATUS=" + line);
}

void NotifyWatchdog() {
    notify("WATCHDOG=1");
}

void NotifyStopping() {
    notify("STOPPING=1");
}

std::uint64_t WatchdogUsec() {
    std::uint64_t usec = 0;
    return sd_watchdog_enabled(0, &usec) > 0 ? usec : 0;
}

}  // namespace win::service
