// The ICY body splitter: the first two bytes give the metadata interval;
// fed whole and in pieces, the audio and the titles are the same.
#include <cstdlib>
#include <string>
#include <vector>

#include "HttpParse.h"
#include "net/Pieces.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const size_t metaint = data[0] | (data[1] & 0x0F) << 8;
    const kav_fuzz::Split split = kav_fuzz::SplitInput(data + 1, size - 1);
    kavbass::IcyDemux whole(metaint);
    std::string audio;
    std::vector<kavbass::StreamNews> titles;
    whole.feed(split.body.data(), split.body.size(), audio, titles);
    kavbass::IcyDemux pieces(metaint);
    std::string audio2;
    std::vector<kavbass::StreamNews> titles2;
    size_t at = 0;
    for (size_t n : split.pieces) {
        pieces.feed(split.body.data() + at, n, audio2, titles2);
        at += n;
    }
    if (audio != audio2 || titles != titles2 || audio.size() > split.body.size()) std::abort();
    for (const auto& t : titles)
        if (t.text.empty() || t.text.size() > 255 * 16 || t.at > audio.size()) std::abort();
    return 0;
}
