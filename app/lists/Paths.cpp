#include "Paths.h"

#include <array>

#include "platform/win/ProgramDir.h"

namespace paths {
namespace {

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

size_t schemeLength(std::string_view path) {
    static constexpr std::array<std::string_view, 4> schemes = {"http://", "https://", "ftp://",
                                                                "mms://"};
    for (auto scheme : schemes)
        if (startsWithNoCase(path, scheme)) return scheme.size();
    return 0;
}

}  // namespace

bool IsNetworkAddress(std::string_view path) {
    return schemeLength(path) != 0;
}

std::string ExtractFileName(const std::string& path) {
    size_t sep = path.rfind(win::PathDelim);
    return sep == std::string::npos ? path : path.substr(sep + 1);
}

std::string ExtractFileDir(const std::string& path) {
    size_t sep = path.rfind(win::PathDelim);
    return sep == std::string::npos ? std::string() : path.substr(0, sep);
}

std::string ExtractFileExt(const std::string& path) {
    std::string name = ExtractFileName(path);
    size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot);
}

std::string ExtractFileDrive(const std::string&) {
    return {};
}

bool HasDrive(std::string_view) {
    return false;
}

Entry SplitEntry(const std::string& path) {
    if (size_t scheme = schemeLength(path)) {
        size_t sep = path.rfind(win::PathDelim);
        if (sep < scheme || sep + 1 == path.size()) return {"", path};
    }
    return {ExtractFileDir(path), ExtractFileName(path)};
}

std::string JoinEntry(const std::string& dir, const std::string& name) {
    if (dir.empty() && IsNetworkAddress(name)) return name;
    return dir + win::PathDelim + name;
}

}  // namespace paths
