#include "OggComments.h"

#include <algorithm>
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

constexpr size_t kMaxChain = 1 << 20;  // a comment header longer than this is given up

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

int64_t oggLastGranule(const std::string& b) {
    for (size_t at = b.rfind("OggS"); at != std::string::npos;
         at = at ? b.rfind("OggS", at - 1) : std::string::npos) {
        if (at + 27 > b.size() || b[at + 4] != 0) continue;
        const size_t segments = static_cast<unsigned char>(b[at + 26]);
        if (at + 27 + segments > b.size()) continue;
        size_t bodyLen = 0;
        for (size_t i = 0; i < segments; ++i) bodyLen += static_cast<unsigned char>(b[at + 27 + i]);
        if (at + 27 + segments + bodyLen > b.size()) continue;  // a page cut off
        uint64_t g = 0;
        for (size_t i = 0; i < 8; ++i)
            g |= uint64_t(static_cast<unsigned char>(b[at + 6 + i])) << (8 * i);
        const auto granule = static_cast<int64_t>(g);
        if (granule >= 0) return granule;  // -1: no packet ends on this page
    }
    return -1;
}

std::string OggChainScanner::feed(const uint8_t* data, size_t n) {
    if (!decided_) {
        // The stream's kind shows in its first four bytes, however they arrive.
        first_.append(reinterpret_cast<const char*>(data), std::min<size_t>(n, 4 - first_.size()));
        if (first_.size() < 4) return findNextStream(data, n), std::string();
        decided_ = true;
        ogg_ = first_ == "OggS";
    }
    if (!ogg_) return {};
    findNextStream(data, n);
    if (!collecting_) return {};
    std::string list = oggCommentList(chain_);
    if (!list.empty() || chain_.size() > kMaxChain) {
        collecting_ = false;
        chain_.clear();
        carry_.clear();
    }
    return list;
}

// Looks for the first page of a logical stream after the first one; from
// there on keeps the bytes until its comment header is complete.
void OggChainScanner::findNextStream(const uint8_t* data, size_t n) {
    const uint64_t base = seen_;
    seen_ += n;
    if (collecting_) return void(chain_.append(reinterpret_cast<const char*>(data), n));
    const std::string window = carry_ + std::string(reinterpret_cast<const char*>(data), n);
    const int64_t start = static_cast<int64_t>(base) - static_cast<int64_t>(carry_.size());
    for (size_t pos = window.find("OggS"); pos != std::string::npos && pos + 6 <= window.size();
         pos = window.find("OggS", pos + 4)) {
        const bool bos = window[pos + 4] == 0 && (window[pos + 5] & 2) != 0;
        if (!bos || start + int64_t(pos) == firstBosAt_) continue;
        if (firstBosAt_ < 0) {
            firstBosAt_ = start + int64_t(pos);  // the first stream: its comments are known at open
            continue;
        }
        collecting_ = true;
        chain_ = window.substr(pos);
        return;
    }
    // Enough to hold a marker and the two bytes after it that were not yet seen whole.
    carry_ = window.substr(window.size() - std::min<size_t>(window.size(), 5));
}

}  // namespace kavbass
