#include "platform/win/RemoteMessages.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "platform/win/IpcNames.h"

namespace win {
namespace {

constexpr std::size_t kHeaderBytes = 16;
constexpr std::size_t kMaxNameBytes = 255;
constexpr std::size_t kMaxMessageBytes = kHeaderBytes + kMaxNameBytes;
constexpr HWND kFirstRemoteHandle = HWND(1) << 40;  // far from local windows' handles

// Closes a descriptor with its object.
struct Fd {
    int fd = -1;
    explicit Fd(int f = -1) : fd(f) {}
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
};

bool MakeAddress(const std::string& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

int Connect(const std::string& path) {
    sockaddr_un address;
    if (!MakeAddress(path, address)) return -1;
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool SameUser(int fd) {
    ucred peer{};
    socklen_t length = sizeof peer;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 && peer.uid == ::getuid();
}

void PutLE(std::string& out, std::uint64_t value) {
    for (int i = 0; i < 8; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::uint64_t GetLE(const unsigned char* p) {
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = (value << 8) | p[i];
    return value;
}

// A message as received is delivered only when its size and name are right.
void Deliver(HWND window, const unsigned char* data, std::size_t size) {
    if (size <= kHeaderBytes || size > kMaxMessageBytes) return;
    const std::string name(reinterpret_cast<const char*>(data) + kHeaderBytes, size - kHeaderBytes);
    const unsigned msg = FindRegisteredMessage(name);
    if (msg == 0) return;
    PostMessage(window, msg, static_cast<WPARAM>(GetLE(data)),
                static_cast<LPARAM>(GetLE(data + 8)));
}

// One connection of another process to a published window.
class Connection {
  public:
    Connection(int fd, HWND window)
        : fd_(fd), window_(window), notifier_(fd, QSocketNotifier::Read) {
        QObject::connect(&notifier_, &QSocketNotifier::activated, [this] { Read(); });
    }
    bool Closed() const { return closed_; }

  private:
    void Read() {
        unsigned char buffer[kMaxMessageBytes + 1];
        for (;;) {
            const ssize_t n = ::recv(fd_.fd, buffer, sizeof buffer, MSG_DONTWAIT | MSG_TRUNC);
            if (n > 0) {
                Deliver(window_, buffer, static_cast<std::size_t>(n));  // MSG_TRUNC: true size
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
            closed_ = true;  // the other end is gone
            notifier_.setEnabled(false);
            return;
        }
    }

    Fd fd_;
    HWND window_;
    QSocketNotifier notifier_;
    bool closed_ = false;
};

class Endpoint {
  public:
    Endpoint(int fd, std::string path, HWND window)
        : fd_(fd), path_(std::move(path)), window_(window), notifier_(fd, QSocketNotifier::Read) {
        QObject::connect(&notifier_, &QSocketNotifier::activated, [this] { Accept(); });
    }
    ~Endpoint() { ::unlink(path_.c_str()); }

  private:
    void Accept() {
        std::erase_if(connections_, [](const auto& c) { return c->Closed(); });
        for (;;) {
            const int fd = ::accept4(fd_.fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd < 0) return;
            if (!SameUser(fd)) {
                ::close(fd);
                continue;
            }
            connections_.push_back(std::make_unique<Connection>(fd, window_));
        }
    }

    Fd fd_;
    std::string path_;
    HWND window_;
    QSocketNotifier notifier_;
    std::vector<std::unique_ptr<Connection>> connections_;
};

std::map<HWND, std::unique_ptr<Endpoint>>& Published() {
    static auto* endpoints = new std::map<HWND, std::unique_ptr<Endpoint>>;
    return *endpoints;
}

struct Remotes {
    std::map<HWND, std::unique_ptr<Fd>> sockets;
    HWND next = kFirstRemoteHandle;
};

Remotes& RemoteSockets() {
    static auto* remotes = new Remotes;
    return *remotes;
}

int RemoteFd(HWND remote) {
    auto& sockets = RemoteSockets().sockets;
    auto it = sockets.find(remote);
    return it == sockets.end() ? -1 : it->second->fd;
}

int Listen(const std::string& path) {
    sockaddr_un address;
    if (!MakeAddress(path, address)) return -1;
    // An endpoint nobody answers on was left by a process that is gone.
    const int live = Connect(path);
    if (live >= 0) {
        ::close(live);
        return -1;
    }
    ::unlink(path.c_str());
    Fd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (fd.fd < 0) return -1;
    const mode_t oldMask = ::umask(077);
    const bool bound = ::bind(fd.fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::umask(oldMask);
    if (!bound || ::chmod(path.c_str(), 0600) != 0 || ::listen(fd.fd, 16) != 0) return -1;
    const int result = fd.fd;
    fd.fd = -1;
    return result;
}

}  // namespace

std::string WindowEndpoint(const std::string& title) {
    const std::string dir = PrivateRuntimeDir();
    return dir.empty() ? std::string() : dir + "/" + UserScopedName("win-" + title);
}

std::string EncodeRemoteMessage(const std::string& name, WPARAM wParam, LPARAM lParam) {
    std::string out;
    PutLE(out, wParam);
    PutLE(out, static_cast<std::uint64_t>(lParam));
    return out + name;
}

bool PublishWindow(HWND window, const std::string& title) {
    if (!IsWindow(window) || Published().count(window)) return false;
    const std::string path = WindowEndpoint(title);
    const int fd = Listen(path);
    if (fd < 0) return false;
    Published()[window] = std::make_unique<Endpoint>(fd, path, window);
    return true;
}

void UnpublishWindow(HWND window) {
    Published().erase(window);
}

HWND FindWindowByTitle(const std::string& title) {
    const int fd = Connect(WindowEndpoint(title));
    if (fd < 0) return 0;
    Remotes& r = RemoteSockets();
    const HWND handle = r.next++;
    r.sockets[handle] = std::make_unique<Fd>(fd);
    return handle;
}

bool IsRemoteWindow(HWND remote) {
    const int fd = RemoteFd(remote);
    if (fd < 0) return false;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 0) < 0) return false;
    return (p.revents & (POLLHUP | POLLERR | POLLNVAL)) == 0;
}

bool PostRemoteMessage(HWND remote, unsigned msg, WPARAM wParam, LPARAM lParam) {
    const int fd = RemoteFd(remote);
    const std::string name = RegisteredMessageName(msg);
    if (fd < 0 || name.empty() || name.size() > kMaxNameBytes) return false;
    const std::string packet = EncodeRemoteMessage(name, wParam, lParam);
    return ::send(fd, packet.data(), packet.size(), MSG_DONTWAIT | MSG_NOSIGNAL) ==
           static_cast<ssize_t>(packet.size());
}

void ForgetRemoteWindow(HWND remote) {
    RemoteSockets().sockets.erase(remote);
}

}  // namespace win
