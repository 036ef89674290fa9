// Servers of the network stream tests on 127.0.0.1 (ephemeral ports), behaving
// as stations' servers do: live MP3 streams that begin anywhere in the file,
// with ICY titles, at any pace; redirects; playlist links. Each connection is
// answered on a thread of its own; a server stops with its object.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace nettest {

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
    bool send(const std::string& bytes);
    bool stopping() const { return stopping_.load(); }
    // Holds the connection open, silent, until the server stops.
    void idle() const;
    // Sleeps, but no longer than until the server stops.
    void sleep(std::chrono::milliseconds time) const;

  private:
    int fd_;
    const std::atomic<bool>& stopping_;
};

class RadioServer {
  public:
    using Handler = std::function<void(Reply&, const Request&)>;
    RadioServer();
    ~RadioServer();
    RadioServer(const RadioServer&) = delete;
    RadioServer& operator=(const RadioServer&) = delete;

    // Answers requests for path (the query included); others get 404.
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

// A live stream as a station's server sends it.
struct LiveStream {
    std::string status = "HTTP/1.0 200 OK";  // or "ICY 200 OK"
    std::string contentType = "audio/mpeg";  // empty: no Content-Type line
    std::string extraHeaders;                // lines, each ending in CR LF
    std::string audio;                       // sent round and round
    size_t offset = 0;                       // the first byte sent
    size_t metaint = 0;                      // a metadata block after so many bytes
    // The title at a second of audio; a block carries it when it changes.
    std::function<std::string(double second)> title;
    double bytesPerSecond = 16000;  // the audio's own rate (128 kbit/s)
    double burstSeconds = 2;        // sent at once, as servers do for a new listener
    // The pace after the burst, as a share of real time, by the seconds since.
    std::function<double(double second)> pace = [](double) { return 1.0; };
    double seconds = 1e9;  // the audio sent in all, then the server closes
};
void serveLive(Reply& reply, const Request& request, const LiveStream& stream);

}  // namespace nettest
