// Text rules of stream opening: extensions, titles from addresses, network
// metadata and tag lists. Pure functions, safe on any thread.
#pragma once

#include <cstdint>
#include <string>

namespace kav {

// The extension, dot included, upper-cased (ASCII letters only): the text from
// the last full stop on; empty when there is none or a path separator or colon
// follows it.
std::string UpperExt(const std::string& path);

// The file name part of a path: everything after the last separator.
std::string ExtractFileName(const std::string& path);

// A network address begins with "http://", "https://", "ftp://" or "mms://"
// exactly (lower case).
bool IsNetworkAddress(const std::string& path);

// The title of Shoutcast metadata ("StreamTitle='...';..."); empty when the
// text holds no "StreamTitle=".
std::string StreamTitleOf(const std::string& meta);

// The first string of a tag list (NUL-separated, ended by an empty string; a
// null list is empty) that contains needle; empty when none. At most
// maxBytes bytes of the list are looked at.
std::string FindTagString(const char* list, const std::string& needle,
                          std::size_t maxBytes = 1 << 20);

// The metadata procedure's title: the stream title when the text holds
// "StreamTitle=", else, for a comment list, the first comment whose upper-cased
// form holds "TITLE=", from its 7th character on. At most 255 characters.
// list false: the data is a single NUL-terminated string and nothing past its
// end is read.
std::string MetaTitleFromData(const char* data, bool list);

// The bit rate of an "icy-br:" header string: the leading decimal digits from
// its 8th character on, blanks before them skipped ("icy-br: 128"); 0 when
// there are none.
int32_t IcyBitRate(const std::string& header);

// The last path segment of an address without its 4-character extension, as
// the title of a network file: ".../music/song.mp3" gives "song".
std::string UrlFileName(const std::string& address);

// Rounds to the nearest integer, halves to even.
int64_t RoundHalfEven(double value);

}  // namespace kav
