// A download over HTTP/1.0 (or an ICY/Shoutcast live stream): connects,
// reads the headers, then a thread of its own reads the body, undoes a chunked
// transfer coding, takes out the metadata blocks and keeps the audio bytes for
// the decoder. A body that brings no byte for 5 s ends there.
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

class HttpFeed {
  public:
    ~HttpFeed();
    // Connects and reads the headers by deadline; nullptr with a BASS_ERROR_*
    // code. spokeHttp tells whether any server answered as an HTTP server.
    static std::unique_ptr<HttpFeed> open(const std::string& url, bool wantMetadata,
                                          Clock::time_point deadline, int& error, bool& spokeHttp);

    // Starts the reading thread; the download's end is told from it, the
    // news from the thread that reads the audio.
    void start(HttpEvents events);
    // The decoder's side: up to size audio bytes, 0 at the end, -1 when aborted.
    int read(uint8_t* buf, int size);
    // Until cleared (time_point::max()), a read that would wait past deadline returns -1.
    void setReadDeadline(Clock::time_point deadline);
    void abort();

    bool isIcy() const { return head_.icy; }
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
    bool connectTo(const std::string& host, const std::string& port, Clock::time_point deadline,
                   int& error);
    bool request(const std::string& host, const std::string& path, bool wantMetadata,
                 Clock::time_point deadline, int& error);
    bool readHeaders(Clock::time_point deadline, int& error, bool& spokeHttp);
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

    int fd_ = -1;
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
    std::condition_variable cv_;
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
