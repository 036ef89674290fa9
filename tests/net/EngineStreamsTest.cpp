// The player opening and playing streams as stations publish them, from
// servers of the test on 127.0.0.1, heard through the null output's capture:
// live MP3 that starts anywhere, HTTPS, relative redirects, playlist links
// and servers slower than real time.
#include <gtest/gtest.h>

#include <cstdio>

#include "EngineTestSupport.h"
#include "KavProgram.h"
#include "RadioServer.h"
#include "StreamAudio.h"
#include "TlsFront.h"

using namespace nettest;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

LiveStream toneStream(int freq) {
    LiveStream s;
    s.audio = mp3Tone(freq);
    return s;
}

// The null output captures what the players made meanwhile play.
class Listening {
  public:
    explicit Listening(const std::string& name)
        : path_(enginetest::TempDir() + "/" + name + ".wav"), env_("KAV_CAPTURE_WAV", path_) {}
    std::vector<Heard> tones(int freq) const {
        bass_test::Capture c;
        std::vector<Heard> out;
        if (c.load(path_))
            for (const Heard& h : heardTones(c))
                if (h.freq == freq) out.push_back(h);
        return out;
    }

  private:
    std::string path_;
    ScopedEnv env_;
};

double seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

class EngineStreams : public ::testing::Test {
  protected:
    void SetUp() override { enginetest::UseNullOutput(); }

    // Opens url, timing it; then plays it for about playFor.
    bool openAndPlay(TBASSPlayer& player, const std::string& url, double& openSeconds,
                     std::chrono::milliseconds playFor = 2000ms) {
        const auto t = Clock::now();
        if (!player.OpenStream(url)) return false;
        openSeconds = seconds(t);
        player.StartPlayback();
        enginetest::PumpUntil([&] { return player.PositionMs() >= playFor.count(); }, playFor + 4s);
        return true;
    }
    std::string lastBox() const { return boxes.boxes.empty() ? "" : boxes.boxes.back().text; }

    enginetest::BoxRecorder boxes;
};

}  // namespace

// Icecast's MP3 mounts begin wherever the listener joins. The server's type
// says MP3; without one, the frames found from any byte on do.
TEST_F(EngineStreams, AnMp3StreamStartingAnywhereOpensWithinASecondAndPlays) {
    struct Case {
        size_t offset;
        const char* status;
        const char* type;
    };
    const Case cases[] = {
        {1, "ICY 200 OK", "audio/mpeg"},
        {417, "ICY 200 OK", "audio/mpeg"},
        {1000, "ICY 200 OK", "audio/mpeg"},
        {1000, "HTTP/1.0 200 OK", ""},
        {417, "HTTP/1.0 200 OK", "application/octet-stream"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.offset) + " " + c.type);
        LiveStream live = toneStream(440);
        live.status = c.status;
        live.contentType = c.type;
        live.offset = c.offset;
        live.burstSeconds = 1;  // less than a probe of the bytes would need
        live.metaint = 8192;
        live.title = [](double) { return "Joined late"; };
        RadioServer server;
        server.route("/live", [live](Reply& r, const Request& q) { serveLive(r, q, live); });
        Listening listening("mp3-at-" + std::to_string(c.offset) + "-" +
                            std::to_string(std::string(c.type).size()));
        double opened = 0;
        {
            TBASSPlayer player;
            ASSERT_TRUE(openAndPlay(player, server.url("/live"), opened)) << lastBox();
            EXPECT_EQ(player.StreamInfo().Title, "Joined late");
            EXPECT_EQ(player.StreamInfo().SampleRate, 44100);
        }
        std::printf("[ timing   ] starting at byte %zu (%s): opened in %.3f s\n", c.offset, c.type,
                    opened);
        EXPECT_LT(opened, 1.0);
        const auto heard = listening.tones(440);
        ASSERT_EQ(heard.size(), 1u) << describe(heard);
        EXPECT_GT(heard[0].end - heard[0].start, 1.5);
    }
    EXPECT_TRUE(boxes.boxes.empty()) << lastBox();
}

