#include "SocketWatch.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace onair {

namespace {

std::mutex claimsMtx;
std::set<std::string> claims;

// The addresses a name stands for, as text with the port ("1.2.3.4:8000").
std::set<std::string> addressesOf(const std::string& host, int port) {
    std::set<std::string> out;
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return out;
    for (addrinfo* a = found; a; a = a->ai_next) {
        char text[INET6_ADDRSTRLEN] = {};
        const void* addr =
            a->ai_family == AF_INET
                ? static_cast<const void*>(&reinterpret_cast<sockaddr_in*>(a->ai_addr)->sin_addr)
                : static_cast<const void*>(&reinterpret_cast<sockaddr_in6*>(a->ai_addr)->sin6_addr);
        if (inet_ntop(a->ai_family, addr, text, sizeof text))
            out.insert(std::string(text) + ":" + std::to_string(port));
    }
    freeaddrinfo(found);
    return out;
}

std::string peerOf(int fd) {
    sockaddr_storage peer{};
    socklen_t len = sizeof peer;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &len) != 0) return {};
    char text[INET6_ADDRSTRLEN] = {};
    int port = 0;
    if (peer.ss_family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(&peer);
        inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
        port = ntohs(in->sin_port);
    } else if (peer.ss_family == AF_INET6) {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&peer);
        inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text);
        port = ntohs(in6->sin6_port);
    } else {
        return {};
    }
    return std::string(text) + ":" + std::to_string(port);
}

struct Socket {
    int fd;
    ino_t inode;
};

// The process's sockets connected to one of the addresses.
std::vector<Socket> socketsTo(const std::set<std::string>& addresses) {
    std::vector<Socket> out;
    DIR* dir = opendir("/proc/self/fd");
    if (!dir) return out;
    while (const dirent* e = readdir(dir)) {
        const int fd = std::atoi(e->d_name);
        struct stat st {};
        if (e->d_name[0] == '.' || fstat(fd, &st) != 0 || !S_ISSOCK(st.st_mode)) continue;
        if (addresses.count(peerOf(fd))) out.push_back({fd, st.st_ino});
    }
    closedir(dir);
    return out;
}

}  // namespace

bool SocketWatch::Claim(const std::string& server) {
    std::lock_guard<std::mutex> lk(claimsMtx);
    return claims.insert(server).second;
}

void SocketWatch::Release(const std::string& server) {
    std::lock_guard<std::mutex> lk(claimsMtx);
    claims.erase(server);
}

void SocketWatch::Before(const std::string& host, int port) {
    host_ = host;
    port_ = port;
    fd_ = -1;
    before_.clear();
    for (const Socket& s : socketsTo(addressesOf(host, port))) before_.insert(s.inode);
}

bool SocketWatch::Find() {
    fd_ = -1;
    int found = 0;
    for (const Socket& s : socketsTo(addressesOf(host_, port_))) {
        if (before_.count(s.inode)) continue;
        fd_ = s.fd;
        inode_ = s.inode;
        ++found;
    }
    if (found != 1) fd_ = -1;
    return fd_ >= 0;
}

// The number may have been closed and given to another file since.
bool SocketWatch::known() const {
    struct stat st {};
    return fd_ >= 0 && fstat(fd_, &st) == 0 && st.st_ino == inode_;
}

bool SocketWatch::LimitBuffer(std::size_t bytes) const {
    const int size = int(bytes);
    return known() && setsockopt(fd_, SOL_SOCKET, SO_SNDBUF, &size, sizeof size) == 0;
}

std::size_t SocketWatch::Held() const {
    if (!known()) return 0;
    int outq = 0;
    return ioctl(fd_, SIOCOUTQ, &outq) == 0 && outq > 0 ? std::size_t(outq) : 0;
}

}  // namespace onair
