#include "Playlists.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <map>

namespace kavbass {

namespace {

std::string lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string trim(const std::string& s) {
    const size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

bool startsWith(const std::string& s, const std::string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

std::string withoutBom(const std::string& s) {
    return startsWith(s, "\xEF\xBB\xBF") ? s.substr(3) : s;
}

PlaylistKind kindOfType(const std::string& type) {
    for (const char* t : {"audio/x-scpls", "audio/scpls", "application/pls+xml"})
        if (type == t) return PlaylistKind::Pls;
    for (const char* t : {"audio/x-mpegurl", "audio/mpegurl", "application/x-mpegurl",
                          "application/mpegurl", "application/vnd.apple.mpegurl"})
        if (type == t) return PlaylistKind::M3u;
    return type == "application/xspf+xml" ? PlaylistKind::Xspf : PlaylistKind::None;
}

bool audioType(const std::string& type) {
    return startsWith(type, "audio/") || type == "application/ogg" || type == "application/x-ogg";
}

PlaylistKind kindOfPath(const std::string& address) {
    std::string path = address.substr(0, address.find_first_of("?#"));
    const size_t scheme = path.find("://");
    if (scheme != std::string::npos) {
        const size_t slash = path.find('/', scheme + 3);
        path = slash == std::string::npos ? std::string() : path.substr(slash);
    }
    const std::string name = lower(path.substr(path.rfind('/') + 1));
    const size_t dot = name.rfind('.');
    const std::string ext = dot == std::string::npos ? std::string() : name.substr(dot);
    if (ext == ".pls") return PlaylistKind::Pls;
    if (ext == ".m3u" || ext == ".m3u8") return PlaylistKind::M3u;
    return ext == ".xspf" ? PlaylistKind::Xspf : PlaylistKind::None;
}

PlaylistKind kindOfBody(const std::string& start) {
    const std::string text = lower(trim(withoutBom(start.substr(0, 1024))));
    if (startsWith(text, "[playlist]")) return PlaylistKind::Pls;
    if (startsWith(text, "#extm3u")) return PlaylistKind::M3u;
    if ((startsWith(text, "<?xml") || startsWith(text, "<playlist")) &&
        text.find("<playlist") != std::string::npos && text.find("xspf") != std::string::npos)
        return PlaylistKind::Xspf;
    return PlaylistKind::None;
}

std::vector<std::string> lines(const std::string& body) {
    std::vector<std::string> out;
    size_t at = 0;
    while (at < body.size()) {
        const size_t end = body.find_first_of("\r\n", at);
        out.push_back(body.substr(at, end == std::string::npos ? std::string::npos : end - at));
        if (end == std::string::npos) break;
        at = end + 1;
    }
    return out;
}

// "File12" with prefix "file" gives 12; false for anything else.
bool numberedKey(const std::string& key, const std::string& prefix, uint32_t& n) {
    if (!startsWith(key, prefix) || key.size() == prefix.size() || key.size() > prefix.size() + 9)
        return false;
    n = 0;
    for (size_t i = prefix.size(); i < key.size(); ++i) {
        if (key[i] < '0' || key[i] > '9') return false;
        n = n * 10 + static_cast<uint32_t>(key[i] - '0');
    }
    return true;
}

std::vector<PlaylistEntry> parsePls(const std::string& body) {
    std::map<uint32_t, PlaylistEntry> byNumber;
    for (const std::string& line : lines(body)) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = lower(trim(line.substr(0, eq)));
        const std::string value = trim(line.substr(eq + 1));
        uint32_t n = 0;
        if (numberedKey(key, "file", n) && byNumber[n].location.empty())
            byNumber[n].location = value;
        else if (numberedKey(key, "title", n) && byNumber[n].title.empty())
            byNumber[n].title = value;
        if (byNumber.size() > 4 * kMaxPlaylistEntries) break;
    }
    std::vector<PlaylistEntry> out;
    for (auto& [n, e] : byNumber)
        if (!e.location.empty()) out.push_back(std::move(e));
    return out;
}

std::vector<PlaylistEntry> parseM3u(const std::string& body) {
    std::vector<PlaylistEntry> out;
    std::string listTitle, pending;
    for (const std::string& raw : lines(body)) {
        const std::string line = trim(raw);
        if (line.empty()) continue;
        if (line[0] != '#') {
            out.push_back({line, pending.empty() ? listTitle : pending});
            pending.clear();
        } else if (startsWith(line, "#EXTINF:")) {
            const size_t comma = line.find(',');
            pending = comma == std::string::npos ? std::string() : trim(line.substr(comma + 1));
        } else if (startsWith(line, "#PLAYLIST:")) {
            listTitle = trim(line.substr(10));
        }
    }
    return out;
}

void appendUtf8(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | c >> 18);
        out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// "&#233;", "&#xE9;": false when it is no character reference.
bool numericReference(const std::string& name, uint32_t& c) {
    if (name.size() < 2 || name[0] != '#') return false;
    const bool hex = name[1] == 'x' || name[1] == 'X';
    const size_t from = hex ? 2 : 1;
    if (from == name.size() || name.size() - from > 8) return false;
    c = 0;
    for (size_t i = from; i < name.size(); ++i) {
        const auto u = static_cast<unsigned char>(name[i]);
        if (!(hex ? std::isxdigit(u) : std::isdigit(u))) return false;
        c = c * (hex ? 16 : 10) +
            static_cast<uint32_t>(std::isdigit(u) ? u - '0' : std::tolower(u) - 'a' + 10);
    }
    return c > 0 && c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
}

// An element's text: CDATA kept as it is, entities decoded, blanks trimmed.
std::string xmlText(const std::string& raw) {
    std::string out;
    for (size_t i = 0; i < raw.size();) {
        if (raw.compare(i, 9, "<![CDATA[") == 0) {
            const size_t end = raw.find("]]>", i + 9);
            out += raw.substr(i + 9, end == std::string::npos ? std::string::npos : end - i - 9);
            i = end == std::string::npos ? raw.size() : end + 3;
            continue;
        }
        const size_t semi = raw[i] == '&' ? raw.find(';', i) : std::string::npos;
        if (semi == std::string::npos || semi - i > 12) {
            out += raw[i++];
            continue;
        }
        const std::string name = raw.substr(i + 1, semi - i - 1);
        static const std::pair<const char*, char> named[] = {
            {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
        uint32_t c = 0;
        const auto* hit = std::find_if(std::begin(named), std::end(named),
                                       [&](const auto& n) { return name == n.first; });
        if (hit != std::end(named))
            out += hit->second;
        else if (numericReference(name, c))
            appendUtf8(out, c);
        else
            out += raw.substr(i, semi - i + 1);
        i = semi + 1;
    }
    return trim(out);
}

// The position of the next element named name (not one whose name only
// begins so) from at, npos when none.
size_t findElement(const std::string& text, const std::string& name, size_t at, size_t end) {
    const std::string open = "<" + name;
    for (size_t p = text.find(open, at); p != std::string::npos && p < end;
         p = text.find(open, p + 1)) {
        const size_t after = p + open.size();
        if (after < text.size() && (text[after] == '>' || text[after] == '/' ||
                                    std::isspace(static_cast<unsigned char>(text[after]))))
            return p;
    }
    return std::string::npos;
}

// The text of the first element named name within [at, end), empty when none.
std::string elementText(const std::string& text, const std::string& name, size_t at, size_t end) {
    const size_t p = findElement(text, name, at, end);
    if (p == std::string::npos) return {};
    const size_t open = text.find('>', p);
    if (open == std::string::npos || open >= end || text[open - 1] == '/') return {};
    const size_t close = text.find("</" + name, open);
    if (close == std::string::npos || close > end) return {};
    return xmlText(text.substr(open + 1, close - open - 1));
}

std::vector<PlaylistEntry> parseXspf(const std::string& body) {
    std::vector<PlaylistEntry> out;
    const size_t tracks = findElement(body, "trackList", 0, body.size());
    const std::string listTitle = elementText(body.substr(0, tracks), "title", 0,
                                              tracks == std::string::npos ? body.size() : tracks);
    for (size_t p = findElement(body, "track", 0, body.size()); p != std::string::npos;) {
        const size_t close = body.find("</track>", p);
        // Each track is looked at on its own, so no search runs past its end.
        const std::string track = body.substr(p, close == std::string::npos ? close : close - p);
        const std::string title = elementText(track, "title", 0, track.size());
        out.push_back(
            {elementText(track, "location", 0, track.size()), title.empty() ? listTitle : title});
        if (close == std::string::npos || out.size() > 4 * kMaxPlaylistEntries) break;
        p = findElement(body, "track", close, body.size());
    }
    return out;
}

}  // namespace

PlaylistKind playlistKind(const std::string& contentType, const std::string& address,
                          const std::string& bodyStart) {
    const std::string type = lower(trim(contentType.substr(0, contentType.find(';'))));
    if (const PlaylistKind k = kindOfType(type); k != PlaylistKind::None) return k;
    if (audioType(type)) return PlaylistKind::None;
    if (const PlaylistKind k = kindOfPath(address); k != PlaylistKind::None) return k;
    return kindOfBody(bodyStart);
}

std::vector<PlaylistEntry> parsePlaylist(PlaylistKind kind, const std::string& rawBody) {
    const std::string body = withoutBom(rawBody);
    std::vector<PlaylistEntry> all;
    if (kind == PlaylistKind::Pls) all = parsePls(body);
    if (kind == PlaylistKind::M3u) all = parseM3u(body);
    if (kind == PlaylistKind::Xspf) all = parseXspf(body);
    std::vector<PlaylistEntry> out;
    for (auto& e : all) {
        if (e.location.empty()) continue;
        out.push_back(std::move(e));
        if (out.size() == kMaxPlaylistEntries) break;
    }
    return out;
}

}  // namespace kavbass