TEST_F(EngineStreams, AnHttpsStreamPlaysWithItsTitles) {
    RadioServer backend;
    LiveStream live = toneStream(550);
    live.status = "ICY 200 OK";
    live.extraHeaders = "icy-br:128\r\n";
    live.metaint = 8192;
    live.title = [](double second) { return second < 4 ? "First" : "Second"; };
    backend.route("/live", [live](Reply& r, const Request& q) { serveLive(r, q, live); });
    TlsFront front(backend.port(), Certificates().cert, Certificates().key);
    ScopedEnv ca("SSL_CERT_FILE", Certificates().trustedAuthority);
    Listening listening("https");
    std::vector<std::string> titles;
    {
        TBASSPlayer player;
        player.OnGetMeta = [&](TBASSPlayer*, const std::string& t) { titles.push_back(t); };
        ASSERT_TRUE(player.OpenStream(front.url("/live"))) << lastBox();
        EXPECT_EQ(player.StreamInfo().Title, "First");
        EXPECT_EQ(player.StreamInfo().BitRate, 128);
        player.StartPlayback();
        EXPECT_TRUE(enginetest::PumpUntil([&] { return !titles.empty(); }, 15s));
        EXPECT_EQ(player.StreamInfo().Title, "Second");
        // The title comes when the feed reads second 4, about 2 s into what is
        // heard: played on past that, so what is heard is more than 2 s.
        EXPECT_TRUE(enginetest::PumpUntil([&] { return player.PositionMs() >= 3000; }, 10s));
    }
    // The open's probe of the feed may stop before the first metadata block
    // (it reads what has come, and under load less has): its title, which
    // the open already gave, is then told again once its audio is reached.
    const std::vector<std::string> told = titles;
    if (!titles.empty() && titles.front() == "First") titles.erase(titles.begin());
    EXPECT_EQ(titles, std::vector<std::string>{"Second"}) << told.size() << " titles told";
    const auto heard = listening.tones(550);
    ASSERT_FALSE(heard.empty());
    EXPECT_GT(heard.back().end - heard.front().start, 2.0);
    EXPECT_TRUE(boxes.boxes.empty()) << lastBox();
}

// A certificate from an authority nobody trusts, or one the system's
// authorities do not know (SSL_CERT_FILE unset): the open fails within 5 s,
// the box names the address and standard error says why; the server was
// asked nothing.
TEST_F(EngineStreams, AnHttpsStreamWhoseCertificateDoesNotCheckOutFailsInTime) {
    RadioServer backend;
    backend.route("/live", [](Reply& r, const Request& q) { serveLive(r, q, toneStream(550)); });
    TlsFront stranger(backend.port(), Certificates().strangerCert, Certificates().strangerKey);
    TlsFront known(backend.port(), Certificates().cert, Certificates().key);
    const struct {
        std::string url, caFile;
    } cases[] = {{stranger.url("/live"), Certificates().trustedAuthority},
                 {known.url("/live"), ""}};
    TBASSPlayer player;
    for (const auto& c : cases) {
        ScopedEnv ca("SSL_CERT_FILE", c.caFile);
        bool opened = true;
        const auto t = Clock::now();
        const std::string errors = stderrOf([&] { opened = player.OpenStream(c.url); });
        const double took = seconds(t);
        std::printf("[ timing   ] untrusted certificate: refused in %.2f s\n", took);
        EXPECT_FALSE(opened) << c.url;
        EXPECT_LT(took, 5.0) << c.url;
        EXPECT_EQ(lastBox(), "Can't play the specified URL stream : " + c.url);
        EXPECT_NE(errors.find(c.url + ": "), std::string::npos) << errors;
        EXPECT_NE(errors.find("certificate"), std::string::npos) << errors;
    }
    EXPECT_EQ(backend.hits("/live"), 0);
}

