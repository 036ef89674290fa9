// Servers on 127.0.0.1 that misbehave: every open returns within its bound,
// the way the player opens an address (a stream, then the WMA add-on under
// mms://), and live streams end when their server goes quiet.
#include <gtest/gtest.h>

#include <cstdio>
#include <mutex>
#include <random>
#include <thread>

#include "Fixtures.h"
#include "Session.h"
#include "StreamChecks.h"
#include "tests/support/Capture.h"
#include "tests/support/HttpServer.h"

using namespace bass_test;
using testhttp::HttpServer;
using testhttp::Reply;
using testhttp::Request;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

struct Attempt {
    DWORD stream = 0, wma = 0;
    double streamSeconds = 0, wmaSeconds = 0;
};

// The player's order: the address as a stream, then as mms:// through the add-on.
Attempt openLikeThePlayer(const std::string& url) {
    Attempt a;
    auto t = Clock::now();
    a.stream = BASS_StreamCreateURL(url.c_str(), 0, BASS_STREAM_META, nullptr, nullptr);
    a.streamSeconds = secondsSince(t);
    if (a.stream) return a;
    std::string mms = url;
    mms.replace(0, 7, "mms://");
    t = Clock::now();
    a.wma = BASS_WMA_StreamCreateFile(FALSE, mms.c_str(), 0, 0, BASS_WMA_URL);
    a.wmaSeconds = secondsSince(t);
    return a;
}

// Random bytes that cannot be taken for a status line, 1 KB every 5 ms.
void sendGarbage(Reply& r) {
    std::mt19937 rng(9);
    std::string block(1024, '\0');
    while (!r.stopping()) {
        for (auto& c : block) c = static_cast<char>(rng());
        block[0] = '\x9c';
        if (!r.send(block)) return;
        std::this_thread::sleep_for(5ms);
    }
}

}  // namespace

// Each open, stream and add-on together, ends within the 5 s a player may
// wait, and fails.
TEST(NetworkFaults, EveryOpenReturnsInTime) {
    struct Case {
        const char* name;
        std::function<void(Reply&)> serve;
    };
    const std::vector<Case> cases = {
        {"silent (accepts, never answers)", [](Reply& r) { r.idle(); }},
        {"random bytes", [](Reply& r) { sendGarbage(r); }},
        {"headers, then nothing",
         [](Reply& r) {
             if (r.send("HTTP/1.0 200 OK\r\nContent-Type: audio/mpeg\r\n\r\n")) r.idle();
         }},
        {"headers, then random bytes",
         [](Reply& r) {
             if (r.send("HTTP/1.0 200 OK\r\nContent-Type: audio/mpeg\r\n\r\n")) sendGarbage(r);
         }},
        {"closed port", nullptr},
    };
    Session session("net-faults");
    ASSERT_TRUE(session.ok());
    for (const auto& c : cases) {
        std::unique_ptr<HttpServer> server;
        std::string url;
        if (c.serve) {
            server = std::make_unique<HttpServer>([&](Reply& r, const Request&) { c.serve(r); });
            url = server->url("/radio.mp3");
        } else {
            url = testhttp::closedUrl("/radio.mp3");
        }
        const Attempt a = openLikeThePlayer(url);
        std::printf("[ timing   ] %s: stream %.2f s, add-on %.2f s\n", c.name, a.streamSeconds,
                    a.wmaSeconds);
        EXPECT_EQ(a.stream, 0u) << c.name;
        EXPECT_EQ(a.wma, 0u) << c.name;
        EXPECT_LT(a.streamSeconds + a.wmaSeconds, 5.0) << c.name;
    }
}

