#include "platform/win/IniFile.h"

#include <charconv>
#include <filesystem>

#include "platform/win/AtomicFile.h"

namespace win {
namespace ini {
namespace {

struct Line {
    std::string text;  // without its line end
};

struct Document {
    std::vector<Line> lines;
    std::string eol = "\r\n";
    bool endsWithEol = true;
    bool bom = false;  // a UTF-8 byte-order mark before the first line, kept on writing
};

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

std::string_view trim(std::string_view s) {
    auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

bool equalNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

Document parse(std::string_view text) {
    Document doc;
    if (text.starts_with(kUtf8Bom)) {
        doc.bom = true;
        text.remove_prefix(kUtf8Bom.size());
    }
    size_t firstLf = text.find('\n');
    if (firstLf != std::string_view::npos && (firstLf == 0 || text[firstLf - 1] != '\r'))
        doc.eol = "\n";
    doc.endsWithEol = text.empty() || text.back() == '\n';
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        // Every CR before the LF belongs to the line end: a stray one kept in
        // the line would read differently once the file is written back.
        while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        doc.lines.push_back({std::string(line)});
        start = end + 1;
    }
    return doc;
}

bool isComment(std::string_view trimmed) {
    return !trimmed.empty() && (trimmed.front() == ';' || trimmed.front() == '#');
}

// The section a "[name]" line opens, or nothing for other lines.
std::optional<std::string_view> sectionName(std::string_view line) {
    std::string_view t = trim(line);
    if (t.empty() || t.front() != '[') return std::nullopt;
    t.remove_prefix(1);
    size_t close = t.find(']');
    if (close != std::string_view::npos) t = t.substr(0, close);
    return trim(t);
}

std::optional<std::string_view> keyName(std::string_view line) {
    std::string_view t = trim(line);
    if (isComment(t)) return std::nullopt;
    size_t eq = t.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    return trim(t.substr(0, eq));
}

struct Location {
    std::optional<size_t> header;  // line of the section's first "[name]"
    std::optional<size_t> key;     // line of the key within that section
    size_t lastContent = 0;        // last non-blank line of the section
};

Location locate(const Document& doc, std::string_view section, std::string_view key) {
    Location loc;
    bool inside = false;
    for (size_t i = 0; i < doc.lines.size(); ++i) {
        const std::string& line = doc.lines[i].text;
        if (auto name = sectionName(line)) {
            if (inside) break;  // the first section of that name is the one used
            inside = equalNoCase(*name, section);
            if (inside) loc.header = loc.lastContent = i;
            continue;
        }
        if (!inside) continue;
        if (!trim(line).empty()) loc.lastContent = i;
        auto name = keyName(line);
        if (name && equalNoCase(*name, key) && !loc.key) loc.key = i;
    }
    return loc;
}

std::string unquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return std::string(value);
}

// A line break inside a name or value would split it into lines of its own.
std::string singleLine(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c == '\r' || c == '\n') c = ' ';
    return out;
}

std::string serialize(const Document& doc) {
    std::string out(doc.bom ? kUtf8Bom : "");
    for (size_t i = 0; i < doc.lines.size(); ++i) {
        out += doc.lines[i].text;
        if (i + 1 < doc.lines.size() || doc.endsWithEol) out += doc.eol;
    }
    return out;
}

}  // namespace

std::optional<std::string> FindValue(std::string_view text, std::string_view section,
                                     std::string_view key) {
    Document doc = parse(text);
    Location loc = locate(doc, trim(section), trim(key));
    if (!loc.key) return std::nullopt;
    std::string_view line = doc.lines[*loc.key].text;
    return unquote(trim(line.substr(line.find('=') + 1)));
}

std::string SetValue(std::string_view text, std::string_view section, std::string_view key,
                     std::string_view value) {
    Document doc = parse(text);
    const std::string sec = singleLine(trim(section));
    const std::string name = singleLine(trim(key));
    const std::string entry = name + "=" + singleLine(value);
    Location loc = locate(doc, sec, name);
    if (loc.key) {
        doc.lines[*loc.key].text = entry;
    } else if (loc.header) {
        doc.lines.insert(doc.lines.begin() + long(loc.lastContent) + 1, {entry});
    } else {
        doc.lines.push_back({"[" + sec + "]"});
        doc.lines.push_back({entry});
    }
    doc.endsWithEol = true;
    return serialize(doc);
}

std::optional<int> ParseInteger(std::string_view text) {
    text = trim(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    int value = 0;
    auto [end, err] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || err != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

}  // namespace ini

namespace {
std::string fileText(const std::string& fileName) {
    std::string text;
    if (!ReadWholeFile(fileName, text)) text.clear();
    return text;
}
}  // namespace

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                const std::string& defaultValue) const {
    return ini::FindValue(fileText(fileName_), section, key).value_or(defaultValue);
}

int IniFile::ReadInteger(std::string_view section, std::string_view key, int defaultValue) const {
    auto value = ini::FindValue(fileText(fileName_), section, key);
    if (!value) return defaultValue;
    return ini::ParseInteger(*value).value_or(defaultValue);
}

bool IniFile::ReadBool(std::string_view section, std::string_view key, bool defaultValue) const {
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

bool IniFile::ValueExists(std::string_view section, std::string_view key) const {
    return ini::FindValue(fileText(fileName_), section, key).has_value();
}

bool IniFile::readForWriting(std::string& text, std::string* error) const {
    // A file that exists but cannot be read is left alone rather than replaced
    // by one holding only the values written.
    std::error_code ec;
    return ReadWholeFile(fileName_, text, error) || !std::filesystem::exists(fileName_, ec);
}

bool IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value,
                          std::string* error) {
    return WriteValues({{std::string(section), std::string(key), std::string(value)}}, error);
}

bool IniFile::WriteValues(const std::vector<IniValue>& values, std::string* error, bool flush) {
    std::string text;
    if (!readForWriting(text, error)) return false;
    for (const IniValue& v : values) text = ini::SetValue(text, v.section, v.key, v.value);
    return flush ? WriteFileAtomic(fileName_, text, error)
                 : ReplaceFileUnflushed(fileName_, text, error);
}

bool IniFile::WriteInteger(std::string_view section, std::string_view key, int value,
                           std::string* error) {
    return WriteString(section, key, std::to_string(value), error);
}

bool IniFile::WriteBool(std::string_view section, std::string_view key, bool value,
                        std::string* error) {
    return WriteString(section, key, value ? "1" : "0", error);
}

}  // namespace win