// Location relative to the address that gave it (RFC 9110, 10.2.2), over
// one hop or two; a loop of redirects fails within the open's bound.
TEST_F(EngineStreams, RelativeRedirectsAreFollowed) {
    RadioServer server;
    server.route("/radio/live",
                 [](Reply& r, const Request& q) { serveLive(r, q, toneStream(660)); });
    const std::pair<const char*, std::string> redirects[] = {
        {"/a", "/radio/live"},
        {"/radio/b", "live"},
        {"/radio/sub/c", "../live?from=c"},
        {"/d", "//127.0.0.1:" + std::to_string(server.port()) + "/radio/live"},
        {"/e", "/radio/b"},
    };
    for (const auto& [from, to] : redirects)
        server.answer(from, "HTTP/1.0 302 Found\r\nLocation: " + to, "");
    server.answer("/radio/live?from=c", "HTTP/1.0 301 Moved\r\nLocation: /radio/live", "");
    server.answer("/loop1", "HTTP/1.1 307 Temporary Redirect\r\nLocation: loop2", "");
    server.answer("/loop2", "HTTP/1.1 307 Temporary Redirect\r\nLocation: loop1", "");
    Listening listening("redirects");
    {
        TBASSPlayer player;
        for (const auto& [from, to] : redirects) {
            double opened = 0;
            ASSERT_TRUE(openAndPlay(player, server.url(from), opened, 600ms)) << from;
            EXPECT_LT(opened, 1.0) << from;
            EXPECT_EQ(player.StreamInfo().SampleRate, 44100) << from;
        }
        const auto t = Clock::now();
        EXPECT_FALSE(player.OpenStream(server.url("/loop1")));
        EXPECT_LT(seconds(t), 5.0);
    }
    EXPECT_EQ(server.hits("/radio/live"), 5);
    const auto heard = listening.tones(660);
    ASSERT_FALSE(heard.empty());
    double total = 0;
    for (const Heard& h : heard) total += h.end - h.start;
    EXPECT_GT(total, 2.5) << describe(heard);
}

namespace {

struct LinkCase {
    const char* path;
    const char* type;
    std::string (*body)(const std::string& first, const std::string& second);
};

std::string plsBody(const std::string& a, const std::string& b) {
    return "[playlist]\r\nNumberOfEntries=2\r\nFile1=" + a + "\r\nTitle1=Radio One\r\nFile2=" + b +
           "\r\nTitle2=Radio Two\r\nVersion=2\r\n";
}
std::string m3uBody(const std::string& a, const std::string& b) {
    return "#EXTM3U\n#EXTINF:-1,Radio One\n" + a + "\n#EXTINF:-1,Radio Two\n" + b + "\n";
}
std::string m3u8Body(const std::string& a, const std::string& b) {
    return "\xEF\xBB\xBF#EXTM3U\r\n#EXTINF:-1,Radio One\r\n" + a + "\r\n#EXTINF:-1,Radio Two\r\n" +
           b + "\r\n";
}
std::string xspfBody(const std::string& a, const std::string& b) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<playlist version=\"1\" xmlns=\"http://xspf.org/ns/0/\"><trackList>\n"
           "<track><location>" +
           a +
           "</location><title>Radio One</title></track>\n"
           "<track><location>" +
           b +
           "</location><title>Radio Two</title></track>\n"
           "</trackList></playlist>\n";
}

const LinkCase kLinks[] = {
    {"/radio.pls", "audio/x-scpls", plsBody},
    {"/radio.m3u", "audio/x-mpegurl", m3uBody},
    {"/radio.m3u8", "application/vnd.apple.mpegurl", m3u8Body},
    {"/radio.xspf", "application/xspf+xml", xspfBody},
};

}  // namespace

// Each kind of link plays its first entry, or the second when the first is
// dead; the list's title is the stream's until the stream sends its own. A
// list with no stream that plays fails like a dead server.
TEST_F(EngineStreams, PlaylistLinksPlayTheirFirstLiveEntry) {
    RadioServer streams;
    streams.route("/one", [](Reply& r, const Request& q) { serveLive(r, q, toneStream(770)); });
    LiveStream titled = toneStream(880);
    titled.metaint = 8192;
    titled.title = [](double second) { return second < 3 ? "" : "From the stream"; };
    streams.route("/two", [titled](Reply& r, const Request& q) { serveLive(r, q, titled); });
    const std::string dead = "http://127.0.0.1:" + std::to_string(closedPort()) + "/gone";
    RadioServer lists;
    for (const LinkCase& link : kLinks) {
        const std::string head = std::string("HTTP/1.0 200 OK\r\nContent-Type: ") + link.type;
        lists.answer(link.path, head, link.body(streams.url("/one"), streams.url("/two")));
        lists.answer(std::string("/dead-first") + link.path, head,
                     link.body(dead, streams.url("/two")));
        lists.answer(std::string("/all-dead") + link.path, head, link.body(dead, dead));
    }
    Listening listening("links");
    TBASSPlayer player;
    for (const LinkCase& link : kLinks) {
        SCOPED_TRACE(link.path);
        double opened = 0;
        ASSERT_TRUE(openAndPlay(player, lists.url(link.path), opened, 500ms)) << lastBox();
        EXPECT_EQ(player.StreamInfo().Title, "Radio One");
        EXPECT_EQ(player.StreamInfo().FileName, lists.url(link.path));
        EXPECT_LT(opened, 1.0);
        ASSERT_TRUE(
            openAndPlay(player, lists.url("/dead-first" + std::string(link.path)), opened, 500ms))
            << lastBox();
        EXPECT_EQ(player.StreamInfo().Title, "Radio Two");
        EXPECT_LT(opened, 1.0);
        const std::string allDead = lists.url("/all-dead" + std::string(link.path));
        const auto t = Clock::now();
        EXPECT_FALSE(player.OpenStream(allDead));
        EXPECT_LT(seconds(t), 5.0);
        EXPECT_EQ(lastBox(), "Can't play the specified URL stream : " + allDead);
    }
    // The stream's own title replaces the list's once it comes.
    std::vector<std::string> titles;
    player.OnGetMeta = [&](TBASSPlayer*, const std::string& t) { titles.push_back(t); };
    ASSERT_TRUE(player.OpenStream(lists.url("/dead-first/radio.pls")));
    player.StartPlayback();
    EXPECT_TRUE(enginetest::PumpUntil([&] { return !titles.empty(); }, 10s));
    EXPECT_EQ(player.StreamInfo().Title, "From the stream");
    player.StopPlayback();
    EXPECT_FALSE(listening.tones(770).empty());
    EXPECT_FALSE(listening.tones(880).empty());
    EXPECT_EQ(streams.hits("/one"), 4);
}