// A server answering with chunked transfer coding (HTTP/1.1, as an FFmpeg
// server does), with chunk-size lines cut between packets, extensions and a
// trailer, which then keeps the connection open: the body is the file.
TEST(NetworkFaults, ChunkedBodyIsDecoded) {
    const std::string body = readFile(encode(makeToneWav("chunked.wav", 1.0, 660), "mp3"));
    ASSERT_GT(body.size(), 4000u);
    HttpServer server([&](Reply& r, const Request&) {
        if (!r.send("HTTP/1.1 200 OK\r\nContent-Type: audio/mpeg\r\n"
                    "Transfer-Encoding: chunked\r\n\r\n"))
            return;
        size_t at = 0, size = 700;
        while (at < body.size()) {
            const size_t n = std::min(size, body.size() - at);
            char line[64];
            std::snprintf(line, sizeof line, "%zx;piece=%zu\r\n", n, at);
            const std::string head(line);
            // The size line arrives in two packets.
            if (!r.send(head.substr(0, 1))) return;
            std::this_thread::sleep_for(2ms);
            if (!r.send(head.substr(1) + body.substr(at, n) + "\r\n")) return;
            at += n;
            size = size == 700 ? 1333 : 700;
        }
        if (r.send("0\r\nX-Checksum: none\r\n\r\n")) r.idle();
    });
    Session s("net-chunked");
    ASSERT_TRUE(s.ok());
    DWORD h = BASS_StreamCreateURL(server.url("/stream").c_str(), 0, 0, nullptr, nullptr);
    ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
    ASSERT_NO_FATAL_FAILURE(playToEndDownloadedOnce(h, 4000ms));
    EXPECT_EQ(BASS_StreamGetFilePosition(h, BASS_FILEPOS_DOWNLOAD), body.size());
    expectOneTone(s, 1.0, 660);
}

// A live server answering "HTTP/1.0 200 OK" whose headers, the first pages
// and the next song each come in packets of their own: titles are found, and
// a mount named like a file still has no length.
TEST(NetworkFaults, LiveOggTitlesDoNotDependOnPackets) {
    const std::string first =
        readFile(encode(makeToneWav("live-a.wav", 1.0, 440), "ogg", "-t First -a Band"));
    const std::string second =
        readFile(encode(makeToneWav("live-b.wav", 1.0, 880), "ogg", "-t Second -a Band"));
    ASSERT_FALSE(first.empty());
    ASSERT_FALSE(second.empty());
    std::atomic<bool> syncSet{false};
    HttpServer server([&](Reply& r, const Request&) {
        if (!r.send("HTTP/1.0 200 OK\r\nContent-Type: application/ogg\r\n"
                    "icy-name: KAV test radio\r\nicy-br: 128\r\n\r\n"))
            return;
        std::this_thread::sleep_for(100ms);
        if (!r.send(first.substr(0, 4000))) return;
        std::this_thread::sleep_for(50ms);
        if (!r.send(first.substr(4000))) return;
        waitFor([&] { return syncSet.load() || r.stopping(); }, 10s);
        for (size_t at = 0; at < second.size(); at += 333) {
            if (!r.send(second.substr(at, 333))) return;
            std::this_thread::sleep_for(1ms);
        }
        r.idle();
    });
    Session s("net-live-ogg");
    ASSERT_TRUE(s.ok());
    DWORD h = BASS_StreamCreateURL(server.url("/live.ogg").c_str(), 0, BASS_STREAM_META, nullptr,
                                   nullptr);
    ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
    EXPECT_TRUE(contains(stringList(BASS_StreamGetTags(h, BASS_TAG_HTTP)), "icy-br: 128"));
    EXPECT_TRUE(contains(stringList(BASS_StreamGetTags(h, BASS_TAG_OGG)), "title=First"));
    // Unknown: all bits set, "not available".
    EXPECT_EQ(BASS_StreamGetLength(h), ~QWORD(0));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_NOTAVAIL);
    MetaLog log;
    ASSERT_NE(BASS_ChannelSetSync(h, BASS_SYNC_META, 0, MetaLog::proc, &log), 0u);
    syncSet.store(true);
    ASSERT_TRUE(BASS_StreamPlay(h, FALSE, 0));
    ASSERT_TRUE(waitFor([&] { return log.size() >= 1; }, 4000ms));
    std::lock_guard<std::mutex> lk(log.mtx);
    ASSERT_EQ(log.lists.size(), 1u);
    EXPECT_NE(log.lists[0].find("title=Second;"), std::string::npos) << log.lists[0];
}

