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

#include "MixGate.h"
#include "bass_types.h"

namespace kavbass {

namespace {

constexpr size_t kHeadBytes = 1 << 20;            // enough for any ID3v2 block we keep
constexpr size_t kTailBytes = 70000;              // more than the longest Ogg page
constexpr size_t kMaxBuffered = 64u << 20;        // a download kept ahead of the decoder
constexpr auto kStall = std::chrono::seconds(5);  // no byte for this long ends the body

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

bool waitFdUntil(int fd, short events, Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 && waitFd(fd, events, static_cast<int>(std::min<long long>(left, 60000)));
}

}  // namespace

HttpFeed::~HttpFeed() {
    abort();
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) ::close(fd_);
}

std::unique_ptr<HttpFeed> HttpFeed::open(const std::string& url, bool wantMetadata,
                                         Clock::time_point deadline, int& error, bool& spokeHttp) {
    spokeHttp = false;
    std::string current = url;
    for (int redirects = 0; redirects < 5; ++redirects) {
        std::string host, port, path;
        if (!parseUrl(current, host, port, path)) return error = BASS_ERROR_FILEOPEN, nullptr;
        std::unique_ptr<HttpFeed> f(new HttpFeed);
        if (!f->connectTo(host, port, deadline, error) ||
            !f->request(host, path, wantMetadata, deadline, error) ||
            !f->readHeaders(deadline, error, spokeHttp))
            return nullptr;
        if (f->head_.location.empty()) return f;
        current = f->head_.location;
    }
    error = BASS_ERROR_FILEOPEN;
    return nullptr;
}

bool HttpFeed::connectTo(const std::string& host, const std::string& port,
                         Clock::time_point deadline, int& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    if (::getaddrinfo(host.c_str(), port.c_str(), &hints, &res) != 0) {
        error = BASS_ERROR_FILEOPEN;
        return false;
    }
    bool late = false;
    for (addrinfo* ai = res; ai && fd_ < 0 && !late; ai = ai->ai_next) {
        int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol);
        if (fd < 0) continue;
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        int rc = ::connect(fd, ai->ai_addr, ai->ai_addrlen);
        if (rc != 0 && errno == EINPROGRESS) {
            if (waitFdUntil(fd, POLLOUT, deadline)) {
                int err = 0;
                socklen_t len = sizeof err;
                ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
                rc = err == 0 ? 0 : -1;
            } else {
                late = true;
            }
        }
        if (rc == 0) {
            fd_ = fd;
        } else {
            ::close(fd);
        }
    }
    ::freeaddrinfo(res);
    if (fd_ < 0) error = late ? BASS_ERROR_TIMEOUT : BASS_ERROR_FILEOPEN;
    return fd_ >= 0;
}

bool HttpFeed::request(const std::string& host, const std::string& path, bool wantMetadata,
                       Clock::time_point deadline, int& error) {
    std::string req =
        "GET " + path + " HTTP/1.0\r\nHost: " + host + "\r\nUser-Agent: KAV\r\nAccept: */*\r\n";
    if (wantMetadata) req += "Icy-MetaData: 1\r\n";
    req += "Connection: close\r\n\r\n";
    size_t sent = 0;
    while (sent < req.size()) {
        if (!waitFdUntil(fd_, POLLOUT, deadline)) return error = BASS_ERROR_TIMEOUT, false;
        ssize_t n = ::send(fd_, req.data() + sent, req.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno != EAGAIN && errno != EINTR) return error = BASS_ERROR_FILEOPEN, false;
        if (n > 0) sent += static_cast<size_t>(n);
    }
    return true;
}

// Anything but the start of a status line fails at once: a server that is
// not an HTTP server gives nothing to wait for.
bool HttpFeed::readHeaders(Clock::time_point deadline, int& error, bool& spokeHttp) {
    std::string raw;
    size_t bodyAt = 0;
    for (;;) {
        const HeadScan scan = scanHead(raw, bodyAt);
        if (scan == HeadScan::NotHttp) return error = BASS_ERROR_FILEFORM, false;
        if (scan == HeadScan::Complete) break;
        if (!waitFdUntil(fd_, POLLIN, deadline)) return error = BASS_ERROR_TIMEOUT, false;
        char buf[4096];
        ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n == 0) return error = BASS_ERROR_FILEOPEN, false;
        if (n < 0 && errno != EAGAIN && errno != EINTR) return error = BASS_ERROR_FILEOPEN, false;
        if (n > 0) raw.append(buf, static_cast<size_t>(n));
    }
    pendingBody_ = raw.substr(bodyAt);
    raw.resize(bodyAt);
    while (!raw.empty() && (raw.back() == '\n' || raw.back() == '\r')) raw.pop_back();
    if (!parseHead(raw, head_)) return error = BASS_ERROR_FILEFORM, false;
    spokeHttp = true;
    const int code = head_.code;
    if (code >= 300 && code < 400 && !head_.location.empty()) return true;
    head_.location.clear();
    if (code < 200 || code >= 300) return error = BASS_ERROR_FILEOPEN, false;
    icy_ = std::make_unique<IcyDemux>(head_.metaint);
    return true;
}

void HttpFeed::start(HttpEvents events) {
    events_ = std::move(events);
    thread_ = std::thread([this] { readLoop(); });
}