namespace {

// Plays a live stream until its end is told or limit passes; the seconds
// from the start to its end, or -1.
double playToEnd(TBASSPlayer& player, const std::string& url, std::chrono::seconds limit) {
    bool ended = false;
    player.OnPlayEnd = [&](TBASSPlayer*) { ended = true; };
    if (!player.OpenStream(url)) return -1;
    const auto start = Clock::now();
    player.StartPlayback();
    enginetest::PumpUntil([&] { return ended; }, limit);
    return ended ? seconds(start) : -1;
}

}  // namespace

// Half the real-time rate: a clean pause each time it runs dry (at most
// three), then the stream ends as a dead one does.
TEST_F(EngineStreams, AStreamAtHalfRateEndsAfterAtMostThreePauses) {
    RadioServer server;
    LiveStream slow = toneStream(440);
    slow.pace = [](double) { return 0.5; };
    server.route("/slow", [slow](Reply& r, const Request& q) { serveLive(r, q, slow); });
    Listening listening("half-rate");
    double endedAfter = -1;
    {
        TBASSPlayer player;
        endedAfter = playToEnd(player, server.url("/slow"), 60s);
    }
    std::printf("[ timing   ] half rate: the end came after %.1f s\n", endedAfter);
    EXPECT_GT(endedAfter, 0);
    EXPECT_LT(endedAfter, 40);
    const auto heard = listening.tones(440);
    ASSERT_FALSE(heard.empty());
    EXPECT_LE(heard.size(), 4u) << describe(heard);
    for (size_t i = 1; i < heard.size(); ++i)
        EXPECT_GT(heard[i].start - heard[i - 1].end, 1.0) << describe(heard);
}

// Slow for 10 s, at half rate, then real time again: one pause, and the
// stream plays on.
TEST_F(EngineStreams, AStreamBrieflySlowPausesOnceAndPlaysOn) {
    RadioServer server;
    LiveStream dip = toneStream(440);
    dip.burstSeconds = 4.5;
    dip.pace = [](double t) { return t >= 3 && t < 13 ? 0.5 : 1.0; };
    dip.seconds = 26;
    server.route("/dip", [dip](Reply& r, const Request& q) { serveLive(r, q, dip); });
    Listening listening("brief-dip");
    bool ended = false;
    {
        TBASSPlayer player;
        player.OnPlayEnd = [&](TBASSPlayer*) { ended = true; };
        ASSERT_TRUE(player.OpenStream(server.url("/dip")));
        player.StartPlayback();
        enginetest::PumpUntil([&] { return ended; }, 21s);
    }
    EXPECT_FALSE(ended);
    const auto heard = listening.tones(440);
    ASSERT_EQ(heard.size(), 2u) << describe(heard);
    const double pause = heard[1].start - heard[0].end;
    std::printf("[ timing   ] briefly slow: one pause of %.2f s\n", pause);
    EXPECT_GT(pause, 1.0);
    EXPECT_LT(pause, 4.0);
    EXPECT_GT(heard[1].end - heard[1].start, 3.0);
}
