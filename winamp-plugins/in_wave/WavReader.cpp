#include "winamp-plugins/in_wave/WavReader.h"

#include <algorithm>
#include <cstring>

namespace inwave {

namespace {

constexpr int kFormatPcm = 1;
constexpr int kFormatFloat = 3;
constexpr int kFormatExtensible = 0xFFFE;
constexpr int kMaxRate = 768000;

std::uint32_t le32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
unsigned le16(const unsigned char* p) {
    return p[0] | (p[1] << 8);
}

struct Chunk {
    std::uint64_t offset = 0;  // of its contents
    std::uint64_t size = 0;    // as claimed by its header
    bool found = false;
};

// Reads the 16 or 40 bytes of a "fmt " chunk into layout; false if unplayable.
bool parseFormat(const unsigned char* fmt, std::uint64_t size, WavLayout& layout) {
    if (size < 16) return false;
    unsigned tag = le16(fmt);
    if (tag == kFormatExtensible) {
        if (size < 40) return false;
        tag = le16(fmt + 24);  // the first two bytes of the sub-format GUID
    }
    layout.channels = static_cast<int>(le16(fmt + 2));
    layout.rate = static_cast<int>(std::min<std::uint32_t>(le32(fmt + 4), kMaxRate + 1));
    layout.blockAlign = static_cast<int>(le16(fmt + 12));
    layout.bits = static_cast<int>(le16(fmt + 14));
    if (layout.channels < 1 || layout.channels > 2) return false;
    if (layout.rate < 1 || layout.rate > kMaxRate) return false;
    if (tag == kFormatPcm) {
        layout.kind = SampleKind::Integer;
        if (layout.bits != 8 && layout.bits != 16 && layout.bits != 24 && layout.bits != 32)
            return false;
    } else if (tag == kFormatFloat) {
        layout.kind = SampleKind::Float;
        if (layout.bits != 32) return false;
    } else {
        return false;
    }
    return layout.blockAlign == layout.channels * layout.bits / 8;
}

}  // namespace

std::optional<WavLayout> readWavLayout(const inplug::RegularFile& file) {
    unsigned char header[12];
    if (file.readAt(0, header, sizeof header) != sizeof header) return std::nullopt;
    if (std::memcmp(header, "RIFF", 4) != 0 || std::memcmp(header + 8, "WAVE", 4) != 0)
        return std::nullopt;

    // The RIFF size is not trusted: writers that stream leave it wrong, and
    // the file's own size bounds every chunk anyway.
    const std::uint64_t end = file.size();
    Chunk fmt, data;
    std::uint64_t at = 12;
    while (at + 8 <= end && !(fmt.found && data.found)) {
        unsigned char head[8];
        if (file.readAt(at, head, 8) != 8) break;
        const std::uint64_t size = le32(head + 4);
        const std::uint64_t body = at + 8;
        const std::uint64_t left = end - body;
        if (std::memcmp(head, "data", 4) == 0 && !data.found) {
            data = {body, std::min(size, left), true};
        } else if (std::memcmp(head, "fmt ", 4) == 0 && !fmt.found) {
            if (size > left) return std::nullopt;
            fmt = {body, size, true};
        } else if (size > left) {
            break;  // a chunk that runs past the file ends the walk
        }
        at = body + size + (size & 1);  // chunks are padded to even sizes
    }
    if (!fmt.found || !data.found) return std::nullopt;

    unsigned char fmtBytes[40] = {};
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(fmt.size, 40));
    if (file.readAt(fmt.offset, fmtBytes, want) != want) return std::nullopt;
    WavLayout layout;
    if (!parseFormat(fmtBytes, fmt.size, layout)) return std::nullopt;
    layout.dataOffset = data.offset;
    layout.frames = data.size / static_cast<std::uint64_t>(layout.blockAlign);
    return layout;
}

}  // namespace inwave
