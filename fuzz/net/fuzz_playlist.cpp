// The playlist-link parsers (PLS, M3U, XSPF) and what decides what a response
// is. The first byte chooses the kind, the rest is the body. Entries are
// bounded by what was given, and where each leads from the list's address is
// an address or nothing. The MPEG frame search sees the same bytes.
#include <cstdlib>
#include <string>

#include "NetAddress.h"
#include "Playlists.h"
#include "StreamFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kavbass;
    if (size < 1) return 0;
    const std::string body(reinterpret_cast<const char*>(data + 1), size - 1);
    const auto kind = static_cast<PlaylistKind>(1 + data[0] % 3);
    const std::vector<PlaylistEntry> entries = parsePlaylist(kind, body);
    if (entries.size() > kMaxPlaylistEntries) std::abort();
    for (const PlaylistEntry& e : entries) {
        if (e.location.empty() || e.location.size() > body.size() || e.title.size() > body.size())
            std::abort();
        const std::string base = "http://127.0.0.1:8000/dir/list.pls?x=1";
        const std::string target = resolveReference(base, e.location);
        if (target.size() > base.size() + e.location.size()) std::abort();
        NetAddress address;
        if (parseAddress(target, address) && (address.host.empty() || address.target.empty()))
            std::abort();
    }
    const std::string type = body.substr(0, body.find('\n'));
    playlistKind(type, "http://h/" + type, body);
    streamFormat(type, body);
    // Frames found in the first half of the bytes are found in all of them.
    if (streamFormat("", body.substr(0, body.size() / 2)) == "mp3" &&
        streamFormat("", body) != "mp3")
        std::abort();
    return 0;
}
