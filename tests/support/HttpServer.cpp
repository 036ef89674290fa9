#include "tests/support/HttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

namespace testhttp {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

int listenOn(int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 || ::listen(fd, 16) != 0) {
        ::close(fd);
        return -1;
    }
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    port = ntohs(addr.sin_port);
    return fd;
}

// The request head, bounded in size and time.
std::string readRequest(int fd) {
    std::string head;
    const auto end = Clock::now() + 5s;
    char buf[1024];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 16384 &&
           Clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        head.append(buf, static_cast<size_t>(n));
    }
    return head;
}

}  // namespace

bool Request::wantsMetadata() const {
    std::string lower = head;
    for (char& ch : lower) ch = char(std::tolower(static_cast<unsigned char>(ch)));
    return lower.find("icy-metadata: 1") != std::string::npos;
}

bool Reply::send(const void* bytes, std::size_t size) {
    const char* data = static_cast<const char*>(bytes);
    size_t sent = 0;
    while (sent < size && !stopping_.load()) {
        // A client that stops reading must not hold the server past its end.
        pollfd p{fd_, POLLOUT, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        const ssize_t n = ::send(fd_, data + sent, size - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return sent == size;
}

void Reply::idle() const {
    while (!stopping_.load()) std::this_thread::sleep_for(10ms);
}

void Reply::sleep(std::chrono::milliseconds time) const {
    const auto end = Clock::now() + time;
    while (!stopping_.load() && Clock::now() < end)
        std::this_thread::sleep_for(std::min<Clock::duration>(10ms, end - Clock::now()));
}

HttpServer::HttpServer() : HttpServer(Handler()) {}

HttpServer::HttpServer(Handler fallback) : fallback_(std::move(fallback)) {
    listenFd_ = listenOn(port_);
    if (listenFd_ >= 0) acceptThread_ = std::thread([this] { acceptLoop(); });
}

HttpServer::~HttpServer() {
    stopping_.store(true);
    if (acceptThread_.joinable()) acceptThread_.join();
    for (auto& t : workers_) t.join();
    if (listenFd_ >= 0) ::close(listenFd_);
}

void HttpServer::route(const std::string& path, Handler handler) {
    std::lock_guard<std::mutex> lk(mtx_);
    routes_[path] = std::move(handler);
}

void HttpServer::answer(const std::string& path, const std::string& head, const std::string& body) {
    route(path, [head, body](Reply& r, const Request&) { r.send(head + "\r\n\r\n" + body); });
}

std::string HttpServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

int HttpServer::hits(const std::string& path) const {
    std::lock_guard<std::mutex> lk(mtx_);
    auto it = hits_.find(path);
    return it == hits_.end() ? 0 : it->second;
}

void HttpServer::acceptLoop() {
    while (!stopping_.load()) {
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) workers_.emplace_back([this, fd] { serve(fd); });
    }
}

void HttpServer::serve(int fd) {
    Request req;
    req.head = readRequest(fd);
    const size_t a = req.head.find(' '), b = req.head.find(' ', a + 1);
    if (a != std::string::npos && b != std::string::npos)
        req.path = req.head.substr(a + 1, b - a - 1);
    Handler handler;
    {
        std::lock_guard<std::mutex> lk(mtx_);
        ++hits_[req.path];
        auto it = routes_.find(req.path);
        handler = it != routes_.end() ? it->second : fallback_;
    }
    Reply reply(fd, stopping_);
    if (handler)
        handler(reply, req);
    else
        reply.send("HTTP/1.0 404 Not Found\r\nContent-Type: text/plain\r\n\r\nnot here\n");
    ::shutdown(fd, SHUT_RDWR);
    ::close(fd);
}

int closedPort() {
    int port = 0;
    const int fd = listenOn(port);
    ::close(fd);
    return port;
}

std::string closedUrl(const std::string& path) {
    return "http://127.0.0.1:" + std::to_string(closedPort()) + path;
}

}  // namespace testhttp
