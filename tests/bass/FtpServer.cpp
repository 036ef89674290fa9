#include "FtpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>

namespace bass_test {

namespace {

int listenLoopback(int& port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 4) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        ::close(fd);
        return -1;
    }
    port = ntohs(addr.sin_port);
    return fd;
}

bool sendAll(int fd, const std::string& s) {
    size_t done = 0;
    while (done < s.size()) {
        ssize_t n = ::send(fd, s.data() + done, s.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// One command line, without its line end; false when the client is gone.
bool readLine(int fd, std::string& line, const std::atomic<bool>& stop) {
    line.clear();
    char c;
    while (!stop.load()) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        if (::recv(fd, &c, 1, 0) != 1) return false;
        if (c == '\n') {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return true;
        }
        line += c;
    }
    return false;
}

int acceptWithin(int listenFd, int ms) {
    pollfd p{listenFd, POLLIN, 0};
    if (::poll(&p, 1, ms) <= 0) return -1;
    return ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
}

}  // namespace

FtpServer::FtpServer(std::string name, std::string body)
    : name_(std::move(name)), body_(std::move(body)) {
    listenFd_ = listenLoopback(port_);
    thread_ = std::thread([this] { serve(); });
}

FtpServer::~FtpServer() {
    stop_.store(true);
    thread_.join();
    if (listenFd_ >= 0) ::close(listenFd_);
}

std::string FtpServer::url() const {
    return "ftp://127.0.0.1:" + std::to_string(port_) + "/" + name_;
}

void FtpServer::serve() {
    while (!stop_.load()) {
        int fd = acceptWithin(listenFd_, 100);
        if (fd < 0) continue;
        session(fd);
        ::close(fd);
    }
}

bool FtpServer::sendFile(int dataListen, size_t from) {
    int data = acceptWithin(dataListen, 5000);
    if (data < 0) return false;
    const bool ok = from <= body_.size() && sendAll(data, body_.substr(from));
    ::shutdown(data, SHUT_RDWR);
    ::close(data);
    return ok;
}

void FtpServer::session(int fd) {
    sendAll(fd, "220 KAV test server\r\n");
    int dataListen = -1, dataPort = 0;
    size_t restart = 0;
    std::string line;
    while (readLine(fd, line, stop_)) {
        const std::string cmd = line.substr(0, line.find(' '));
        const std::string arg =
            line.find(' ') == std::string::npos ? "" : line.substr(line.find(' ') + 1);
        std::string reply;
        if (cmd == "USER")
            reply = "331 Password please";
        else if (cmd == "PASS")
            reply = "230 Logged in";
        else if (cmd == "TYPE" || cmd == "OPTS")
            reply = "200 OK";
        else if (cmd == "FEAT")
            reply = "211 End";
        else if (cmd == "PWD")
            reply = "257 \"/\"";
        else if (cmd == "CWD")
            reply = "250 OK";
        else if (cmd == "SIZE")
            reply = "213 " + std::to_string(body_.size());
        else if (cmd == "REST")
            restart = std::strtoul(arg.c_str(), nullptr, 10), reply = "350 OK";
        else if (cmd == "EPSV" || cmd == "PASV") {
            if (dataListen >= 0) ::close(dataListen);
            dataListen = listenLoopback(dataPort);
            reply =
                cmd == "EPSV"
                    ? "229 Entering Extended Passive Mode (|||" + std::to_string(dataPort) + "|)"
                    : "227 Entering Passive Mode (127,0,0,1," + std::to_string(dataPort / 256) +
                          "," + std::to_string(dataPort % 256) + ")";
        } else if (cmd == "RETR") {
            sendAll(fd, "150 Sending\r\n");
            reply = sendFile(dataListen, restart) ? "226 Done" : "426 Failed";
            restart = 0;
        } else if (cmd == "ABOR")
            reply = "226 Aborted";
        else if (cmd == "QUIT") {
            sendAll(fd, "221 Bye\r\n");
            break;
        } else
            reply = "502 Not implemented";
        if (!sendAll(fd, reply + "\r\n")) break;
    }
    if (dataListen >= 0) ::close(dataListen);
}

}  // namespace bass_test
