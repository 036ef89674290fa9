#include "FreezableProxy.h"

#include <signal.h>

#include <thread>

#include "Processes.h"
#include "RadioServer.h"
#include "tests/support/BinDir.h"

namespace nettest {

using namespace std::chrono_literals;

FreezableProxy::FreezableProxy(int targetPort) : port_(closedPort()) {
    const std::string relay = (TestBinDir() / ".." / "tests" / "tcp_relay").string();
    relay_ = std::make_unique<Child>(
        std::vector<std::string>{relay, std::to_string(port_), std::to_string(targetPort)},
        std::vector<std::string>{}, "/dev/null");
    // Listening once a connection to it is taken.
    for (int i = 0; i < 100 && httpGet(port_, "/", {}, 0, 100ms).code == 0; ++i)
        std::this_thread::sleep_for(20ms);
}

FreezableProxy::~FreezableProxy() {
    thaw();
}

void FreezableProxy::freeze() {
    ::kill(relay_->pid(), SIGSTOP);
}

void FreezableProxy::thaw() {
    ::kill(relay_->pid(), SIGCONT);
}

}  // namespace nettest
