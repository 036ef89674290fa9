// A TCP relay on 127.0.0.1 to another port, in a process of its own, that a
// test freezes (SIGSTOP) and thaws (SIGCONT): a network path that stops
// passing anything while every connection stays open, unlike a server that
// goes away.
#pragma once

#include <memory>

#include "Processes.h"

namespace nettest {

class FreezableProxy {
  public:
    explicit FreezableProxy(int targetPort);
    ~FreezableProxy();
    FreezableProxy(const FreezableProxy&) = delete;
    FreezableProxy& operator=(const FreezableProxy&) = delete;

    int port() const { return port_; }
    void freeze();
    void thaw();

  private:
    int port_ = 0;
    std::unique_ptr<Child> relay_;
};

}  // namespace nettest
