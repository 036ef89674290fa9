#include "HttpFeed.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "OggComments.h"
#include "bass_types.h"

namespace kavbass {

namespace {

constexpr size_t kHeadBytes = 1 << 20;      // enough for any ID3v2 block we keep
constexpr size_t kMaxBuffered = 64u << 20;  // a download kept ahead of the decoder
constexpr int kStallMs = 10000;             // no byte for this long ends the body

bool parseUrl(const std::string& url, std::string& host, std::string& port, std::string& path) {
    const std::string scheme = "http://";
    if (url.compare(0, scheme.size(), scheme) != 0) return false;
    std::string rest = url.substr(scheme.size());
    auto slash = rest.find('/');
    std::string hostport = rest.substr(0, slash);
    path = slash == std::string::npos ? "/" : rest.substr(slash);
    auto colon = hostport.rfind(':');
    if (colon != std::string::npos && hostport.find(']') == std::string::npos) {
        host = hostport.substr(0, colon);
        port = hostport.substr(colon + 1);
    } else {
        host = hostport;
        port = "80";
    }
    return !host.empty() && !port.empty();
}

bool waitFd(int fd, short events, int timeoutMs) {
    pollfd p{fd, events, 0};
    int rc;
    do {
        rc = ::poll(&p, 1, timeoutMs);
    } while (rc < 0 && errno == EINTR);
    return rc > 0;
}

std::string lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string headerValue(const std::string& line) {
    auto colon = line.find(':');
    if (colon == std::string::npos) return "";
    size_t b = line.find_first_not_of(" \t", colon + 1);
    return b == std::string::npos ? "" : line.substr(b);
}

}  // namespace

HttpFeed::~HttpFeed() {
    abort();
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) ::close(fd_);
}

std::unique_ptr<HttpFeed> HttpFeed::open(const std::string& url, bool wantMetadata, int& error,
                                         int timeoutMs) {
    std::string current = url;
    for (int redirects = 0; redirects < 5; ++redirects) {
        std::string host, port, path, location;
        if (!parseUrl(current, host, port, path)) return error = BASS_ERROR_FILEOPEN, nullptr;
        std::unique_ptr<HttpFeed> f(new HttpFeed);
        if (!f->connectTo(host, port, timeoutMs, error) ||
            !f->request(host, path, wantMetadata, timeoutMs, error) ||
            !f->readHeaders(timeoutMs, error, location))
            return nullptr;
        if (location.empty()) return f;
        current = location;
    }
    error = BASS_ERROR_FILEOPEN;
    return nullptr;
}

bool HttpFeed::connectTo(const std::string& host, const std::string& port, int timeoutMs,
                         int& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    if (::getaddrinfo(host.c_str(), port.c_str(), &hints, &res) != 0) {
        error = BASS_ERROR_FILEOPEN;
        return false;
    }
    for (addrinfo* ai = res; ai && fd_ < 0; ai = ai->ai_next) {
        int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol);
        if (fd < 0) continue;
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        int rc = ::connect(fd, ai->ai_addr, ai->ai_addrlen);
        if (rc != 0 && errno == EINPROGRESS && waitFd(fd, POLLOUT, timeoutMs)) {
            int err = 0;
            socklen_t len = sizeof err;
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
            rc = err == 0 ? 0 : -1;
        }
        if (rc == 0) {
            fd_ = fd;
        } else {
            ::close(fd);
        }
    }
    ::freeaddrinfo(res);
    if (fd_ < 0) error = BASS_ERROR_FILEOPEN;
    return fd_ >= 0;
}

bool HttpFeed::request(const std::string& host, const std::string& path, bool wantMetadata,
                       int timeoutMs, int& error) {
    std::string req =
        "GET " + path + " HTTP/1.0\r\nHost: " + host + "\r\nUser-Agent: KAV\r\nAccept: */*\r\n";
    if (wantMetadata) req += "Icy-MetaData: 1\r\n";
    req += "Connection: close\r\n\r\n";
    size_t sent = 0;
    while (sent < req.size()) {
        if (!waitFd(fd_, POLLOUT, timeoutMs)) return error = BASS_ERROR_TIMEOUT, false;
        ssize_t n = ::send(fd_, req.data() + sent, req.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno != EAGAIN && errno != EINTR) return error = BASS_ERROR_FILEOPEN, false;
        if (n > 0) sent += static_cast<size_t>(n);
    }
    return true;
}

