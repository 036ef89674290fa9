#include "HttpParse.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace kavbass {

namespace {

constexpr size_t kMaxHead = 65536;
constexpr size_t kMaxLine = 4096;       // a chunk-size or trailer line
constexpr size_t kMaxTrailers = 65536;  // all trailer lines together
constexpr uint64_t kMaxChunk = 1ull << 40;

std::string lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string headerValue(const std::string& line) {
    auto colon = line.find(':');
    if (colon == std::string::npos) return "";
    size_t b = line.find_first_not_of(" \t", colon + 1);
    size_t e = line.find_last_not_of(" \t");
    return b == std::string::npos ? "" : line.substr(b, e - b + 1);
}

// Whether raw can still become a status line of either kind.
bool statusPrefix(const std::string& raw) {
    for (const char* p : {"HTTP/", "ICY "}) {
        const size_t n = std::min(raw.size(), std::strlen(p));
        if (raw.compare(0, n, p, n) == 0) return true;
    }
    return false;
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t nl = text.find('\n', pos);
        std::string line = text.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        if (nl == std::string::npos) break;
        pos = nl + 1;
    }
    return lines;
}

bool hexDigit(char c, unsigned& v) {
    if (c >= '0' && c <= '9') return v = unsigned(c - '0'), true;
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (c >= 'a' && c <= 'f') return v = unsigned(c - 'a' + 10), true;
    return false;
}

}  // namespace

HeadScan scanHead(const std::string& raw, size_t& bodyAt) {
    if (!statusPrefix(raw)) return HeadScan::NotHttp;
    const size_t crlf = raw.find("\r\n\r\n"), lf = raw.find("\n\n");
    const size_t end = std::min(crlf, lf);
    if (end == std::string::npos)
        return raw.size() > kMaxHead ? HeadScan::NotHttp : HeadScan::NeedMore;
    if (end > kMaxHead) return HeadScan::NotHttp;
    bodyAt = end + (end == crlf ? 4 : 2);
    return HeadScan::Complete;
}

bool parseHead(const std::string& text, HttpHead& head) {
    const std::vector<std::string> lines = splitLines(text);
    const std::string& status = lines.front();
    head.icy = status.compare(0, 4, "ICY ") == 0;
    if (!head.icy && status.compare(0, 5, "HTTP/") != 0) return false;
    auto sp = status.find(' ');
    head.code = sp == std::string::npos ? 0 : std::atoi(status.c_str() + sp + 1);
    for (const auto& line : lines) {
        head.headerList += line;
        head.headerList += '\0';
        const std::string key = lower(line.substr(0, line.find(':')));
        const std::string value = headerValue(line);
        if (key == "content-length") head.contentLength = std::max(-1ll, std::atoll(value.c_str()));
        if (key == "icy-metaint") head.metaint = std::strtoul(value.c_str(), nullptr, 10);
        if (key == "transfer-encoding")
            head.chunked = lower(value).find("chunked") != std::string::npos;
        if (key == "location") head.location = value;
        if (key == "content-type") head.contentType = value;
    }
    head.headerList += '\0';
    // A chunked body's length is set by its chunks, not by a Content-Length.
    if (head.chunked) head.contentLength = -1;
    // A block too long to be meant is no block at all.
    if (head.metaint > (1u << 24)) head.metaint = 0;
    return true;
}

// Reads the hex size at the start of line_, ignoring any ";extension".
bool ChunkedDecoder::endSizeLine() {
    std::string s = line_.substr(0, line_.find(';'));
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.pop_back();
    size_t i = s.find_first_not_of(" \t");
    if (i == std::string::npos) return false;
    uint64_t v = 0;
    for (; i < s.size(); ++i) {
        unsigned d;
        if (!hexDigit(s[i], d) || v > kMaxChunk) return false;
        v = v * 16 + d;
    }
    if (v > kMaxChunk) return false;
    left_ = v;
    line_.clear();
    part_ = v == 0 ? Part::Trailer : Part::Data;
    return true;
}

ChunkedDecoder::State ChunkedDecoder::feed(const uint8_t* data, size_t n, std::string& out) {
    size_t i = 0;
    while (i < n && state_ == State::Body) {
        if (part_ == Part::Data) {
            const size_t k = static_cast<size_t>(std::min<uint64_t>(left_, n - i));
            out.append(reinterpret_cast<const char*>(data + i), k);
            i += k;
            left_ -= k;
            if (left_ == 0) part_ = Part::DataEnd;
            continue;
        }
        const char c = static_cast<char>(data[i++]);
        if (part_ == Part::DataEnd) {
            // The line end after a chunk's data: CRLF, or a bare LF.
            if (c == '\n')
                part_ = Part::SizeLine;
            else if (c != '\r')
                return fail();
            continue;
        }
        if (c != '\n') {
            line_ += c;
            if (line_.size() > kMaxLine) return fail();
            if (part_ == Part::Trailer && ++trailerBytes_ > kMaxTrailers) return fail();
            continue;
        }
        if (part_ == Part::SizeLine) {
            if (!endSizeLine()) return fail();
        } else {
            // Trailer lines are ignored; the blank one ends the body.
            const bool blank = line_.empty() || line_ == "\r";
            line_.clear();
            if (blank) state_ = State::Done;
        }
    }
    return state_;
}

void IcyDemux::feed(const uint8_t* data, size_t n, std::string& audio,
                    std::vector<StreamNews>& titles) {
    if (metaint_ == 0) return void(audio.append(reinterpret_cast<const char*>(data), n));
    while (n > 0) {
        if (audioLeft_ > 0) {
            const size_t k = std::min(audioLeft_, n);
            audio.append(reinterpret_cast<const char*>(data), k);
            audioLeft_ -= k;
            audioSeen_ += k;
            data += k;
            n -= k;
        } else if (metaLeft_ < 0) {
            metaLeft_ = data[0] * 16;
            meta_.clear();
            ++data;
            --n;
        } else {
            const size_t k = std::min(static_cast<size_t>(metaLeft_), n);
            meta_.append(reinterpret_cast<const char*>(data), k);
            metaLeft_ -= static_cast<int>(k);
            data += k;
            n -= k;
        }
        if (audioLeft_ == 0 && metaLeft_ == 0) {
            // A block of 0 bytes means "no change".
            while (!meta_.empty() && meta_.back() == '\0') meta_.pop_back();
            if (!meta_.empty() && meta_ != last_) titles.push_back({audioSeen_, meta_});
            if (!meta_.empty()) last_ = meta_;
            metaLeft_ = -1;
            audioLeft_ = metaint_;
        }
    }
}

}  // namespace kavbass
