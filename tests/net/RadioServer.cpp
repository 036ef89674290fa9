#include "RadioServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace nettest {

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

std::string lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// One metadata block: a length byte in 16-byte units, then the padded text.
std::string metaBlock(const std::string& text) {
    if (text.empty()) return std::string(1, '\0');
    std::string block = text.substr(0, 255 * 16);
    block.resize((block.size() + 15) / 16 * 16, '\0');
    return static_cast<char>(block.size() / 16) + block;
}

// The audio from byte at on, metadata blocks put in where they fall due.
class IcyWriter {
  public:
    IcyWriter(const LiveStream& s, bool metadata) : s_(s), metadata_(metadata && s.metaint > 0) {}

    // The next bytes carrying audio bytes of audio.
    std::string next(size_t audio) {
        std::string out;
        while (audio > 0) {
            const size_t room = metadata_ ? s_.metaint - sinceMeta_ : audio;
            const size_t n = std::min({audio, room, s_.audio.size() - at_});
            out.append(s_.audio, at_, n);
            at_ = (at_ + n) % s_.audio.size();
            audio -= n;
            sent_ += n;
            sinceMeta_ += n;
            if (metadata_ && sinceMeta_ == s_.metaint) out += meta();
        }
        return out;
    }
    double secondsSent() const { return double(sent_) / s_.bytesPerSecond; }

  private:
    std::string meta() {
        sinceMeta_ = 0;
        const std::string title = s_.title ? s_.title(secondsSent()) : std::string();
        if (title == last_) return metaBlock("");
        last_ = title;
        return metaBlock("StreamTitle='" + title + "';");
    }

    const LiveStream& s_;
    const bool metadata_;
    size_t at_ = s_.offset % s_.audio.size();
    size_t sent_ = 0, sinceMeta_ = 0;
    std::string last_;
};

}  // namespace

bool Request::wantsMetadata() const {
    return lower(head).find("icy-metadata: 1") != std::string::npos;
}

bool Reply::send(const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size() && !stopping_.load()) {
        pollfd p{fd_, POLLOUT, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return sent == bytes.size();
}

void Reply::idle() const {
    while (!stopping_.load()) std::this_thread::sleep_for(10ms);
}

void Reply::sleep(std::chrono::milliseconds time) const {
    const auto end = Clock::now() + time;
    while (!stopping_.load() && Clock::now() < end)
        std::this_thread::sleep_for(std::min<Clock::duration>(10ms, end - Clock::now()));
}

RadioServer::RadioServer() {
    listenFd_ = listenOn(port_);
    if (listenFd_ >= 0) acceptThread_ = std::thread([this] { acceptLoop(); });
}

RadioServer::~RadioServer() {
    stopping_.store(true);
    if (acceptThread_.joinable()) acceptThread_.join();
    for (auto& t : workers_) t.join();
    if (listenFd_ >= 0) ::close(listenFd_);
}

void RadioServer::route(const std::string& path, Handler handler) {
    std::lock_guard<std::mutex> lk(mtx_);
    routes_[path] = std::move(handler);
}

void RadioServer::answer(const std::string& path, const std::string& head,
                         const std::string& body) {
    route(path, [head, body](Reply& r, const Request&) { r.send(head + "\r\n\r\n" + body); });
}

std::string RadioServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

int RadioServer::hits(const std::string& path) const {
    std::lock_guard<std::mutex> lk(mtx_);
    auto it = hits_.find(path);
    return it == hits_.end() ? 0 : it->second;
}

void RadioServer::acceptLoop() {
    while (!stopping_.load()) {
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) workers_.emplace_back([this, fd] { serve(fd); });
    }
}

void RadioServer::serve(int fd) {
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
        if (it != routes_.end()) handler = it->second;
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

void serveLive(Reply& reply, const Request& request, const LiveStream& s) {
    std::string head = s.status + "\r\n";
    if (!s.contentType.empty()) head += "Content-Type: " + s.contentType + "\r\n";
    head += s.extraHeaders;
    if (request.wantsMetadata() && s.metaint > 0)
        head += "icy-metaint:" + std::to_string(s.metaint) + "\r\n";
    if (!reply.send(head + "\r\n")) return;
    IcyWriter writer(s, request.wantsMetadata());
    const auto total = static_cast<size_t>(s.seconds * s.bytesPerSecond);
    size_t sent = std::min(total, static_cast<size_t>(s.burstSeconds * s.bytesPerSecond));
    if (!reply.send(writer.next(sent))) return;
    // After the burst, every 20 ms as much as the pace allows.
    const auto start = Clock::now();
    double allowed = 0;
    for (auto tick = start; sent < total && !reply.stopping();) {
        tick += 20ms;
        std::this_thread::sleep_until(tick);
        const double t = std::chrono::duration<double>(tick - start).count();
        allowed += s.pace(t) * s.bytesPerSecond * 0.02;
        const auto n = std::min(total - sent, static_cast<size_t>(allowed));
        if (n == 0) continue;
        allowed -= double(n);
        sent += n;
        if (!reply.send(writer.next(n))) return;
    }
}

}  // namespace nettest