bool HttpFeed::readHeaders(int timeoutMs, int& error, std::string& location) {
    std::string raw;
    size_t end = std::string::npos;
    while ((end = raw.find("\r\n\r\n")) == std::string::npos &&
           (end = raw.find("\n\n")) == std::string::npos) {
        if (raw.size() > 65536) return error = BASS_ERROR_FILEFORM, false;
        if (!waitFd(fd_, POLLIN, timeoutMs)) return error = BASS_ERROR_TIMEOUT, false;
        char buf[4096];
        ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n == 0) return error = BASS_ERROR_FILEOPEN, false;
        if (n < 0 && errno != EAGAIN && errno != EINTR) return error = BASS_ERROR_FILEOPEN, false;
        if (n > 0) raw.append(buf, static_cast<size_t>(n));
    }
    const size_t sepLen = raw.compare(end, 4, "\r\n\r\n") == 0 ? 4 : 2;
    pendingBody_ = raw.substr(end + sepLen);
    raw.resize(end);
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos <= raw.size()) {
        size_t nl = raw.find('\n', pos);
        std::string line = raw.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        if (nl == std::string::npos) break;
        pos = nl + 1;
    }
    const std::string& status = lines.front();
    icy_ = status.compare(0, 4, "ICY ") == 0;
    if (!icy_ && status.compare(0, 5, "HTTP/") != 0) return error = BASS_ERROR_FILEFORM, false;
    auto sp = status.find(' ');
    const int code = sp == std::string::npos ? 0 : std::atoi(status.c_str() + sp + 1);
    for (const auto& line : lines) {
        headers_ += line;
        headers_ += '\0';
        const std::string key = lower(line.substr(0, line.find(':')));
        if (key == "content-length") contentLength_ = std::atoll(headerValue(line).c_str());
        if (key == "icy-metaint") metaint_ = std::strtoul(headerValue(line).c_str(), nullptr, 10);
        if (key == "location") location = headerValue(line);
    }
    headers_ += '\0';
    if (code >= 300 && code < 400 && !location.empty()) return true;
    location.clear();
    if (code < 200 || code >= 300) return error = BASS_ERROR_FILEOPEN, false;
    audioLeft_ = metaint_;
    return true;
}

void HttpFeed::start(HttpEvents events) {
    events_ = std::move(events);
    thread_ = std::thread([this] { readLoop(); });
}

void HttpFeed::readLoop() {
    takeBody(reinterpret_cast<const uint8_t*>(pendingBody_.data()), pendingBody_.size());
    pendingBody_.clear();
    auto lastData = std::chrono::steady_clock::now();
    uint8_t buf[16384];
    bool closed = false;
    while (!aborted_.load()) {
        {
            // A download far ahead of the decoder waits for it.
            std::unique_lock<std::mutex> lk(mtx_);
            if (cv_.wait_for(lk, std::chrono::milliseconds(100), [this] {
                    return buffer_.size() < kMaxBuffered || aborted_.load();
                }) == false)
                continue;
        }
        if (contentLength_ >= 0 && received_.load() >= static_cast<uint64_t>(contentLength_)) {
            closed = true;
            break;
        }
        if (!waitFd(fd_, POLLIN, 100)) {
            if (std::chrono::steady_clock::now() - lastData > std::chrono::milliseconds(kStallMs))
                break;
            continue;
        }
        ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n == 0) {
            closed = true;
            break;
        }
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR) continue;
            break;
        }
        lastData = std::chrono::steady_clock::now();
        takeBody(buf, static_cast<size_t>(n));
    }
    // A body is complete when all its announced bytes came (or, unannounced, at a clean close).
    const bool whole =
        closed && !aborted_.load() &&
        (contentLength_ < 0 ? metaint_ == 0 : received_.load() >= uint64_t(contentLength_));
    {
        std::lock_guard<std::mutex> lk(mtx_);
        ended_ = true;
    }
    cv_.notify_all();
    if (whole) {
        if (events_.downloaded) events_.downloaded();
        complete_.store(true);
    }
}

