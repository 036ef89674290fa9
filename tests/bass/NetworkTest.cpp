// Network streams from servers of the test on 127.0.0.1: an MP3 download with
// its length, and a live stream with ICY metadata.
#include <gtest/gtest.h>

#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "Fixtures.h"
#include "FtpServer.h"
#include "Session.h"
#include "StreamChecks.h"
#include "tests/support/Capture.h"
#include "tests/support/HttpServer.h"

using namespace bass_test;
using testhttp::HttpServer;
using testhttp::Reply;
using testhttp::Request;
using namespace std::chrono_literals;

namespace {

// One metadata block: a length byte in 16-byte units, then the padded text.
std::string metaBlock(const std::string& text) {
    if (text.empty()) return std::string(1, '\0');
    const size_t units = (text.size() + 15) / 16;
    std::string block(1, static_cast<char>(units));
    block += text;
    block.resize(1 + units * 16, '\0');
    return block;
}

}  // namespace

TEST(Network, DownloadPlaysReportsItsSizeAndCompletes) {
    const std::string mp3 = encode(makeToneWav("net-file.wav", 1.0, 880), "mp3",
                                   "--add-id3v2 --tt NetTitle --ta NetArtist");
    const std::string body = readFile(mp3);
    ASSERT_GT(body.size(), 1000u);
    HttpServer server([&](Reply& r, const Request& request) {
        if (request.path != "/music/song.mp3") {
            r.send("HTTP/1.0 404 Not Found\r\n\r\n");
            return;
        }
        r.send("HTTP/1.0 200 OK\r\nContent-Type: audio/mpeg\r\nContent-Length: " +
               std::to_string(body.size()) + "\r\n\r\n");
        r.send(body);
    });
    Session s("net-file");
    ASSERT_TRUE(s.ok());
    EXPECT_EQ(BASS_StreamCreateURL(server.url("/missing.mp3").c_str(), 0, BASS_STREAM_META, nullptr,
                                   nullptr),
              0u);
    EXPECT_NE(BASS_ErrorGetCode(), BASS_OK);

    DWORD h = BASS_StreamCreateURL(server.url("/music/song.mp3").c_str(), 0, BASS_STREAM_META,
                                   nullptr, nullptr);
    ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
    EXPECT_EQ(BASS_StreamGetFilePosition(h, BASS_FILEPOS_END), body.size());
    const auto http = stringList(BASS_StreamGetTags(h, BASS_TAG_HTTP));
    ASSERT_FALSE(http.empty());
    EXPECT_EQ(http[0], "HTTP/1.0 200 OK");
    EXPECT_TRUE(contains(http, "Content-Length: " + std::to_string(body.size())));
    EXPECT_EQ(BASS_StreamGetTags(h, BASS_TAG_ICY), nullptr);
    const char* v2 = BASS_StreamGetTags(h, BASS_TAG_ID3V2);
    ASSERT_NE(v2, nullptr);
    EXPECT_EQ(std::string(v2, 3), "ID3");
    EXPECT_NEAR(BASS_ChannelBytes2Seconds(h, BASS_StreamGetLength(h)), 1.0, 0.1);

    SyncCounter downloaded, end;
    ASSERT_NE(BASS_ChannelSetSync(h, BASS_SYNC_DOWNLOAD, 0, SyncCounter::proc, &downloaded), 0u);
    ASSERT_NE(BASS_ChannelSetSync(h, BASS_SYNC_END, 0, SyncCounter::proc, &end), 0u);
    ASSERT_TRUE(BASS_StreamPlay(h, FALSE, 0));
    ASSERT_TRUE(waitFor([&] { return downloaded.calls.load() > 0; }, 3000ms));
    const char* v1 = BASS_StreamGetTags(h, BASS_TAG_ID3);
    ASSERT_NE(v1, nullptr);
    EXPECT_EQ(std::string(v1, 11), "TAGNetTitle");
    ASSERT_TRUE(waitFor([&] { return end.calls.load() > 0; }, 4000ms));
    EXPECT_EQ(downloaded.calls.load(), 1);
    EXPECT_EQ(BASS_StreamGetFilePosition(h, BASS_FILEPOS_DOWNLOAD), body.size());

    expectOneTone(s, 1.0, 880);
}

