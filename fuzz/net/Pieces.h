#pragma once
// Cuts a fuzz input into pieces whose sizes come from the input itself, so
// a parser can be fed the same bytes whole and in pieces and must find the
// same either way.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kav_fuzz {

struct Split {
    std::vector<uint8_t> body;   // the bytes to parse
    std::vector<size_t> pieces;  // their sizes, summing to body.size()
};

// The first byte chooses the piece sizes: the low four bits give a size from
// 1 to 16, the high ones how it grows from piece to piece.
inline Split SplitInput(const uint8_t* data, size_t size) {
    Split s;
    if (size == 0) return s;
    s.body.assign(data + 1, data + size);
    size_t piece = (data[0] & 15) + 1;
    const size_t grow = data[0] >> 4;
    for (size_t left = s.body.size(); left > 0;) {
        const size_t n = piece < left ? piece : left;
        s.pieces.push_back(n);
        left -= n;
        piece = (piece * (grow + 1)) % 4099 + 1;
    }
    return s;
}

}  // namespace kav_fuzz
