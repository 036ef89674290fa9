// What the network feed reads from untrusted text before any audio: where a
// redirect or a playlist entry leads, which responses are playlists and what
// they list, and which demuxer reads a stream that starts anywhere.
#include <gtest/gtest.h>

#include "Fixtures.h"
#include "NetAddress.h"
#include "Playlists.h"
#include "StreamFormat.h"

using namespace kavbass;

namespace kavbass {
void PrintTo(const PlaylistEntry& e, std::ostream* os) {
    *os << "{" << testing::PrintToString(e.location) << ", " << testing::PrintToString(e.title)
        << "}";
}
}  // namespace kavbass

// RFC 3986, 5.4: the reference resolution examples, with http as the scheme,
// and the forms redirects take.
TEST(Links, ReferencesResolveAsRfc3986Says) {
    const std::string base = "http://a/b/c/d;p?q";
    const std::pair<const char*, const char*> cases[] = {
        {"g", "http://a/b/c/g"},
        {"./g", "http://a/b/c/g"},
        {"g/", "http://a/b/c/g/"},
        {"/g", "http://a/g"},
        {"//g", "http://g"},
        {"?y", "http://a/b/c/d;p?y"},
        {"g?y", "http://a/b/c/g?y"},
        {"#s", "http://a/b/c/d;p?q"},
        {"g#s", "http://a/b/c/g"},
        {";x", "http://a/b/c/;x"},
        {"", "http://a/b/c/d;p?q"},
        {".", "http://a/b/c/"},
        {"./", "http://a/b/c/"},
        {"..", "http://a/b/"},
        {"../g", "http://a/b/g"},
        {"../..", "http://a/"},
        {"../../g", "http://a/g"},
        {"../../../g", "http://a/g"},
        {"/./g", "http://a/g"},
        {"/../g", "http://a/g"},
        {"g.", "http://a/b/c/g."},
        {"..g", "http://a/b/c/..g"},
        {"./../g", "http://a/b/g"},
        {"g/./h", "http://a/b/c/g/h"},
        {"g/../h", "http://a/b/c/h"},
        {"g;x=1/../y", "http://a/b/c/y"},
        {"https://other:8443/live", "https://other:8443/live"},
        {"  /live \r", "http://a/live"},
    };
    for (const auto& [ref, want] : cases) EXPECT_EQ(resolveReference(base, ref), want) << ref;
    EXPECT_EQ(resolveReference("http://host:8000", "live"), "http://host:8000/live");
    EXPECT_EQ(resolveReference("https://host/list.pls", "/mount"), "https://host/mount");
    EXPECT_EQ(resolveReference("not an address", "/x"), "");
}

TEST(Links, AddressesSplitIntoTheirPartsAndBadOnesAreRefused) {
    struct Case {
        const char* text;
        bool ok;
        bool tls = false;
        const char* host = "";
        const char* port = "";
        const char* authority = "";
        const char* target = "";
    };
    const Case cases[] = {
        {"http://host/live", true, false, "host", "80", "host", "/live"},
        {"https://host/live?x=1#frag", true, true, "host", "443", "host", "/live?x=1"},
        {"HTTPS://Host:8443", true, true, "Host", "8443", "Host:8443", "/"},
        {"http://user:pw@host:8000/a", true, false, "host", "8000", "host:8000", "/a"},
        {"http://[::1]:8000/a", true, false, "::1", "8000", "[::1]:8000", "/a"},
        {"http://[::1]/a", true, false, "::1", "80", "[::1]", "/a"},
        {"http://host:/a", true, false, "host", "80", "host:", "/a"},
        {"http://host/a b/c d.mp3?x y", true, false, "host", "80", "host",
         "/a%20b/c%20d.mp3?x%20y"},
        {"http://host/live\r\nX-Injected: 1", false},
        {"http://host/live\x7F", false},
        {"ftp://host/a", false},
        {"http:/host/a", false},
        {"http://:80/a", false},
        {"http://host:port/a", false},
        {"http://host:123456/a", false},
        {"http://[::1/a", false},
        {"/local/file.mp3", false},
    };
    for (const Case& c : cases) {
        NetAddress a;
        ASSERT_EQ(parseAddress(c.text, a), c.ok) << c.text;
        if (!c.ok) continue;
        EXPECT_EQ(a.tls, c.tls) << c.text;
        EXPECT_EQ(a.host, c.host) << c.text;
        EXPECT_EQ(a.port, c.port) << c.text;
        EXPECT_EQ(a.authority, c.authority) << c.text;
        EXPECT_EQ(a.target, c.target) << c.text;
    }
}