TEST(Network, LiveStreamKeepsIcyHeadersAndSyncsEachTitleChange) {
    const std::string audio = readFile(encode(makeToneWav("net-live.wav", 2.0, 440), "mp3"));
    ASSERT_GT(audio.size(), 8000u);
    constexpr size_t kMetaint = 4000;  // a quarter of a second at 128 kbit/s
    std::atomic<bool> sawMetaRequest{false};
    std::atomic<bool> syncSet{false};  // titles are sent only once the test listens
    HttpServer server([&](Reply& r, const Request&) {
        sawMetaRequest.store(true);
        if (!r.send("ICY 200 OK\r\nicy-name:KAV test radio\r\nicy-br:128\r\n"
                    "icy-metaint:4000\r\n\r\n"))
            return;
        size_t at = 0;
        auto next = std::chrono::steady_clock::now();
        // 2 s go out at once, then real time; titles change at 3 s and 4 s of audio.
        for (int block = 0; block < 22 && !r.stopping(); ++block) {
            std::string chunk;
            while (chunk.size() < kMetaint) {
                const size_t n = std::min(kMetaint - chunk.size(), audio.size() - at);
                chunk.append(audio, at, n);
                at = (at + n) % audio.size();
            }
            const std::string title = block >= 16   ? "StreamTitle='Second';"
                                      : block >= 12 ? "StreamTitle='First';"
                                                    : "";
            if (block == 12) waitFor([&] { return syncSet.load() || r.stopping(); }, 10s);
            // A title block arrives in two pieces, split inside its text.
            const std::string meta = metaBlock(title);
            const size_t cut = meta.size() > 1 ? 5 : 0;
            if (!r.send(chunk + meta.substr(0, cut))) return;
            if (cut) std::this_thread::sleep_for(20ms);
            if (!r.send(meta.substr(cut))) return;
            if (block >= 8) std::this_thread::sleep_until(next);
            next = std::max(next, std::chrono::steady_clock::now()) + 250ms;
        }
    });
    Session s("net-live");
    ASSERT_TRUE(s.ok());
    DWORD h =
        BASS_StreamCreateURL(server.url("/live").c_str(), 0, BASS_STREAM_META, nullptr, nullptr);
    ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
    MetaLog log;
    ASSERT_NE(BASS_ChannelSetSync(h, BASS_SYNC_META, 0, MetaLog::proc, &log), 0u);
    syncSet.store(true);
    SyncCounter downloaded;
    BASS_ChannelSetSync(h, BASS_SYNC_DOWNLOAD, 0, SyncCounter::proc, &downloaded);
    EXPECT_TRUE(sawMetaRequest.load());
    const auto icy = stringList(BASS_StreamGetTags(h, BASS_TAG_ICY));
    ASSERT_FALSE(icy.empty());
    EXPECT_EQ(icy[0], "ICY 200 OK");
    EXPECT_TRUE(contains(icy, "icy-br:128"));
    EXPECT_TRUE(contains(icy, "icy-metaint:4000"));
    EXPECT_EQ(BASS_StreamGetTags(h, BASS_TAG_HTTP), nullptr);
    EXPECT_EQ(BASS_StreamGetFilePosition(h, BASS_FILEPOS_END), 0xFFFFFFFFu);
    EXPECT_EQ(BASS_StreamGetTags(h, BASS_TAG_META), nullptr);  // no title yet
    ASSERT_TRUE(BASS_StreamPlay(h, FALSE, 0));

    ASSERT_TRUE(waitFor([&] { return log.size() >= 2; }, 8000ms));
    std::this_thread::sleep_for(600ms);  // the repeated titles must not sync again
    {
        std::lock_guard<std::mutex> lk(log.mtx);
        EXPECT_EQ(log.texts,
                  (std::vector<std::string>{"StreamTitle='First';", "StreamTitle='Second';"}));
    }
    const char* meta = BASS_StreamGetTags(h, BASS_TAG_META);
    ASSERT_NE(meta, nullptr);
    EXPECT_STREQ(meta, "StreamTitle='Second';");
    const DWORD state = BASS_ChannelIsActive(h);
    EXPECT_TRUE(state == BASS_ACTIVE_PLAYING || state == BASS_ACTIVE_STALLED);
    EXPECT_EQ(downloaded.calls.load(), 0);
    EXPECT_TRUE(BASS_StreamFree(h));

    s.close();
    Capture c;
    ASSERT_TRUE(c.load(s.capturePath()));
    auto segs = segments(c.left, 1000, 441);
    ASSERT_FALSE(segs.empty());
    EXPECT_GT(c.seconds(segs[0].length()), 0.5);
    EXPECT_NEAR(toneFrequency(c.left, segs[0].begin, segs[0].begin + 22050, c.rate), 440, 5);
}

TEST(Network, UnusableAddressesFail) {
    Session s("net-none");
    ASSERT_TRUE(s.ok());
    const std::string url = testhttp::closedUrl("/x.mp3");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(BASS_StreamCreateURL(url.c_str(), 0, 0, nullptr, nullptr), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FILEOPEN);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    EXPECT_EQ(BASS_StreamCreateURL("gopher://127.0.0.1/x", 0, 0, nullptr, nullptr), 0u);

    // A page that is not audio: refused as a format, so the caller may try the add-on.
    HttpServer page([&](Reply& r, const Request&) {
        r.send("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<html><body>" +
               std::string(20000, ' ') + "</body></html>");
    });
    EXPECT_EQ(BASS_StreamCreateURL(page.url("/index.html").c_str(), 0, 0, nullptr, nullptr), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FILEFORM);
}

