// The parts of an HTTP/ICY response that come from the server as untrusted
// bytes: the header block, chunked transfer coding and ICY metadata blocks.
// Pure functions and small state machines, with bounds on everything they keep.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "StreamNews.h"

namespace kavbass {

// Where a response's header block ends.
enum class HeadScan { NeedMore, Complete, NotHttp };
// bodyAt: the first body byte once Complete. NotHttp as soon as the first
// bytes cannot begin an "HTTP/" or "ICY " status line, or the block is too long.
HeadScan scanHead(const std::string& raw, size_t& bodyAt);

struct HttpHead {
    bool icy = false;  // "ICY 200 OK" (a Shoutcast server) rather than "HTTP/1.x"
    int code = 0;
    std::string headerList;  // the lines, status first, NUL-separated, an empty one last
    int64_t contentLength = -1;
    size_t metaint = 0;
    bool chunked = false;
    std::string location;
    std::string contentType;  // as the server wrote it
};
// text: the header block without its blank line. False when not a response.
bool parseHead(const std::string& text, HttpHead& head);

// Undoes "Transfer-Encoding: chunked": feed the raw body as it arrives, in
// pieces of any size; the payload is appended to out.
class ChunkedDecoder {
  public:
    enum class State { Body, Done, Error };
    State feed(const uint8_t* data, size_t n, std::string& out);
    State state() const { return state_; }

  private:
    enum class Part { SizeLine, Data, DataEnd, Trailer };
    bool endSizeLine();
    State fail() { return state_ = State::Error; }

    State state_ = State::Body;
    Part part_ = Part::SizeLine;
    std::string line_;  // the line being read (size or trailer)
    uint64_t left_ = 0;
    size_t trailerBytes_ = 0;
};

// Splits an ICY body into audio and metadata: every metaint audio bytes come
// a length byte (in 16-byte units) and that much text.
class IcyDemux {
  public:
    explicit IcyDemux(size_t metaint) : metaint_(metaint), audioLeft_(metaint) {}
    // Audio goes to audio; each metadata text that differs from the last one
    // (servers repeat a title, only a change is news) goes to titles, with
    // the number of audio bytes of the whole body that came before it.
    void feed(const uint8_t* data, size_t n, std::string& audio, std::vector<StreamNews>& titles);

  private:
    const size_t metaint_;
    size_t audioLeft_;
    uint64_t audioSeen_ = 0;
    int metaLeft_ = -1;  // -1: expecting the length byte
    std::string meta_, last_;
};

}  // namespace kavbass
