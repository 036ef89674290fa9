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
std::string secondPacket(const std::string& b, bool whole) {
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
        if (body + bodyLen > b.size()) {
            if (whole) return {};
            bodyLen = b.size() - body;  // truncated: use what is there
        }
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

std::string oggCommentList(const std::string& bytes, bool whole) {
    const std::string p = secondPacket(bytes, whole);
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

std::vector<StreamNews> OggChainScanner::feed(const uint8_t* data, size_t n) {
    std::vector<StreamNews> found;
    pending_.append(reinterpret_cast<const char*>(data), n);
    if (!decided_) {
        // The stream's kind shows in its first four bytes, however they arrive.
        if (pending_.size() < 4) return found;
        decided_ = true;
        ogg_ = pending_.compare(0, 4, "OggS") == 0;
    }
    if (!ogg_) return pending_.clear(), found;
    for (;;) {
        if (collecting_) {
            // A comment header longer than this is given up with what came.
            const bool giveUp = pending_.size() > kMaxChain;
            std::string list = oggCommentList(pending_, !giveUp);
            if (list.empty() && !giveUp) return found;
            if (!list.empty()) found.push_back({pendingAt_, std::move(list)});
            collecting_ = false;
        }
        if (!findNextStream()) return found;
    }
}

// Looks at the page starts not looked at yet. A page that begins a logical
// stream after other pages of the song (the first pages of a song all begin
// one) starts a new song: pending_ then starts with it. False when none.
bool OggChainScanner::findNextStream() {
    for (size_t pos = pending_.find("OggS"); pos != std::string::npos && pos + 6 <= pending_.size();
         pos = pending_.find("OggS", pos + 1)) {
        const auto at = static_cast<int64_t>(pendingAt_ + pos);
        if (at <= lastMarker_) continue;
        lastMarker_ = at;
        const bool bos = pending_[pos + 4] == 0 && (pending_[pos + 5] & 2) != 0;
        if (!bos) {
            sawNonBos_ = true;
        } else if (sawNonBos_) {
            sawNonBos_ = false;
            collecting_ = true;
            pending_.erase(0, pos);
            pendingAt_ += pos;
            return true;
        }
    }
    // Kept: enough for a marker and the two bytes after it not yet seen whole.
    const size_t keep = std::min<size_t>(pending_.size(), 5);
    pendingAt_ += pending_.size() - keep;
    pending_.erase(0, pending_.size() - keep);
    return false;
}

}  // namespace kavbass
