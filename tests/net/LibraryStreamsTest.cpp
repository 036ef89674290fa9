// The audio library on streams as stations publish them (servers of the test
// on 127.0.0.1), through its own calls: the TLS connection and its deadline,
// playlist links, and how a live stream that runs dry is heard. Run under
// ThreadSanitizer too: a feed's thread, the worker and the output meet here.
#include <gtest/gtest.h>

#include <cstdio>

#include "KavProgram.h"
#include "RadioServer.h"
#include "Session.h"
#include "StreamAudio.h"
#include "StreamChecks.h"
#include "TlsFront.h"
#include "tests/support/Capture.h"

using namespace nettest;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

LiveStream toneStream(int freq) {
    LiveStream s;
    s.audio = mp3Tone(freq);
    return s;
}

DWORD openUrl(const std::string& url, double& seconds) {
    const auto t = Clock::now();
    const DWORD h = BASS_StreamCreateURL(url.c_str(), 0, BASS_STREAM_META, nullptr, nullptr);
    seconds = bass_test::secondsSince(t);
    return h;
}

std::vector<Heard> heardIn(bass_test::Session& s) {
    s.close();
    bass_test::Capture c;
    return c.load(s.capturePath()) ? heardTones(c) : std::vector<Heard>{};
}

// The stretches of freq, in order.
std::vector<Heard> only(const std::vector<Heard>& tones, int freq) {
    std::vector<Heard> out;
    for (const Heard& h : tones)
        if (h.freq == freq) out.push_back(h);
    return out;
}

}  // namespace

// A server that takes the connection and says nothing to the TLS greeting,
// and one that answers it with a certificate nobody vouches for: both opens
// fail by the deadline, the second with its reason on standard error.
TEST(LibraryStreams, SecureOpensFailInTimeAndSayWhy) {
    RadioServer plain;  // reads the greeting as a request that never ends
    RadioServer backend;
    backend.route("/live", [](Reply& r, const Request& q) { serveLive(r, q, toneStream(440)); });
    TlsFront stranger(backend.port(), Certificates().strangerCert, Certificates().strangerKey);
    ScopedEnv ca("SSL_CERT_FILE", Certificates().trustedAuthority);
    bass_test::Session s("lib-tls-fail");
    ASSERT_TRUE(s.ok());
    double seconds = 0;
    const std::string silent = "https://127.0.0.1:" + std::to_string(plain.port()) + "/live";
    EXPECT_EQ(openUrl(silent, seconds), 0u);
    EXPECT_LT(seconds, 3.0);
    std::printf("[ timing   ] TLS to a silent server: %.2f s\n", seconds);
    DWORD h = 1;
    const std::string errors = stderrOf([&] { h = openUrl(stranger.url("/live"), seconds); });
    EXPECT_EQ(h, 0u);
    EXPECT_LT(seconds, 3.0);
    EXPECT_NE(errors.find(stranger.url("/live")), std::string::npos) << errors;
    EXPECT_NE(errors.find("certificate"), std::string::npos) << errors;
    EXPECT_EQ(backend.hits("/live"), 0);  // nothing was asked of a server not trusted
}

TEST(LibraryStreams, SecureStreamPlaysWithItsIcyTitlesAndFreesWhilePlaying) {
    RadioServer backend;
    LiveStream live = toneStream(550);
    live.status = "ICY 200 OK";
    live.metaint = 8192;
    live.title = [](double second) { return second < 3 ? "First" : "Second"; };
    backend.route("/live", [live](Reply& r, const Request& q) { serveLive(r, q, live); });
    TlsFront front(backend.port(), Certificates().cert, Certificates().key);
    ScopedEnv ca("SSL_CERT_FILE", Certificates().trustedAuthority);
    bass_test::Session s("lib-tls");
    ASSERT_TRUE(s.ok());
    double seconds = 0;
    const DWORD h = openUrl(front.url("/live"), seconds);
    ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
    bass_test::MetaLog log;
    BASS_ChannelSetSync(h, BASS_SYNC_META, 0, bass_test::MetaLog::proc, &log);
    EXPECT_TRUE(bass_test::contains(bass_test::stringList(BASS_StreamGetTags(h, BASS_TAG_ICY)),
                                    "icy-metaint:8192"));
    ASSERT_TRUE(BASS_StreamPlay(h, FALSE, 0));
    // The second title comes with the audio of second 3, which the feed reads
    // a little after the 2 s burst: waited for, however loaded the machine.
    const auto heardSecond = [&] {
        std::lock_guard<std::mutex> lk(log.mtx);
        return !log.texts.empty() && log.texts.back() == "StreamTitle='Second';";
    };
    EXPECT_TRUE(bass_test::waitFor(heardSecond, 10s));
    EXPECT_TRUE(bass_test::waitFor([&] { return bass_test::positionSeconds(h) >= 1.5; }, 8s));
    // Freed while its feed's thread reads over TLS.
    EXPECT_TRUE(BASS_StreamFree(h));
    const auto tones = only(heardIn(s), 550);
    ASSERT_FALSE(tones.empty());
    EXPECT_GT(tones.back().end - tones.front().start, 1.0);
    std::lock_guard<std::mutex> lk(log.mtx);
    ASSERT_FALSE(log.texts.empty());
    EXPECT_EQ(log.texts.back(), "StreamTitle='Second';");
}