TEST(Links, PlaylistsAreKnownByTypeThenByNameThenByTheirFirstBytes) {
    struct Case {
        const char* type;
        const char* address;
        const char* body;
        PlaylistKind kind;
    };
    const Case cases[] = {
        {"audio/x-scpls", "http://h/x", "", PlaylistKind::Pls},
        {"Audio/X-MpegURL; charset=utf-8", "http://h/x", "", PlaylistKind::M3u},
        {"application/vnd.apple.mpegurl", "http://h/x", "", PlaylistKind::M3u},
        {"application/xspf+xml", "http://h/x", "", PlaylistKind::Xspf},
        {"text/plain", "http://h/radio.PLS", "", PlaylistKind::Pls},
        {"", "http://h/radio.m3u8?session=1", "", PlaylistKind::M3u},
        {"application/octet-stream", "http://h/a/radio.xspf", "", PlaylistKind::Xspf},
        {"audio/mpeg", "http://h/live.m3u", "", PlaylistKind::None},
        {"application/ogg", "http://h/live.pls", "", PlaylistKind::None},
        {"text/plain", "http://h/listen", "\xEF\xBB\xBF [Playlist]\r\nFile1=x", PlaylistKind::Pls},
        {"", "http://h/listen", "\n#EXTM3U\nhttp://x", PlaylistKind::M3u},
        {"text/xml", "http://h/listen",
         "<?xml version=\"1.0\"?><playlist xmlns=\"http://xspf.org/ns/0/\">", PlaylistKind::Xspf},
        {"", "http://h/m3u.d/stream", "\xFF\xFB\x90\x00", PlaylistKind::None},
        {"", "http://h.pls/stream", "", PlaylistKind::None},
        {"text/html", "http://h/listen", "<html>#EXTM3U", PlaylistKind::None},
    };
    for (const Case& c : cases)
        EXPECT_EQ(playlistKind(c.type, c.address, c.body), c.kind) << c.type << " " << c.address;
}