void HttpFeed::takeBody(const uint8_t* data, size_t n) {
    received_.fetch_add(n);
    if (metaint_ == 0) return keepAudio(data, n);
    while (n > 0) {
        if (audioLeft_ > 0) {
            size_t k = std::min(audioLeft_, n);
            keepAudio(data, k);
            audioLeft_ -= k;
            data += k;
            n -= k;
        } else if (metaLeft_ < 0) {
            metaLeft_ = data[0] * 16;
            meta_.clear();
            ++data;
            --n;
        } else {
            size_t k = std::min(static_cast<size_t>(metaLeft_), n);
            meta_.append(reinterpret_cast<const char*>(data), k);
            metaLeft_ -= static_cast<int>(k);
            data += k;
            n -= k;
        }
        if (audioLeft_ == 0 && metaLeft_ == 0) {
            // A block of 0 bytes means "no change".
            while (!meta_.empty() && meta_.back() == '\0') meta_.pop_back();
            if (!meta_.empty() && meta_ != lastMeta_ && events_.metadata) events_.metadata(meta_);
            if (!meta_.empty()) lastMeta_ = meta_;
            metaLeft_ = -1;
            audioLeft_ = metaint_;
        }
    }
}

void HttpFeed::scanOgg(const uint8_t* data, size_t n) {
    if (!oggChecked_) {
        oggMode_ = n >= 4 && std::memcmp(data, "OggS", 4) == 0;
        oggChecked_ = true;
    }
    if (!oggMode_ || !events_.oggComments) return;
    if (collecting_) {
        oggChain_.append(reinterpret_cast<const char*>(data), n);
    } else {
        const std::string window = oggCarry_ + std::string(reinterpret_cast<const char*>(data), n);
        const int64_t base =
            static_cast<int64_t>(audioSeen_) - static_cast<int64_t>(oggCarry_.size());
        for (size_t pos = window.find("OggS"); pos != std::string::npos && pos + 6 <= window.size();
             pos = window.find("OggS", pos + 4)) {
            const bool bos = window[pos + 4] == 0 && (window[pos + 5] & 2) != 0;
            if (!bos || base + int64_t(pos) == firstBosAt_) continue;
            if (firstBosAt_ < 0) {
                firstBosAt_ = base + int64_t(pos);  // the first stream: comments known at open
                continue;
            }
            collecting_ = true;
            oggChain_ = window.substr(pos);
            break;
        }
        oggCarry_ = window.substr(window.size() - std::min<size_t>(window.size(), 5));
    }
    audioSeen_ += n;
    if (!collecting_) return;
    const std::string list = oggCommentList(oggChain_);
    if (!list.empty() || oggChain_.size() > kHeadBytes) {
        collecting_ = false;
        oggChain_.clear();
        oggCarry_.clear();
        if (!list.empty()) events_.oggComments(list);
    }
}

void HttpFeed::keepAudio(const uint8_t* data, size_t n) {
    scanOgg(data, n);
    {
        std::lock_guard<std::mutex> lk(mtx_);
        buffer_.insert(buffer_.end(), data, data + n);
        if (head_.size() < kHeadBytes)
            head_.append(reinterpret_cast<const char*>(data),
                         std::min(n, kHeadBytes - head_.size()));
        tail_.append(reinterpret_cast<const char*>(data), n);
        if (tail_.size() > 128) tail_.erase(0, tail_.size() - 128);
    }
    cv_.notify_all();
}

int HttpFeed::read(uint8_t* buf, int size) {
    std::unique_lock<std::mutex> lk(mtx_);
    cv_.wait(lk, [this] { return !buffer_.empty() || ended_ || aborted_.load(); });
    if (aborted_.load()) return -1;
    if (buffer_.empty()) return 0;
    const size_t n = std::min(buffer_.size(), static_cast<size_t>(size));
    std::copy(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(n), buf);
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(n));
    lk.unlock();
    cv_.notify_all();
    return static_cast<int>(n);
}

void HttpFeed::abort() {
    {
        std::lock_guard<std::mutex> lk(mtx_);
        aborted_.store(true);
    }
    cv_.notify_all();
}

std::string HttpFeed::head() const {
    std::lock_guard<std::mutex> lk(mtx_);
    return head_;
}

std::string HttpFeed::tail() const {
    std::lock_guard<std::mutex> lk(mtx_);
    return tail_;
}

}  // namespace kavbass