// A link to a playlist opens the first entry that plays; the list's title
// goes with the stream, for the player to show until the stream sends one.
TEST(LibraryStreams, APlaylistLinkOpensItsFirstLiveEntryWithItsTitle) {
    RadioServer server;
    server.route("/b", [](Reply& r, const Request& q) { serveLive(r, q, toneStream(660)); });
    const std::string dead = "http://127.0.0.1:" + std::to_string(closedPort()) + "/a";
    server.answer("/radio.pls", "HTTP/1.0 200 OK\r\nContent-Type: audio/x-scpls",
                  "[playlist]\nFile1=" + dead + "\nTitle1=Dead\nFile2=/b\nTitle2=Second entry\n");
    server.answer("/none.m3u", "HTTP/1.0 200 OK", "#EXTM3U\n" + dead + "\n");
    bass_test::Session s("lib-links");
    ASSERT_TRUE(s.ok());
    double seconds = 0;
    const DWORD h = openUrl(server.url("/radio.pls"), seconds);
    ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
    EXPECT_LT(seconds, 1.0);
    EXPECT_STREQ(BASS_StreamGetTags(h, BASS_TAG_LINK), "Second entry");
    EXPECT_EQ(server.hits("/b"), 1);
    EXPECT_EQ(openUrl(server.url("/none.m3u"), seconds), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FILEOPEN);
}

// Half the real-time rate: each time it runs dry the stream is silent until
// 2 s are buffered, and it ends (its end sync comes) by its third run dry or
// once it has waited a fifth of 20 s.
TEST(LibraryStreams, AStreamAtHalfRatePausesCleanlyAndThenEnds) {
    RadioServer server;
    LiveStream slow = toneStream(440);
    slow.burstSeconds = 2;
    slow.pace = [](double) { return 0.5; };
    server.route("/slow", [slow](Reply& r, const Request& q) { serveLive(r, q, slow); });
    bass_test::Session s("lib-half-rate");
    ASSERT_TRUE(s.ok());
    double seconds = 0;
    const DWORD h = openUrl(server.url("/slow"), seconds);
    ASSERT_NE(h, 0u);
    bass_test::SyncCounter end;
    BASS_ChannelSetSync(h, BASS_SYNC_END, 0, bass_test::SyncCounter::proc, &end);
    const auto start = Clock::now();
    ASSERT_TRUE(BASS_StreamPlay(h, FALSE, 0));
    ASSERT_TRUE(bass_test::waitFor([&] { return end.calls.load() > 0; }, 60s));
    const double endedAfter = bass_test::secondsSince(start);
    std::printf("[ timing   ] half rate: ended after %.1f s\n", endedAfter);
    const auto tones = only(heardIn(s), 440);
    ASSERT_FALSE(tones.empty());
    EXPECT_LE(tones.size(), 4u) << describe(tones);  // three pauses at most
    for (size_t i = 1; i < tones.size(); ++i) {
        // A pause is a refill of 2 s at half rate; sound after it lasts.
        EXPECT_GT(tones[i].start - tones[i - 1].end, 1.0) << describe(tones);
        EXPECT_GT(tones[i].end - tones[i].start, 0.8) << describe(tones);
    }
    EXPECT_LT(endedAfter, 40.0);
}
