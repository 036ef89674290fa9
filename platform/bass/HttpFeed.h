// A download over HTTP/1.0 (or an ICY/Shoutcast live stream): connects,
// reads the headers, then a thread of its own reads the body, takes out the
// metadata blocks and keeps the audio bytes for the decoder.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kavbass {

struct HttpEvents {
    std::function<void(const std::string&)> metadata;  // a new metadata text
    // The comment list of a new chained Ogg stream (NUL-separated, empty last).
    std::function<void(const std::string&)> oggComments;
    std::function<void()> downloaded;  // the whole body has arrived
};

class HttpFeed {
  public:
    ~HttpFeed();
    // Connects and reads the headers; nullptr with a BASS_ERROR_* code.
    static std::unique_ptr<HttpFeed> open(const std::string& url, bool wantMetadata, int& error,
                                          int timeoutMs = 5000);

    // Starts the reading thread; events come from it.
    void start(HttpEvents events);
    // The decoder's side: up to size audio bytes, 0 at the end, -1 when aborted.
    int read(uint8_t* buf, int size);
    void abort();

    bool isIcy() const { return icy_; }
    // Header lines, status line first, NUL-separated with an empty one last.
    const std::string& headerList() const { return headers_; }
    int64_t contentLength() const { return contentLength_; }
    uint64_t received() const { return received_.load(); }
    // The first bytes of the body (for an ID3v2 block) and, once complete, the last 128.
    std::string head() const;
    std::string tail() const;
    bool complete() const { return complete_.load(); }

  private:
    HttpFeed() = default;
    bool connectTo(const std::string& host, const std::string& port, int timeoutMs, int& error);
    bool request(const std::string& host, const std::string& path, bool wantMetadata, int timeoutMs,
                 int& error);
    bool readHeaders(int timeoutMs, int& error, std::string& location);
    void readLoop();
    void takeBody(const uint8_t* data, size_t n);
    void keepAudio(const uint8_t* data, size_t n);
    void scanOgg(const uint8_t* data, size_t n);

    int fd_ = -1;
    bool icy_ = false;
    std::string headers_;
    int64_t contentLength_ = -1;
    size_t metaint_ = 0;
    std::string pendingBody_;  // body bytes that came with the headers

    // ICY block parser state (reading thread only).
    size_t audioLeft_ = 0;
    int metaLeft_ = -1;  // -1: expecting the length byte
    std::string meta_;
    std::string lastMeta_;  // servers repeat a title; only a change is news

    // Chained Ogg streams (reading thread only): a page that begins a stream
    // after the first starts a new song with its own comments.
    bool oggChecked_ = false, oggMode_ = false;
    uint64_t audioSeen_ = 0;
    int64_t firstBosAt_ = -1;
    std::string oggCarry_;  // the last bytes scanned, for a page marker split between reads
    std::string oggChain_;  // the new stream's first pages while its comments are incomplete
    bool collecting_ = false;

    HttpEvents events_;
    std::thread thread_;
    mutable std::mutex mtx_;
    std::condition_variable cv_;
    std::deque<uint8_t> buffer_;
    std::string head_, tail_;
    bool ended_ = false;
    std::atomic<bool> aborted_{false};
    std::atomic<bool> complete_{false};
    std::atomic<uint64_t> received_{0};
};

}  // namespace kavbass
