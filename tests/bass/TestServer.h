// A small HTTP server on 127.0.0.1 for the network tests: each connection's
// request line goes to a handler that writes the whole response.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace bass_test {

class TestServer {
  public:
    // handler(path, socket) writes the response; the server closes the socket.
    using Handler = std::function<void(const std::string& path, int fd)>;
    explicit TestServer(Handler handler);
    ~TestServer();
    int port() const { return port_; }
    std::string url(const std::string& path) const;
    // An address on 127.0.0.1 where a server listened and has gone.
    static std::string closedUrl(const std::string& path);
    // Sends all of data; false once the peer has gone or the server stops.
    bool send(int fd, const std::string& data) const;
    bool stopping() const { return stop_.load(); }
    // Holds a connection open, sending nothing, until the server stops.
    void idle() const;

  private:
    void acceptLoop();
    Handler handler_;
    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread acceptThread_;
    std::vector<std::thread> connections_;
};

}  // namespace bass_test
