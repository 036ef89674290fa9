// How list entries are split into the grids' name and directory cells and put
// back together. Network addresses are kept whole: the row gives back exactly
// the address it was given.
#pragma once

#include <string>
#include <string_view>

namespace paths {

// "http://", "https://", "ftp://" or "mms://" (any case).
bool IsNetworkAddress(std::string_view path);

// The part after the last separator.
std::string ExtractFileName(const std::string& path);
// The part before the last separator, without a trailing separator.
std::string ExtractFileDir(const std::string& path);
// From the last dot of the last path component, the dot included; empty if none.
std::string ExtractFileExt(const std::string& path);
// The drive a rooted line is appended to; there is none on this platform.
std::string ExtractFileDrive(const std::string& path);
// A path that names its own drive and is taken as it stands.
bool HasDrive(std::string_view path);

struct Entry {
    std::string dir;
    std::string name;
};

// An entry's directory and file-name cells. An address that has no file-name
// part after its host ("http://host:8000/") goes whole into the name cell.
Entry SplitEntry(const std::string& path);
// The full path of an entry: the directory cell, a separator and the name cell,
// or the name cell alone when it holds a whole network address.
std::string JoinEntry(const std::string& dir, const std::string& name);

}  // namespace paths
