#include "OggComments.h"

#include <cstdint>
#include <cstring>

namespace kavbass {

namespace {

uint32_t le32(const std::string& b, size_t at) {
    uint32_t v = 0;
    for (size_t i = 0; i < 4; ++i) v |= uint32_t(static_cast<unsigned char>(b[at + i])) << (8 * i);
    return v;
}

// Joins the first packets of the first logical stream until the second one
// (the comment header) is complete.
std::string secondPacket(const std::string& b) {
    std::string packet;
    int packetNo = 0;
    uint32_t serial = 0;
    bool haveSerial = false;
    size_t at = 0;
    while (at + 27 <= b.size() && b.compare(at, 4, "OggS") == 0) {
        const uint32_t pageSerial = le32(b, at + 14);
        const size_t segments = static_cast<unsigned char>(b[at + 26]);
        if (at + 27 + segments > b.size()) break;
        size_t body = at + 27 + segments;
        size_t bodyLen = 0;
        for (size_t i = 0; i < segments; ++i) bodyLen += static_cast<unsigned char>(b[at + 27 + i]);
        if (body + bodyLen > b.size()) bodyLen = b.size() - body;  // truncated: use what is there
        if (!haveSerial) serial = pageSerial, haveSerial = true;
        if (pageSerial == serial) {
            size_t pos = body;
            for (size_t i = 0; i < segments && pos <= body + bodyLen; ++i) {
                const size_t len = static_cast<unsigned char>(b[at + 27 + i]);
                const size_t take = std::min(len, body + bodyLen - pos);
                if (packetNo == 1) packet.append(b, pos, take);
                pos += take;
                if (len < 255) {  // a packet ends here
                    if (packetNo == 1) return packet;
                    ++packetNo;
                }
            }
        }
        at = body + bodyLen;
    }
    return {};
}

}  // namespace

std::string oggCommentList(const std::string& bytes) {
    const std::string p = secondPacket(bytes);
    if (p.size() < 7 + 4 || p.compare(0, 7, "\x03vorbis") != 0) return {};
    size_t at = 7;
    const uint32_t vendor = le32(p, at);
    if (vendor > p.size() - at - 4) return {};
    at += 4 + vendor;
    if (at + 4 > p.size()) return {};
    uint32_t count = le32(p, at);
    at += 4;
    std::string out;
    for (; count > 0 && at + 4 <= p.size(); --count) {
        const uint32_t len = le32(p, at);
        at += 4;
        if (len > p.size() - at) break;
        std::string c = p.substr(at, len);
        at += len;
        if (c.find('\0') != std::string::npos) continue;  // would split the list
        out += c;
        out += '\0';
    }
    if (!out.empty()) out += '\0';
    return out;
}

}  // namespace kavbass
