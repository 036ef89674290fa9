// The comments of an Ogg Vorbis stream, as written in its comment header, and
// what a stream of Ogg pages arriving in pieces tells about its songs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "StreamNews.h"

namespace kavbass {

// bytes: the start of the stream. Returns "KEY=value" strings as they are in
// the file, NUL-separated with an empty one last; empty when none are found.
// Unless whole, a comment header cut off by the end of bytes gives the
// comments complete in what is there.
std::string oggCommentList(const std::string& bytes, bool whole = false);

// The granule position of the last whole page in bytes (the end of an Ogg
// file): for Vorbis the number of samples up to its end. -1 when none.
int64_t oggLastGranule(const std::string& bytes);

// Watches a chained Ogg stream as it arrives, in pieces of any size: a page
// that begins a logical stream after the first one starts a new song. What
// it finds does not depend on where the pieces end.
class OggChainScanner {
  public:
    // The comment lists (as oggCommentList) of the songs whose comment
    // header became complete with data, in order, each with where the song
    // begins in the stream.
    std::vector<StreamNews> feed(const uint8_t* data, size_t n);

  private:
    bool findNextStream();

    std::string pending_;     // bytes not yet done with: a new song's first pages, or a
                              // marker possibly cut by the end of the last piece
    uint64_t pendingAt_ = 0;  // where pending_ begins in the stream
    bool decided_ = false, ogg_ = false;
    int64_t lastMarker_ = -1;  // the last page start looked at
    bool sawNonBos_ = false;   // a page after the first ones of the current song
    bool collecting_ = false;
};

}  // namespace kavbass
