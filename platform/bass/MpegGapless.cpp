#include "MpegGapless.h"

namespace kavbass {

namespace {

uint32_t be32(const std::string& b, size_t at) {
    uint32_t v = 0;
    for (size_t i = 0; i < 4; ++i) v = v << 8 | static_cast<unsigned char>(b[at + i]);
    return v;
}

}  // namespace

int64_t gaplessLengthFrames(const std::string& b) {
    // The first frame header must be right at the start (a few zero bytes allowed).
    size_t at = 0;
    while (at < 64 && at + 4 <= b.size() && b[at] == 0) ++at;
    if (at + 4 > b.size()) return -1;
    const uint32_t h = be32(b, at);
    if ((h & 0xFFE00000u) != 0xFFE00000u) return -1;
    const unsigned version = (h >> 19) & 3;  // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
    const unsigned layer = (h >> 17) & 3;    // 1: layer III
    const unsigned mode = (h >> 6) & 3;      // 3: mono
    if (layer != 1 || version == 1) return -1;
    const bool mpeg1 = version == 3;
    const size_t side = mpeg1 ? (mode == 3 ? 17 : 32) : (mode == 3 ? 9 : 17);
    size_t x = at + 4 + side;
    if (x + 8 > b.size()) return -1;
    const std::string id = b.substr(x, 4);
    if (id != "Xing" && id != "Info") return -1;
    const uint32_t flags = be32(b, x + 4);
    if (!(flags & 1) || x + 12 > b.size()) return -1;
    const int64_t frames = be32(b, x + 8);
    size_t p = x + 12;
    if (flags & 2) p += 4;    // byte count
    if (flags & 4) p += 100;  // seek table
    if (flags & 8) p += 4;    // quality
    // The encoder tag: 9 bytes of name and version, then delay and padding at 21.
    if (p + 24 > b.size()) return -1;
    const auto d0 = static_cast<unsigned char>(b[p + 21]);
    const auto d1 = static_cast<unsigned char>(b[p + 22]);
    const auto d2 = static_cast<unsigned char>(b[p + 23]);
    const int64_t delay = d0 << 4 | d1 >> 4;
    const int64_t padding = (d1 & 0x0F) << 8 | d2;
    const int64_t spf = mpeg1 ? 1152 : 576;
    const int64_t total = frames * spf - delay - padding;
    return total > 0 ? total : -1;
}

}  // namespace kavbass