// A chained Ogg stream: the second song's comments replace the list (tag kind 2)
// and come with the metadata sync; both songs play.
TEST(Network, ChainedOggSyncsTheNextSongsComments) {
    const std::string first =
        readFile(encode(makeToneWav("chain-a.wav", 1.0, 440), "ogg", "-t First -a Band"));
    const std::string second =
        readFile(encode(makeToneWav("chain-b.wav", 1.0, 880), "ogg", "-t Second -a Band -q 2"));
    ASSERT_FALSE(first.empty());
    ASSERT_FALSE(second.empty());
    std::atomic<bool> syncSet{false};
    HttpServer server([&](Reply& r, const Request&) {
        if (!r.send("HTTP/1.0 200 OK\r\nContent-Type: application/ogg\r\n\r\n" + first)) return;
        waitFor([&] { return syncSet.load() || r.stopping(); }, 10s);
        r.send(second);
    });
    Session s("net-chain");
    ASSERT_TRUE(s.ok());
    DWORD h = BASS_StreamCreateURL(server.url("/radio.ogg").c_str(), 0, BASS_STREAM_META, nullptr,
                                   nullptr);
    ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
    EXPECT_TRUE(contains(stringList(BASS_StreamGetTags(h, BASS_TAG_OGG)), "title=First"));
    MetaLog log;
    ASSERT_NE(BASS_ChannelSetSync(h, BASS_SYNC_META, 0, MetaLog::proc, &log), 0u);
    syncSet.store(true);
    SyncCounter end;
    ASSERT_NE(BASS_ChannelSetSync(h, BASS_SYNC_END, 0, SyncCounter::proc, &end), 0u);
    ASSERT_TRUE(BASS_StreamPlay(h, FALSE, 0));
    ASSERT_TRUE(waitFor([&] { return log.size() >= 1; }, 3000ms));
    const auto now = stringList(BASS_StreamGetTags(h, BASS_TAG_OGG));
    EXPECT_TRUE(contains(now, "title=Second"));
    EXPECT_FALSE(contains(now, "title=First"));
    ASSERT_TRUE(waitFor([&] { return end.calls.load() > 0; }, 5000ms));
    {
        std::lock_guard<std::mutex> lk(log.mtx);
        ASSERT_EQ(log.texts.size(), 1u);
        // The data is the list itself: its first string is the first comment.
        EXPECT_TRUE(log.texts[0] == "title=Second" || log.texts[0] == "artist=Band");
    }
    s.close();
    Capture c;
    ASSERT_TRUE(c.load(s.capturePath()));
    auto segs = segments(c.left, 1000, 4410);
    ASSERT_FALSE(segs.empty());
    EXPECT_NEAR(c.seconds(segs.back().end - segs.front().begin), 2.0, 0.1);
    const size_t b = segs.front().begin;
    EXPECT_NEAR(toneFrequency(c.left, b + 4410, b + 30870, c.rate), 440, 5);
    EXPECT_NEAR(toneFrequency(c.left, b + 48510, b + 79380, c.rate), 880, 5);
}

// A WMA file over HTTP through the add-on, addressed as mms:// as the player does.
TEST(Network, WmaOverHttpPlaysThroughTheAddOn) {
    const std::string body = readFile(encode(makeToneWav("net-wma.wav", 0.8, 1200), "wma"));
    ASSERT_FALSE(body.empty());
    HttpServer server([&](Reply& r, const Request&) {
        r.send("HTTP/1.0 200 OK\r\nContent-Type: video/x-ms-asf\r\nContent-Length: " +
               std::to_string(body.size()) + "\r\n\r\n" + body);
    });
    Session s("net-wma");
    ASSERT_TRUE(s.ok());
    // The player asks for an mms:// address where the list has http://.
    std::string mms = server.url("/a.wma");
    mms.replace(0, 7, "mms://");
    DWORD h = BASS_WMA_StreamCreateFile(FALSE, mms.c_str(), 0, 0, BASS_WMA_URL);
    ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
    ASSERT_NO_FATAL_FAILURE(playToEndDownloadedOnce(h, 4000ms));
    s.close();
    Capture c;
    ASSERT_TRUE(c.load(s.capturePath()));
    auto segs = segments(c.left, 1000, 441);
    ASSERT_FALSE(segs.empty());
    EXPECT_NEAR(c.seconds(segs.back().end - segs.front().begin), 0.8, 0.05);
    EXPECT_NEAR(toneFrequency(c.left, segs[0].begin, segs[0].end, c.rate), 1200, 6);
}

// An ftp:// address plays through FFmpeg's client; the download sync fires
// once the whole file has been read.
TEST(Network, FtpAddressPlays) {
    const std::string body = readFile(encode(makeToneWav("ftp.wav", 0.8, 660), "mp3"));
    ASSERT_FALSE(body.empty());
    FtpServer server("song.mp3", body);
    Session s("net-ftp");
    ASSERT_TRUE(s.ok());
    DWORD h = BASS_StreamCreateURL(server.url().c_str(), 0, 0, nullptr, nullptr);
    ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
    EXPECT_EQ(BASS_StreamGetFilePosition(h, BASS_FILEPOS_END), body.size());
    ASSERT_NO_FATAL_FAILURE(playToEndDownloadedOnce(h, 4000ms));
    expectOneTone(s, 0.8, 660, 4);
}
