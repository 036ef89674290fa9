// The HTTP server of the tests on 127.0.0.1 (an ephemeral port). Each
// connection is answered on a thread of its own by the handler of its path,
// which writes the whole response; a server stops with its object.
//
// Threads: route() and hits() may be called from any thread while it serves;
// a handler runs on its connection's thread and must return once the reply
// says the server is stopping.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testhttp {

struct Request {
    std::string path;
    std::string head;  // the request's lines
    bool wantsMetadata() const;
};

// The connection being answered.
class Reply {
  public:
    Reply(int fd, const std::atomic<bool>& stopping) : fd_(fd), stopping_(stopping) {}
    // Sends all of bytes; false once the client has gone or the server stops.
    bool send(const void* bytes, std::size_t size);
    bool send(const std::string& bytes) { return send(bytes.data(), bytes.size()); }
    bool stopping() const { return stopping_.load(); }
    // Holds the connection open, silent, until the server stops.
    void idle() const;
    // Sleeps, but no longer than until the server stops.
    void sleep(std::chrono::milliseconds time) const;
    // The socket, for a handler that speaks to the client itself.
    int fd() const { return fd_; }

  private:
    int fd_;
    const std::atomic<bool>& stopping_;
};

class HttpServer {
  public:
    using Handler = std::function<void(Reply&, const Request&)>;
    // Requests for a path without a route get 404.
    HttpServer();
    // Requests for a path without a route go to fallback.
    explicit HttpServer(Handler fallback);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Answers requests for path (the query included).
    void route(const std::string& path, Handler handler);
    // A fixed response: headers (without the blank line) and a body.
    void answer(const std::string& path, const std::string& head, const std::string& body);
    int port() const { return port_; }
    std::string url(const std::string& path) const;
    // How many requests came for path.
    int hits(const std::string& path) const;

  private:
    void acceptLoop();
    void serve(int fd);

    Handler fallback_;
    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mtx_;
    std::map<std::string, Handler> routes_;
    std::map<std::string, int> hits_;
    std::thread acceptThread_;
    std::vector<std::thread> workers_;
};

// A port on 127.0.0.1 where nothing listens (bound once, then let go).
int closedPort();
// A URL of path on such a port.
std::string closedUrl(const std::string& path);

}  // namespace testhttp
