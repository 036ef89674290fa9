#include "NetAddress.h"

#include <algorithm>
#include <cctype>

namespace kavbass {

namespace {

// The five parts of a reference (RFC 3986, appendix B).
struct Parts {
    std::string scheme, authority, path, query;
    bool hasScheme = false, hasAuthority = false, hasQuery = false;
};

bool schemeChar(char c, bool first) {
    const auto u = static_cast<unsigned char>(c);
    return std::isalpha(u) || (!first && (std::isdigit(u) || c == '+' || c == '-' || c == '.'));
}

Parts split(const std::string& text) {
    Parts p;
    std::string rest = text.substr(0, text.find('#'));
    const size_t colon = rest.find(':');
    const size_t stop = rest.find_first_of("/?");
    if (colon != std::string::npos && colon > 0 && colon < stop) {
        bool ok = true;
        for (size_t i = 0; i < colon && ok; ++i) ok = schemeChar(rest[i], i == 0);
        if (ok) {
            p.hasScheme = true;
            p.scheme = rest.substr(0, colon);
            rest.erase(0, colon + 1);
        }
    }
    if (rest.compare(0, 2, "//") == 0) {
        const size_t end = rest.find_first_of("/?", 2);
        p.hasAuthority = true;
        p.authority = rest.substr(2, end == std::string::npos ? std::string::npos : end - 2);
        rest.erase(0, end == std::string::npos ? rest.size() : end);
    }
    const size_t q = rest.find('?');
    p.path = rest.substr(0, q);
    if (q != std::string::npos) {
        p.hasQuery = true;
        p.query = rest.substr(q + 1);
    }
    return p;
}

std::string lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// RFC 3986, 5.2.4: "." and ".." segments taken out of a path.
std::string removeDotSegments(std::string in) {
    std::string out;
    while (!in.empty()) {
        if (in.compare(0, 3, "../") == 0) {
            in.erase(0, 3);
        } else if (in.compare(0, 2, "./") == 0) {
            in.erase(0, 2);
        } else if (in.compare(0, 3, "/./") == 0) {
            in.erase(0, 2);
        } else if (in == "/.") {
            in = "/";
        } else if (in.compare(0, 4, "/../") == 0 || in == "/..") {
            in = "/" + in.substr(std::min<size_t>(in.size(), 4));
            const size_t last = out.rfind('/');
            out.erase(last == std::string::npos ? 0 : last);
        } else if (in == "." || in == "..") {
            in.clear();
        } else {
            const size_t next = in.find('/', 1);
            out += in.substr(0, next);
            in.erase(0, next == std::string::npos ? in.size() : next);
        }
    }
    return out;
}

// RFC 3986, 5.2.3: a relative path taken from the base path's folder.
std::string merge(const Parts& base, const std::string& path) {
    if (base.hasAuthority && base.path.empty()) return "/" + path;
    const size_t slash = base.path.rfind('/');
    return (slash == std::string::npos ? std::string() : base.path.substr(0, slash + 1)) + path;
}

std::string join(const Parts& p) {
    std::string out = p.scheme + ":";
    if (p.hasAuthority) out += "//" + p.authority;
    out += p.path;
    if (p.hasQuery) out += "?" + p.query;
    return out;
}

bool digits(const std::string& s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string trim(const std::string& s) {
    const size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

}  // namespace

bool parseAddress(const std::string& text, NetAddress& out) {
    // Whatever goes into a request line may not end it early.
    if (std::any_of(text.begin(), text.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }))
        return false;
    const Parts p = split(text);
    const std::string scheme = lower(p.scheme);
    if (!p.hasScheme || !p.hasAuthority || (scheme != "http" && scheme != "https")) return false;
    out = NetAddress{};
    out.tls = scheme == "https";
    // Credentials before the host are not sent: they are left out.
    const size_t at = p.authority.rfind('@');
    out.authority = at == std::string::npos ? p.authority : p.authority.substr(at + 1);
    std::string port;
    if (!out.authority.empty() && out.authority[0] == '[') {
        const size_t close = out.authority.find(']');
        if (close == std::string::npos) return false;
        out.host = out.authority.substr(1, close - 1);
        if (close + 1 < out.authority.size()) {
            if (out.authority[close + 1] != ':') return false;
            port = out.authority.substr(close + 2);
        }
    } else {
        const size_t colon = out.authority.rfind(':');
        out.host = out.authority.substr(0, colon);
        if (colon != std::string::npos) port = out.authority.substr(colon + 1);
    }
    out.port = port.empty() ? (out.tls ? "443" : "80") : port;
    out.target = p.path.empty() ? "/" : p.path;
    if (p.hasQuery) out.target += "?" + p.query;
    // A blank, as playlists sometimes leave one in an address, is sent encoded.
    for (size_t at = out.target.find(' '); at != std::string::npos; at = out.target.find(' ', at))
        out.target.replace(at, 1, "%20");
    return !out.host.empty() && digits(out.port) && out.port.size() <= 5;
}

std::string resolveReference(const std::string& baseText, const std::string& referenceText) {
    const std::string reference = trim(referenceText);
    const Parts r = split(reference);
    if (r.hasScheme) return reference.substr(0, reference.find('#'));
    const Parts base = split(baseText);
    if (!base.hasScheme) return {};
    Parts t;
    t.scheme = base.scheme;
    t.hasScheme = true;
    if (r.hasAuthority) {
        t.hasAuthority = true;
        t.authority = r.authority;
        t.path = removeDotSegments(r.path);
        t.hasQuery = r.hasQuery;
        t.query = r.query;
        return join(t);
    }
    t.hasAuthority = base.hasAuthority;
    t.authority = base.authority;
    if (r.path.empty()) {
        t.path = base.path;
        t.hasQuery = r.hasQuery || base.hasQuery;
        t.query = r.hasQuery ? r.query : base.query;
    } else {
        t.path = removeDotSegments(r.path[0] == '/' ? r.path : merge(base, r.path));
        t.hasQuery = r.hasQuery;
        t.query = r.query;
    }
    return join(t);
}

}  // namespace kavbass