TEST(Links, PlaylistsListTheirStreamsInOrderWithTheirTitles) {
    struct Case {
        const char* name;
        PlaylistKind kind;
        std::string body;
        std::vector<PlaylistEntry> entries;
    };
    const std::vector<Case> cases = {
        {"pls, numbered out of order, CR LF, odd case",
         PlaylistKind::Pls,
         "[playlist]\r\nnumberofentries=3\r\nFile2=http://b/live\r\nTitle2=Two\r\n"
         "file1 = http://a/live \r\nTITLE1=One\r\nFile3=\r\nLength1=-1\r\nVersion=2\r\n",
         {{"http://a/live", "One"}, {"http://b/live", "Two"}}},
        {"pls with a BOM and a line without =",
         PlaylistKind::Pls,
         "\xEF\xBB\xBF[playlist]\nnonsense\nFile1=/relative\n",
         {{"/relative", ""}}},
        {"m3u with EXTINF titles and a list title",
         PlaylistKind::M3u,
         "#EXTM3U\n#PLAYLIST:Radio\n#EXTINF:-1,Main, the mount\nhttp://a/live\n\n"
         "# a comment\nhttp://b/live\r\n#EXTINF:-1\nc.mp3\n",
         {{"http://a/live", "Main, the mount"}, {"http://b/live", "Radio"}, {"c.mp3", "Radio"}}},
        {"m3u8 in UTF-8, CR line ends",
         PlaylistKind::M3u,
         "\xEF\xBB\xBF#EXTM3U\r#EXTINF:0,R\xC3\xA1"
         "dio\rhttps://a/live\r",
         {{"https://a/live",
           "R\xC3\xA1"
           "dio"}}},
        {"xspf with entities, CDATA and a list title",
         PlaylistKind::Xspf,
         "<?xml version=\"1.0\"?>\n<playlist version=\"1\" xmlns=\"http://xspf.org/ns/0/\">"
         "<title>Station &amp; Co</title><trackList>"
         "<track><location>http://a/live?x=1&amp;y=2</location><title>One &#233;&#x263A;"
         "</title></track>"
         "<track>\n <location><![CDATA[http://b/live]]></location>\n</track>"
         "<track><title>no location</title></track>"
         "<track><location/></track>"
         "</trackList></playlist>",
         {{"http://a/live?x=1&y=2", "One \xC3\xA9\xE2\x98\xBA"},
          {"http://b/live", "Station & Co"}}},
        {"xspf cut short inside a track",
         PlaylistKind::Xspf,
         "<playlist><trackList><track><location>http://a/live</location><title>T",
         {{"http://a/live", ""}}},
        {"nothing at all", PlaylistKind::M3u, "", {}},
    };
    for (const Case& c : cases) EXPECT_EQ(parsePlaylist(c.kind, c.body), c.entries) << c.name;
}

TEST(Links, AListGivesAtMostItsLimitOfEntries) {
    std::string body;
    for (size_t i = 0; i < 3 * kMaxPlaylistEntries; ++i)
        body += "http://h/" + std::to_string(i) + "\n";
    const auto entries = parsePlaylist(PlaylistKind::M3u, body);
    ASSERT_EQ(entries.size(), kMaxPlaylistEntries);
    EXPECT_EQ(entries.back().location, "http://h/" + std::to_string(kMaxPlaylistEntries - 1));
}

// A live MP3 stream begins wherever the listener joined: its frames are
// found from any byte on, and the server's type decides before any byte.
TEST(Links, Mp3StreamsAreKnownFromAnyByteOnAndByTheirType) {
    const std::string mp3 = bass_test::readFile(
        bass_test::encode(bass_test::makeToneWav("sniff.wav", 1.0, 440), "mp3", "--nores -t"));
    ASSERT_GT(mp3.size(), 10000u);
    for (size_t offset : {0, 1, 417, 1000, 5003}) {
        const std::string body = mp3.substr(offset, 8192);
        EXPECT_TRUE(hasMpegFrameRun(reinterpret_cast<const uint8_t*>(body.data()), body.size()))
            << offset;
        EXPECT_EQ(streamFormat("", body), "mp3") << offset;
        EXPECT_EQ(streamFormat("application/octet-stream", body), "mp3") << offset;
    }
    // Fewer whole frames than a run needs is no proof.
    EXPECT_EQ(streamFormat("", mp3.substr(1, 3 * 418)), "");
    std::string noise(8192, '\0');
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>(i * 7919 % 251);
    const struct {
        const char* type;
        std::string body;
        const char* format;
    } cases[] = {
        {"audio/mpeg", "", "mp3"},
        {"Audio/MPEG; charset=x", noise, "mp3"},
        {"application/ogg", "", "ogg"},
        {"audio/mpeg", "OggS\0\x02", "ogg"},
        {"audio/mpeg", "RIFF....WAVE", ""},
        {"application/octet-stream", "ID3\x04\x00", "mp3"},
        {"", noise, ""},
        {"audio/aac", noise, ""},
    };
    for (const auto& c : cases) EXPECT_EQ(streamFormat(c.type, c.body), c.format) << c.type;
}
