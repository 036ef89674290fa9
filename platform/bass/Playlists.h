// Links to playlists that stations publish instead of a stream: PLS, M3U
// (".m3u", and ".m3u8" in UTF-8) and XSPF. Which responses are playlists, and
// the stream addresses and titles they list. Pure functions of untrusted
// bytes: every result is bounded by the body it came from.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace kavbass {

enum class PlaylistKind { None, Pls, M3u, Xspf };

// What a response is: by its Content-Type (media type in any case, parameters
// ignored) when that names a playlist or audio, else by the extension of the
// address's path, else by the first bytes of its body.
PlaylistKind playlistKind(const std::string& contentType, const std::string& address,
                          const std::string& bodyStart);

struct PlaylistEntry {
    std::string location;  // as the list gives it, maybe relative
    std::string title;     // the entry's own, else the list's; may be empty
    bool operator==(const PlaylistEntry&) const = default;
};

// At most this many entries are taken from a list.
constexpr size_t kMaxPlaylistEntries = 64;

// The entries in the list's order (PLS: by their numbers), empty locations
// left out.
std::vector<PlaylistEntry> parsePlaylist(PlaylistKind kind, const std::string& body);

}  // namespace kavbass
