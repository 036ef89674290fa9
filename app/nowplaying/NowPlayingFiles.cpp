#include "NowPlayingFiles.h"

#include <cstdio>

#include "AsRun.h"

namespace nowplaying {
namespace {

// The length of the UTF-8 sequence at text[i], or 0 when none begins there.
size_t utf8Length(std::string_view text, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    size_t n = 0;
    unsigned min = 0;
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        n = 2, min = 0x80;
    else if (lead >= 0xE0 && lead <= 0xEF)
        n = 3, min = 0x800;
    else if (lead >= 0xF0 && lead <= 0xF4)
        n = 4, min = 0x10000;
    else
        return 0;
    if (i + n > text.size()) return 0;
    unsigned code = lead & (0xFF >> (n + 1));
    for (size_t k = 1; k < n; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        code = (code << 6) | (byte(i + k) & 0x3F);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return n;
}

void appendEscaped(std::string& out, unsigned char c) {
    switch (c) {
        case '"':
            out += "\\\"";
            return;
        case '\\':
            out += "\\\\";
            return;
        case '\n':
            out += "\\n";
            return;
        case '\r':
            out += "\\r";
            return;
        case '\t':
            out += "\\t";
            return;
        default:
            break;
    }
    if (c < 0x20) {
        char code[8];
        std::snprintf(code, sizeof code, "\\u%04x", c);
        out += code;
    } else {
        out += char(c);
    }
}

}  // namespace

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        const size_t n = utf8Length(text, i);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else if (n == 1) {
            appendEscaped(out, static_cast<unsigned char>(text[i++]));
        } else {
            out.append(text.substr(i, n));
            i += n;
        }
    }
    return out + "\"";
}

std::string NowPlayingJson(const Snapshot& now) {
    const Item none;
    const Item& i = now.playing ? now.item : none;
    std::string json = "{\n";
    auto add = [&json](const char* key, const std::string& value, bool last = false) {
        json += "  " + JsonString(key) + ": " + value + (last ? "\n" : ",\n");
    };
    add("estado", JsonString(now.playing ? "a tocar" : "parado"));
    add("titulo", JsonString(i.title));
    add("artista", JsonString(i.artist));
    add("ficheiro", JsonString(i.file));
    add("lista", JsonString(i.list));
    add("linha", std::to_string(i.row));
    add("inicio", JsonString(now.playing ? LocalTimeText(i.startMs) : ""));
    add("duracao_ms", std::to_string(i.lengthMs), true);
    return json + "}\n";
}

std::string NowPlayingText(const Snapshot& now) {
    std::string line = now.playing ? DisplayText(now.item) : std::string();
    for (char& c : line)
        if (c == '\r' || c == '\n') c = ' ';
    return line + "\n";
}

}  // namespace nowplaying
