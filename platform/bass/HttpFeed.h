// A download over HTTP/1.0 or HTTPS (or an ICY/Shoutcast live stream):
// connects, reads the headers, follows redirects, then a thread of its own
// reads the body, undoes a chunked transfer coding, takes out the metadata
// blocks and keeps the audio bytes for the decoder. A body that brings no
// byte for 5 s ends there.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "HttpParse.h"
#include "NetConnection.h"
#include "OggComments.h"

namespace kavbass {

using Clock = std::chrono::steady_clock;

// The metadata and a new song's comments are told once the decoder has read
// up to the audio they belong to, so that a title changes with the song, not
// as early as the network brought it.
struct HttpEvents {
    std::function<void(const std::string&)> metadata;  // a new metadata text
    // The comment list of a new chained Ogg stream (NUL-separated, empty last).
    std::function<void(const std::string&)> oggComments;
    std::function<void()> downloaded;  // the whole body has arrived
};

// What an open tells besides the feed.
struct FeedOpen {
    int error = 0;           // a BASS_ERROR_* code when it failed
    bool spokeHttp = false;  // some server answered as an HTTP server
    std::string reason;      // why a TLS connection failed
};

class HttpFeed {
  public:
    ~HttpFeed();
    // Connects and reads the headers by deadline, following up to 5
    // redirects (relative ones too); nullptr when it fails.
    static std::unique_ptr<HttpFeed> open(const std::string& url, bool wantMetadata,
                                          Clock::time_point deadline, FeedOpen& result);

    // Starts the reading thread; the download's end is told from it, the
    // news from the thread that reads the audio.
    void start(HttpEvents events);
    // The decoder's side: up to size audio bytes, 0 at the end, -1 when aborted.
    int read(uint8_t* buf, int size);
    // Until cleared (time_point::max()), a read that would wait past deadline returns -1.
    void setReadDeadline(Clock::time_point deadline);
    void abort();

    bool isIcy() const { return head_.icy; }
    // The address the body came from, after redirects.
    const std::string& address() const { return address_; }
    const std::string& contentType() const { return head_.contentType; }
    // The first bytes of the body once size of them came, or the body ended,
    // or deadline passed (then fewer).
    std::string waitHead(size_t size, Clock::time_point deadline) const;
    // Header lines, status line first, NUL-separated with an empty one last.
    const std::string& headerList() const { return head_.headerList; }
    int64_t contentLength() const { return head_.contentLength; }
    uint64_t received() const { return received_.load(); }
    // The first bytes of the body (for an ID3v2 block) and the last ones (an
    // ID3v1 block, the last Ogg page), whole once complete.
    std::string head() const;
    std::string tail() const;
    bool complete() const { return complete_.load(); }

  private:
    HttpFeed() = default;
    bool request(const NetAddress& a, bool wantMetadata, Clock::time_point deadline, int& error);
    bool readHeaders(Clock::time_point deadline, FeedOpen& result);
    void readLoop();
    // Takes raw body bytes; false once a chunked body has ended (or is broken).
    bool takeBody(const uint8_t* data, size_t n);
    void takePayload(const uint8_t* data, size_t n);
    struct News {
        StreamNews news;
        bool ogg;  // a song's comments, else a metadata text
    };
    void keepAudio(const std::string& audio, std::vector<StreamNews>& titles);
    void tell(const std::vector<News>& due) const;

    std::unique_ptr<NetConnection> conn_;
    std::string address_;
    HttpHead head_;
    std::string pendingBody_;  // body bytes that came with the headers

    // Body parsers (reading thread only).
    ChunkedDecoder chunks_;
    std::unique_ptr<IcyDemux> icy_;
    OggChainScanner ogg_;
    bool chunkedDone_ = false;

    HttpEvents events_;
    std::thread thread_;
    mutable std::mutex mtx_;
    mutable std::condition_variable cv_;
    std::deque<uint8_t> buffer_;
    std::deque<News> news_;    // in the order of their audio
    uint64_t audioKept_ = 0;   // audio bytes ever put in buffer_
    uint64_t audioGiven_ = 0;  // ... and ever handed to the reader
    std::string bodyHead_, tail_;
    Clock::time_point readDeadline_ = Clock::time_point::max();
    bool ended_ = false;
    std::atomic<bool> aborted_{false};
    std::atomic<bool> complete_{false};
    std::atomic<uint64_t> received_{0};
};

}  // namespace kavbass
