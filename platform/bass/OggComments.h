// The comments of an Ogg Vorbis stream, as written in its comment header, and
// what a stream of Ogg pages arriving in pieces tells about its songs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kavbass {

// bytes: the start of the stream. Returns "KEY=value" strings as they are in
// the file, NUL-separated with an empty one last; empty when none are found.
std::string oggCommentList(const std::string& bytes);

// The granule position of the last whole page in bytes (the end of an Ogg
// file): for Vorbis the number of samples up to its end. -1 when none.
int64_t oggLastGranule(const std::string& bytes);

// Watches a chained Ogg stream as it arrives, in pieces of any size: a page
// that begins a logical stream after the first one starts a new song.
class OggChainScanner {
  public:
    // The comment list (as oggCommentList) of a song that began in data and
    // whose comment header is now complete; empty otherwise.
    std::string feed(const uint8_t* data, size_t n);

  private:
    void findNextStream(const uint8_t* data, size_t n);

    std::string first_;  // the first bytes, until they show whether this is Ogg at all
    bool decided_ = false, ogg_ = false;
    uint64_t seen_ = 0;        // bytes scanned before this piece
    int64_t firstBosAt_ = -1;  // where the first stream began
    std::string carry_;        // the last bytes scanned, for a page marker split between pieces
    std::string chain_;        // the new stream's first pages while its comments are incomplete
    bool collecting_ = false;
};

}  // namespace kavbass
