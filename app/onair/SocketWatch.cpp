#include "SocketWatch.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <vector>

namespace onair {

namespace {

std::mutex claimsMtx;
std::set<std::string> claims;

// The addresses a name stands for, written as the system's connection
// tables write a remote end ("0100007F:1F40").
std::set<std::string> addressesOf(const std::string& host, int port) {
    std::set<std::string> out;
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return out;
    for (addrinfo* a = found; a; a = a->ai_next) {
        char text[64] = {};
        if (a->ai_family == AF_INET) {
            const auto* in = reinterpret_cast<const sockaddr_in*>(a->ai_addr);
            std::snprintf(text, sizeof text, "%08X:%04X", unsigned(in->sin_addr.s_addr), port);
        } else if (a->ai_family == AF_INET6) {
            std::uint32_t w[4];
            std::memcpy(w, &reinterpret_cast<const sockaddr_in6*>(a->ai_addr)->sin6_addr, 16);
            std::snprintf(text, sizeof text, "%08X%08X%08X%08X:%04X", unsigned(w[0]),
                          unsigned(w[1]), unsigned(w[2]), unsigned(w[3]), port);
        }
        if (*text) out.insert(text);
    }
    freeaddrinfo(found);
    return out;
}

// The inodes of the connections (established) to one of the addresses, as
// the system's tables list them: no other thread's descriptor is touched.
std::set<ino_t> connectionsTo(const std::set<std::string>& addresses) {
    std::set<ino_t> out;
    for (const char* table : {"/proc/self/net/tcp", "/proc/self/net/tcp6"}) {
        std::ifstream in(table);
        std::string line, slot, local, remote, state, skip;
        std::getline(in, line);  // the heading
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            unsigned long long inode = 0;
            fields >> slot >> local >> remote >> state;
            for (int i = 0; i < 5; ++i) fields >> skip;  // queues, timers, retries, uid, timeout
            if (fields >> inode && state == "01" && addresses.count(remote))
                out.insert(ino_t(inode));
        }
    }
    return out;
}

struct Socket {
    int fd;
    ino_t inode;
};

// The process's sockets connected to one of the addresses, found by the
// names of its descriptors ("socket:[inode]").
std::vector<Socket> socketsTo(const std::set<std::string>& addresses) {
    std::vector<Socket> out;
    const std::set<ino_t> wanted = connectionsTo(addresses);
    if (wanted.empty()) return out;
    DIR* dir = opendir("/proc/self/fd");
    if (!dir) return out;
    while (const dirent* e = readdir(dir)) {
        if (e->d_name[0] == '.') continue;
        char link[64] = {};
        const std::string path = std::string("/proc/self/fd/") + e->d_name;
        const ssize_t n = readlink(path.c_str(), link, sizeof link - 1);
        unsigned long long inode = 0;
        if (n > 0 && std::sscanf(link, "socket:[%llu]", &inode) == 1 && wanted.count(ino_t(inode)))
            out.push_back({std::atoi(e->d_name), ino_t(inode)});
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
