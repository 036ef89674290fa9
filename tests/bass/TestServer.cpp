#include "TestServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace bass_test {

TestServer::TestServer(Handler handler) : handler_(std::move(handler)) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::listen(listenFd_, 8) == 0) {
        socklen_t len = sizeof addr;
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
    }
    acceptThread_ = std::thread([this] { acceptLoop(); });
}

TestServer::~TestServer() {
    stop_.store(true);
    acceptThread_.join();
    for (auto& t : connections_) t.join();
    ::close(listenFd_);
}

std::string TestServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::string TestServer::closedUrl(const std::string& path) {
    return TestServer([](const std::string&, int) {}).url(path);
}

bool TestServer::send(int fd, const std::string& data) const {
    size_t sent = 0;
    while (sent < data.size() && !stop_.load()) {
        // A client that stops reading must not hold the server past its end.
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return sent == data.size();
}

void TestServer::idle() const {
    while (!stop_.load()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

void TestServer::acceptLoop() {
    while (!stop_.load()) {
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        connections_.emplace_back([this, fd] {
            // Reads the request up to its blank line; only the path matters here.
            std::string req;
            char buf[1024];
            while (req.find("\r\n\r\n") == std::string::npos && req.size() < 16384) {
                pollfd q{fd, POLLIN, 0};
                if (::poll(&q, 1, 2000) <= 0) break;
                ssize_t n = ::recv(fd, buf, sizeof buf, 0);
                if (n <= 0) break;
                req.append(buf, static_cast<size_t>(n));
            }
            const size_t a = req.find(' '), b = req.find(' ', a + 1);
            const std::string path = a == std::string::npos || b == std::string::npos
                                         ? ""
                                         : req.substr(a + 1, b - a - 1);
            handler_(path, fd);
            ::shutdown(fd, SHUT_RDWR);
            ::close(fd);
        });
    }
}

}  // namespace bass_test
