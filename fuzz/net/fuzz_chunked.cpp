// Chunked transfer coding: fed whole and in pieces, the decoder gives the
// same payload and state, never more payload than input.
#include <cstdlib>
#include <string>

#include "HttpParse.h"
#include "net/Pieces.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const kav_fuzz::Split split = kav_fuzz::SplitInput(data, size);
    kavbass::ChunkedDecoder whole;
    std::string all;
    const auto state = whole.feed(split.body.data(), split.body.size(), all);
    kavbass::ChunkedDecoder pieces;
    std::string out;
    size_t at = 0;
    for (size_t n : split.pieces) {
        pieces.feed(split.body.data() + at, n, out);
        at += n;
    }
    if (pieces.state() != state || out != all || all.size() > split.body.size()) std::abort();
    return 0;
}
