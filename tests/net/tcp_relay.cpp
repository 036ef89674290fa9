// tcp_relay LISTEN_PORT TARGET_PORT: relays every connection to
// 127.0.0.1:LISTEN_PORT to a connection of its own to 127.0.0.1:TARGET_PORT,
// both ways, until either side ends it. The tests freeze it with SIGSTOP.
// Its buffers have a fixed size, as a server's that reads at the stream's
// pace stay small: the system would otherwise grow them while the relay
// reads quickly, and a frozen relay would go on taking megabytes.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace {

sockaddr_in loopback(int port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    return addr;
}

// Also stops the system from growing them by itself.
void fixBuffers(int fd) {
    const int size = 64 * 1024;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
}

int connectTo(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    fixBuffers(fd);
    const sockaddr_in addr = loopback(port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) return fd;
    ::close(fd);
    return -1;
}

bool sendAll(int fd, const char* data, ssize_t size) {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size_t(size), MSG_NOSIGNAL);
        if (n <= 0) return false;
        data += n;
        size -= n;
    }
    return true;
}

struct Pair {
    int a, b;
};

// Whatever came on either side goes to the other; false once either ended.
bool pass(const Pair& p, const pollfd* f) {
    for (int side = 0; side < 2; ++side) {
        if (!(f[side].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        char buf[16384];
        const ssize_t n = ::recv(f[side].fd, buf, sizeof buf, 0);
        if (n <= 0 || !sendAll(side == 0 ? p.b : p.a, buf, n)) return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    const int target = std::atoi(argv[2]);
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    const int yes = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    fixBuffers(listener);  // the connections it accepts inherit them
    const sockaddr_in addr = loopback(std::atoi(argv[1]));
    if (::bind(listener, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listener, 16) != 0)
        return 1;
    std::vector<Pair> pairs;
    for (;;) {
        std::vector<pollfd> fds{{listener, POLLIN, 0}};
        for (const Pair& p : pairs) {
            fds.push_back({p.a, POLLIN, 0});
            fds.push_back({p.b, POLLIN, 0});
        }
        if (::poll(fds.data(), fds.size(), -1) < 0) continue;
        std::vector<Pair> alive;
        for (size_t i = 0; i < pairs.size(); ++i) {
            if (pass(pairs[i], &fds[1 + 2 * i])) {
                alive.push_back(pairs[i]);
            } else {
                ::close(pairs[i].a);
                ::close(pairs[i].b);
            }
        }
        pairs.swap(alive);
        if (!(fds[0].revents & POLLIN)) continue;
        const int a = ::accept(listener, nullptr, nullptr);
        const int b = a >= 0 ? connectTo(target) : -1;
        if (b >= 0)
            pairs.push_back({a, b});
        else if (a >= 0)
            ::close(a);
    }
}
