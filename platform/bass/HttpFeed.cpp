#include "HttpFeed.h"

#include <algorithm>
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

}  // namespace

HttpFeed::~HttpFeed() {
    abort();
    if (thread_.joinable()) thread_.join();
}

std::unique_ptr<HttpFeed> HttpFeed::open(const std::string& url, bool wantMetadata,
                                         Clock::time_point deadline, FeedOpen& result) {
    result = FeedOpen{};
    std::string current = url;
    for (int redirects = 0; redirects < 5; ++redirects) {
        NetAddress a;
        if (!parseAddress(current, a)) return result.error = BASS_ERROR_FILEOPEN, nullptr;
        std::unique_ptr<HttpFeed> f(new HttpFeed);
        f->address_ = current;
        f->conn_ = NetConnection::open(a, deadline, result.error, result.reason);
        if (!f->conn_ || !f->request(a, wantMetadata, deadline, result.error) ||
            !f->readHeaders(deadline, result))
            return nullptr;
        if (f->head_.location.empty()) return f;
        // A Location may be relative to the address that gave it (RFC 9110, 10.2.2).
        current = resolveReference(current, f->head_.location);
    }
    result.error = BASS_ERROR_FILEOPEN;
    return nullptr;
}

bool HttpFeed::request(const NetAddress& a, bool wantMetadata, Clock::time_point deadline,
                       int& error) {
    std::string req = "GET " + a.target + " HTTP/1.0\r\nHost: " + a.authority +
                      "\r\nUser-Agent: KAV\r\nAccept: */*\r\n";
    if (wantMetadata) req += "Icy-MetaData: 1\r\n";
    req += "Connection: close\r\n\r\n";
    if (conn_->send(req, deadline)) return true;
    error = Clock::now() >= deadline ? BASS_ERROR_TIMEOUT : BASS_ERROR_FILEOPEN;
    return false;
}

// Anything but the start of a status line fails at once: a server that is
// not an HTTP server gives nothing to wait for.
bool HttpFeed::readHeaders(Clock::time_point deadline, FeedOpen& result) {
    int& error = result.error;
    std::string raw;
    size_t bodyAt = 0;
    for (;;) {
        const HeadScan scan = scanHead(raw, bodyAt);
        if (scan == HeadScan::NotHttp) return error = BASS_ERROR_FILEFORM, false;
        if (scan == HeadScan::Complete) break;
        uint8_t buf[4096];
        const int n = conn_->receive(buf, sizeof buf, deadline);
        if (n == NetConnection::kTimedOut) return error = BASS_ERROR_TIMEOUT, false;
        if (n <= 0) return error = BASS_ERROR_FILEOPEN, false;
        raw.append(reinterpret_cast<const char*>(buf), static_cast<size_t>(n));
    }
    pendingBody_ = raw.substr(bodyAt);
    raw.resize(bodyAt);
    while (!raw.empty() && (raw.back() == '\n' || raw.back() == '\r')) raw.pop_back();
    if (!parseHead(raw, head_)) return error = BASS_ERROR_FILEFORM, false;
    result.spokeHttp = true;
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
        // Nothing for kStall ends the body; an abort ends the wait too.
        const int n = conn_->receive(buf, sizeof buf, lastData + kStall);
        if (n == 0) {
            closed = true;
            break;
        }
        if (n < 0) break;
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
    if (conn_) conn_->abort();
    cv_.notify_all();
}

std::string HttpFeed::waitHead(size_t size, Clock::time_point deadline) const {
    std::unique_lock<std::mutex> lk(mtx_);
    cv_.wait_until(lk, deadline,
                   [&] { return bodyHead_.size() >= size || ended_ || aborted_.load(); });
    return bodyHead_.substr(0, size);
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
