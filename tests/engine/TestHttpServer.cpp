#include "TestHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace enginetest {
namespace {

// Reads the request head (bounded in size and time); returns the path.
std::string readRequestPath(int fd) {
    std::string head;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    char buf[1024];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 16384 &&
           std::chrono::steady_clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        head.append(buf, static_cast<std::size_t>(n));
    }
    const std::size_t first = head.find(' ');
    if (first == std::string::npos) return {};
    const std::size_t second = head.find(' ', first + 1);
    return head.substr(first + 1,
                       second == std::string::npos ? std::string::npos : second - first - 1);
}

}  // namespace

bool TestHttpServer::Connection::Send(const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0 && !stopping_) {
        pollfd pf{fd_, POLLOUT, 0};
        if (poll(&pf, 1, 100) <= 0) continue;
        const ssize_t n = send(fd_, p, size, MSG_NOSIGNAL);
        if (n <= 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return size == 0;
}

TestHttpServer::TestHttpServer(Responder responder) : responder_(std::move(responder)) {
    listenFd_ = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(listenFd_, 8) != 0) {
        close(listenFd_);
        listenFd_ = -1;
        return;
    }
    socklen_t len = sizeof addr;
    getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    acceptThread_ = std::thread([this] { AcceptLoop(); });
}

TestHttpServer::~TestHttpServer() {
    stopping_ = true;
    if (acceptThread_.joinable()) acceptThread_.join();
    std::lock_guard lock(mutex_);
    for (std::thread& t : workers_) t.join();
    if (listenFd_ >= 0) close(listenFd_);
}

std::string TestHttpServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void TestHttpServer::AcceptLoop() {
    while (!stopping_) {
        pollfd p{listenFd_, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        const int fd = accept(listenFd_, nullptr, nullptr);
        if (fd < 0) continue;
        std::lock_guard lock(mutex_);
        workers_.emplace_back([this, fd] { Serve(fd); });
    }
}

void TestHttpServer::Serve(int fd) {
    const std::string path = readRequestPath(fd);
    Connection connection(fd, stopping_);
    if (!path.empty()) responder_(connection, path);
    shutdown(fd, SHUT_RDWR);
    close(fd);
}

}  // namespace enginetest