void HttpFeed::readLoop() {
    bool closed =
        !takeBody(reinterpret_cast<const uint8_t*>(pendingBody_.data()), pendingBody_.size());
    pendingBody_.clear();
    auto lastData = Clock::now();
    uint8_t buf[16384];
    const int64_t length = head_.contentLength;
    while (!closed && !aborted_.load()) {
        {
            // A download far ahead of the decoder waits for it.
            std::unique_lock<std::mutex> lk(mtx_);
            if (cv_.wait_for(lk, std::chrono::milliseconds(100), [this] {
                    return buffer_.size() < kMaxBuffered || aborted_.load();
                }) == false) {
                lastData = Clock::now();
                continue;
            }
        }
        if (length >= 0 && received_.load() >= static_cast<uint64_t>(length)) {
            closed = true;
            break;
        }
        if (!waitFd(fd_, POLLIN, 100)) {
            if (Clock::now() - lastData > kStall) break;
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
        lastData = Clock::now();
        closed = !takeBody(buf, static_cast<size_t>(n));
    }
    // A body is complete when all its announced bytes came, its last chunk
    // came, or, unannounced, at a clean close.
    bool whole = closed && !aborted_.load();
    if (head_.chunked)
        whole = whole && chunkedDone_;
    else if (length >= 0)
        whole = whole && received_.load() >= uint64_t(length);
    else
        whole = whole && head_.metaint == 0;
    {
        std::lock_guard<std::mutex> lk(mtx_);
        ended_ = true;
    }
    cv_.notify_all();
    if (whole) {
        if (events_.downloaded) events_.downloaded();
        complete_.store(true);
        MixGate::instance().syncs.raise();  // download syncs are due
    }
}

bool HttpFeed::takeBody(const uint8_t* data, size_t n) {
    if (!head_.chunked) {
        received_.fetch_add(n);
        takePayload(data, n);
        return true;
    }
    std::string payload;
    const auto state = chunks_.feed(data, n, payload);
    received_.fetch_add(payload.size());
    takePayload(reinterpret_cast<const uint8_t*>(payload.data()), payload.size());
    chunkedDone_ = state == ChunkedDecoder::State::Done;
    return state == ChunkedDecoder::State::Body;
}

void HttpFeed::takePayload(const uint8_t* data, size_t n) {
    std::string audio;
    std::vector<StreamNews> titles;
    icy_->feed(data, n, audio, titles);
    keepAudio(audio, titles);
}

void HttpFeed::keepAudio(const std::string& audio, std::vector<StreamNews>& titles) {
    if (audio.empty() && titles.empty()) return;
    std::vector<StreamNews> songs =
        ogg_.feed(reinterpret_cast<const uint8_t*>(audio.data()), audio.size());
    {
        std::lock_guard<std::mutex> lk(mtx_);
        // Both kinds count the same audio bytes, so their order is the audio's.
        size_t t = 0, s = 0;
        while (t < titles.size() || s < songs.size()) {
            const bool song =
                t == titles.size() || (s < songs.size() && songs[s].at < titles[t].at);
            news_.push_back(song ? News{std::move(songs[s++]), true}
                                 : News{std::move(titles[t++]), false});
        }
        audioKept_ += audio.size();
        buffer_.insert(buffer_.end(), audio.begin(), audio.end());
        if (bodyHead_.size() < kHeadBytes)
            bodyHead_.append(audio, 0, std::min(audio.size(), kHeadBytes - bodyHead_.size()));
        tail_.append(audio);
        if (tail_.size() > 2 * kTailBytes) tail_.erase(0, tail_.size() - kTailBytes);
    }
    cv_.notify_all();
}

int HttpFeed::read(uint8_t* buf, int size) {
    std::unique_lock<std::mutex> lk(mtx_);
    while (buffer_.empty() && !ended_ && !aborted_.load()) {
        // The deadline is read afresh after each wake-up: it may have been lifted.
        if (readDeadline_ == Clock::time_point::max())
            cv_.wait(lk);
        else if (Clock::now() >= readDeadline_)
            return -1;
        else
            cv_.wait_until(lk, readDeadline_);
    }
    if (aborted_.load()) return -1;
    if (buffer_.empty()) return 0;
    const size_t n = std::min(buffer_.size(), static_cast<size_t>(size));
    std::copy(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(n), buf);
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(n));
    audioGiven_ += n;
    // News whose audio the reader now has.
    std::vector<News> due;
    while (!news_.empty() && news_.front().news.at < audioGiven_) {
        due.push_back(std::move(news_.front()));
        news_.pop_front();
    }
    lk.unlock();
    cv_.notify_all();
    tell(due);
    return static_cast<int>(n);
}

void HttpFeed::tell(const std::vector<News>& due) const {
    for (const News& n : due) {
        const auto& event = n.ogg ? events_.oggComments : events_.metadata;
        if (event) event(n.news.text);
    }
}

void HttpFeed::setReadDeadline(Clock::time_point deadline) {
    {
        std::lock_guard<std::mutex> lk(mtx_);
        readDeadline_ = deadline;
    }
    cv_.notify_all();
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
    return bodyHead_;
}

std::string HttpFeed::tail() const {
    std::lock_guard<std::mutex> lk(mtx_);
    return tail_.size() > kTailBytes ? tail_.substr(tail_.size() - kTailBytes) : tail_;
}

}  // namespace kavbass
