#include "StreamFormat.h"

#include <cctype>

namespace kavbass {

namespace {

struct FrameHead {
    uint32_t key = 0;  // version, layer and rate: the same in every frame of a stream
    size_t length = 0;
};

// kbit/s by [MPEG-1?][layer I, II, III][index 1..14].
constexpr uint16_t kRates[2][3][14] = {
    {{32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
     {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
     {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}},
    {{32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
     {32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
     {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}}};
constexpr uint32_t kSampleRates[3] = {44100, 48000, 32000};

// A frame header at p (4 bytes); false when these bytes cannot be one.
bool readHead(const uint8_t* p, FrameHead& f) {
    const uint32_t h = uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
    const uint32_t version = h >> 19 & 3, layerBits = h >> 17 & 3;
    const uint32_t rateIndex = h >> 12 & 15, srIndex = h >> 10 & 3, pad = h >> 9 & 1;
    if ((h & 0xFFE00000u) != 0xFFE00000u || version == 1 || layerBits == 0 || rateIndex == 0 ||
        rateIndex == 15 || srIndex == 3)
        return false;
    const bool mpeg1 = version == 3;
    const int layer = 4 - static_cast<int>(layerBits);  // 1, 2 or 3
    const uint32_t kbps = kRates[mpeg1][layer - 1][rateIndex - 1];
    const uint32_t rate = kSampleRates[srIndex] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
    if (layer == 1)
        f.length = (12 * kbps * 1000 / rate + pad) * 4;
    else
        f.length = (layer == 3 && !mpeg1 ? 72 : 144) * kbps * 1000 / rate + pad;
    f.key = h & 0xFFFE0C00u;
    return true;
}

bool runAt(const uint8_t* bytes, size_t size, size_t at) {
    FrameHead first;
    for (int n = 0; n < kMpegRun; ++n) {
        FrameHead f;
        if (at + 4 > size || !readHead(bytes + at, f)) return false;
        if (n == 0) first = f;
        if (f.key != first.key) return false;
        at += f.length;
    }
    return true;
}

std::string mediaType(const std::string& contentType) {
    std::string t = contentType.substr(0, contentType.find(';'));
    const size_t b = t.find_first_not_of(" \t");
    t = b == std::string::npos ? std::string() : t.substr(b, t.find_last_not_of(" \t") - b + 1);
    for (auto& c : t) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return t;
}

bool oneOf(const std::string& t, std::initializer_list<const char*> names) {
    for (const char* n : names)
        if (t == n) return true;
    return false;
}

}  // namespace

bool hasMpegFrameRun(const uint8_t* bytes, size_t size) {
    for (size_t at = 0; at + 4 <= size; ++at)
        if (bytes[at] == 0xFF && runAt(bytes, size, at)) return true;
    return false;
}

std::string streamFormat(const std::string& contentType, const std::string& bodyStart) {
    if (bodyStart.compare(0, 4, "OggS") == 0) return "ogg";
    if (bodyStart.compare(0, 4, "RIFF") == 0) return {};
    // An ID3v2 block (a cover picture may make it long) comes before MPEG audio.
    if (bodyStart.compare(0, 3, "ID3") == 0) return "mp3";
    const std::string type = mediaType(contentType);
    if (oneOf(type, {"audio/mpeg", "audio/mp3", "audio/mpeg3", "audio/x-mpeg", "audio/x-mp3",
                     "audio/mpg", "audio/x-mpeg-3"}))
        return "mp3";
    if (oneOf(type,
              {"application/ogg", "application/x-ogg", "audio/ogg", "audio/x-ogg", "audio/vorbis"}))
        return "ogg";
    const auto* p = reinterpret_cast<const uint8_t*>(bodyStart.data());
    return hasMpegFrameRun(p, bodyStart.size()) ? "mp3" : std::string();
}

}  // namespace kavbass
