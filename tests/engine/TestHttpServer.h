// A small HTTP server of the tests on 127.0.0.1 (an ephemeral port). Each
// connection is served on its own thread by the responder, which is told the
// request path and writes the whole response; the server stops with its object.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace enginetest {

class TestHttpServer {
  public:
    // Writes to the connection; false once the peer has gone or the server stops.
    class Connection {
      public:
        Connection(int fd, const std::atomic<bool>& stopping) : fd_(fd), stopping_(stopping) {}
        bool Send(const void* data, std::size_t size);
        bool Send(const std::string& text) { return Send(text.data(), text.size()); }
        bool Stopping() const { return stopping_.load(); }

      private:
        int fd_;
        const std::atomic<bool>& stopping_;
    };
    using Responder = std::function<void(Connection& connection, const std::string& path)>;

    explicit TestHttpServer(Responder responder);
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    int Port() const { return port_; }
    std::string Url(const std::string& path) const;

  private:
    void AcceptLoop();
    void Serve(int fd);

    Responder responder_;
    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread acceptThread_;
    std::mutex mutex_;
    std::vector<std::thread> workers_;
};

}  // namespace enginetest
