#include "engine/StreamText.h"

#include <cmath>
#include <cstring>

namespace kav {
namespace {

bool isSeparator(char c) {
    return c == '/' || c == '\\' || c == ':';
}

std::string upperAscii(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

constexpr std::size_t kMaxTitle = 255;

}  // namespace

std::string UpperExt(const std::string& path) {
    for (std::size_t i = path.size(); i-- > 0;) {
        if (isSeparator(path[i])) return {};
        if (path[i] == '.') return upperAscii(path.substr(i));
    }
    return {};
}

std::string ExtractFileName(const std::string& path) {
    for (std::size_t i = path.size(); i-- > 0;)
        if (isSeparator(path[i])) return path.substr(i + 1);
    return path;
}

bool IsNetworkAddress(const std::string& path) {
    return path.starts_with("http://") || path.starts_with("https://") ||
           path.starts_with("ftp://") || path.starts_with("mms://");
}

std::string StreamTitleOf(const std::string& meta) {
    static const std::string key = "StreamTitle=";
    const std::size_t p = meta.find(key);
    if (p == std::string::npos) return {};
    // The title lies between the quote after "=" and the quote before the
    // next ";". The ";" is looked for after the key, so that a field placed
    // before StreamTitle does not end the title before it begins.
    const std::size_t start = p + key.size() + 1;
    const std::size_t semicolon = meta.find(';', p);
    std::size_t end;  // one past the title's last character
    if (semicolon != std::string::npos)
        end = semicolon >= 1 ? semicolon - 1 : 0;
    else
        end = meta.empty() ? 0 : meta.size() - 1;
    if (start >= end || start >= meta.size()) return {};
    return meta.substr(start, end - start);
}

std::string FindTagString(const char* list, const std::string& needle, std::size_t maxBytes) {
    if (!list) return {};
    std::size_t offset = 0;
    while (offset < maxBytes && list[offset] != '\0') {
        const std::size_t len = strnlen(list + offset, maxBytes - offset);
        std::string entry(list + offset, len);
        if (entry.find(needle) != std::string::npos) return entry;
        offset += len + 1;
    }
    return {};
}

std::string MetaTitleFromData(const char* data, bool list) {
    if (!data) return {};
    std::string title;
    const std::string first(data);
    if (first.find("StreamTitle=") != std::string::npos) {
        title = StreamTitleOf(first);
    } else {
        std::size_t offset = 0;
        std::string entry = first;
        while (!entry.empty()) {
            if (upperAscii(entry).find("TITLE=") != std::string::npos) {
                title = entry.size() > 6 ? entry.substr(6) : std::string();
                break;
            }
            if (!list) break;
            offset += entry.size() + 1;
            entry = std::string(data + offset);
        }
    }
    if (title.size() > kMaxTitle) title.resize(kMaxTitle);
    return title;
}

int32_t IcyBitRate(const std::string& header) {
    int64_t value = 0;
    std::size_t i = 7;
    while (i < header.size() && (header[i] == ' ' || header[i] == '\t')) ++i;
    for (; i < header.size(); ++i) {
        const char c = header[i];
        if (c < '0' || c > '9') break;
        value = value * 10 + (c - '0');
        if (value > INT32_MAX) return 0;  // not a bit rate
    }
    return static_cast<int32_t>(value);
}

std::string UrlFileName(const std::string& address) {
    // 1-based positions: search "/" from n - 6 down to 6; result p + 1 .. n - 4.
    const std::int64_t n = static_cast<std::int64_t>(address.size());
    for (std::int64_t p = n - 6; p >= 6; --p) {
        if (address[p - 1] != '/') continue;
        const std::int64_t first = p + 1, last = n - 4;
        if (last < first) return {};
        return address.substr(first - 1, last - first + 1);
    }
    return {};
}

int64_t RoundHalfEven(double value) {
    if (!std::isfinite(value) || std::fabs(value) > 9.0e18) return 0;
    return static_cast<int64_t>(std::nearbyint(value));
}

}  // namespace kav
