// Child processes of the network tests (a streaming server, its sources, the
// program itself) and plain HTTP requests to a server on 127.0.0.1.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace nettest {

// A process started from argv with extra environment entries ("NAME=value"),
// its standard output and error going to outFile (appended). Killed with its
// object unless it was stopped before, and when the test process dies.
class Child {
  public:
    Child(const std::vector<std::string>& argv, const std::vector<std::string>& env,
          const std::string& outFile, const std::string& workDir = "/");
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }
    bool running();
    // Sends signal and waits up to limit: the exit status (128 + signal when
    // killed by one), or -1 when it did not end in time.
    int stop(int signal, std::chrono::milliseconds limit);

  private:
    pid_t pid_ = -1;
    int status_ = -1;
};

struct HttpAnswer {
    int code = 0;  // 0: no answer
    std::string head, body;
};
// GET path from 127.0.0.1:port, reading at most maxBody bytes of the body,
// with basic credentials ("user:password") when given.
HttpAnswer httpGet(int port, const std::string& path, const std::string& credentials = {},
                   size_t maxBody = 1 << 16,
                   std::chrono::milliseconds limit = std::chrono::seconds(3));

// What this process wrote to its standard error while f ran.
std::string stderrOf(const std::function<void()>& f);

// Sets an environment variable (empty value: unsets it) for its lifetime.
class ScopedEnv {
  public:
    ScopedEnv(const std::string& name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::string name_, old_;
    bool had_;
};

// Percent-encodes text for a query string.
std::string urlEncode(const std::string& text);

// A TCP connection to 127.0.0.1:port; -1 when nothing answers.
int connectTo(int port);

}  // namespace nettest