// A live MP3 mount named like a file (no length announced) whose server stops
// sending but keeps the connection: its length is unknown; what came plays
// out, then the channel ends and says so.
TEST(NetworkFaults, QuietLiveStreamEndsAfterItsAudio) {
    const std::string audio = readFile(encode(makeToneWav("quiet.wav", 2.0, 550), "mp3"));
    ASSERT_GT(audio.size(), 8000u);
    std::atomic<bool> sent{false};
    Clock::time_point lastByte;
    HttpServer server([&](Reply& r, const Request&) {
        if (!r.send("HTTP/1.0 200 OK\r\nContent-Type: audio/mpeg\r\nicy-br: 128\r\n\r\n")) return;
        std::this_thread::sleep_for(50ms);
        if (!r.send(audio)) return;
        lastByte = Clock::now();
        sent.store(true);
        r.idle();
    });
    Session s("net-quiet");
    ASSERT_TRUE(s.ok());
    DWORD h = BASS_StreamCreateURL(server.url("/live.mp3").c_str(), 0, BASS_STREAM_META, nullptr,
                                   nullptr);
    ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
    EXPECT_EQ(BASS_StreamGetLength(h), ~QWORD(0));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_NOTAVAIL);
    SyncCounter end;
    BASS_ChannelSetSync(h, BASS_SYNC_END, 0, SyncCounter::proc, &end);
    ASSERT_TRUE(BASS_StreamPlay(h, FALSE, 0));
    ASSERT_TRUE(waitFor([&] { return sent.load(); }, 3000ms));
    // 5 s of quiet ends it; a generous bound, well short of twice that.
    ASSERT_TRUE(waitFor([&] { return end.calls.load() > 0; }, 9000ms));
    const double after = secondsSince(lastByte);
    std::printf("[ timing   ] end %.2f s after the last byte\n", after);
    EXPECT_GT(after, 4.0);
    EXPECT_EQ(BASS_ChannelIsActive(h), static_cast<DWORD>(BASS_ACTIVE_STOPPED));
    s.close();
    Capture c;
    ASSERT_TRUE(c.load(s.capturePath()));
    auto segs = segments(c.left, 1000, 4410);
    ASSERT_FALSE(segs.empty());
    EXPECT_GT(c.seconds(segs[0].length()), 1.8);  // the buffered audio was heard
    EXPECT_NEAR(toneFrequency(c.left, segs[0].begin, segs[0].end, c.rate), 550, 5);
}

// An Ogg file over HTTP: once it has arrived whole, its length is the one in
// its data, also when asked from the download sync.
TEST(NetworkFaults, DownloadedOggLengthComesFromTheData) {
    const std::string body =
        readFile(encode(makeToneWav("long.wav", 20.0, 440, 0, 2, 44100, 0.2), "ogg", "-q 6"));
    ASSERT_GT(body.size(), 50000u);
    HttpServer server([&](Reply& r, const Request&) {
        r.send("HTTP/1.0 200 OK\r\nContent-Type: application/ogg\r\nContent-Length: " +
               std::to_string(body.size()) + "\r\n\r\n" + body);
    });
    Session s("net-ogg-length");
    ASSERT_TRUE(s.ok());
    DWORD h = BASS_StreamCreateURL(server.url("/song.ogg").c_str(), 0, 0, nullptr, nullptr);
    ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
    struct AtDownload {
        std::atomic<double> seconds{-1};
        static void proc(HSYNC, DWORD channel, DWORD_PTR, void* user) {
            static_cast<AtDownload*>(user)->seconds.store(
                BASS_ChannelBytes2Seconds(channel, BASS_StreamGetLength(channel)));
        }
    } atDownload;
    BASS_ChannelSetSync(h, BASS_SYNC_DOWNLOAD, 0, AtDownload::proc, &atDownload);
    ASSERT_TRUE(waitFor([&] { return atDownload.seconds.load() >= 0; }, 4000ms));
    EXPECT_NEAR(atDownload.seconds.load(), 20.0, 0.01);
    EXPECT_NEAR(BASS_ChannelBytes2Seconds(h, BASS_StreamGetLength(h)), 20.0, 0.01);
}
