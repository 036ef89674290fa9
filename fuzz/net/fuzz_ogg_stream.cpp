// A stream of Ogg pages as a server sends it: the chained-song scanner finds
// the same comment lists fed whole and in pieces; the comment reader and the
// last-granule search take any bytes.
#include <cstdlib>
#include <string>
#include <vector>

#include "OggComments.h"
#include "net/Pieces.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const kav_fuzz::Split split = kav_fuzz::SplitInput(data, size);
    kavbass::OggChainScanner whole;
    const std::vector<kavbass::StreamNews> all = whole.feed(split.body.data(), split.body.size());
    kavbass::OggChainScanner pieces;
    std::vector<kavbass::StreamNews> found;
    size_t at = 0;
    for (size_t n : split.pieces) {
        for (auto& list : pieces.feed(split.body.data() + at, n)) found.push_back(list);
        at += n;
    }
    if (found != all) std::abort();
    // A song begins inside what came, after the one before it.
    for (size_t i = 0; i < all.size(); ++i)
        if (all[i].at >= split.body.size() || (i > 0 && all[i].at <= all[i - 1].at)) std::abort();
    const std::string bytes(split.body.begin(), split.body.end());
    for (bool complete : {false, true}) {
        const std::string list = kavbass::oggCommentList(bytes, complete);
        if (!list.empty() && (list.size() < 2 || list.compare(list.size() - 2, 2, "\0\0", 2) != 0))
            std::abort();
    }
    volatile int64_t granule = kavbass::oggLastGranule(bytes);
    (void)granule;
    return 0;
}
