// Network streams served by the test itself on 127.0.0.1: a network MP3 file
// whose tag is read once it has arrived, and a live stream with ICY metadata.
#include <gtest/gtest.h>

#include <QThread>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <random>

#include "EngineTestSupport.h"
#include "tests/support/BoundedCall.h"
#include "tests/support/HttpServer.h"

using namespace enginetest;
using namespace std::chrono_literals;

namespace {

// Answers with data as a file of the given type and length: the response
// head and the start of the data, then waits (bounded) until the test has
// opened the stream, so that the download ends after the engine has asked to
// hear of it; then the rest.
void SendFileAfterOpen(testhttp::Reply& c, const std::string& type, const std::vector<char>& data,
                       const std::atomic<bool>& opened) {
    if (!c.send("HTTP/1.0 200 OK\r\nContent-Type: " + type +
                "\r\nContent-Length: " + std::to_string(data.size()) + "\r\n\r\n"))
        return;
    const std::size_t first = std::min<std::size_t>(data.size(), 24 * 1024);
    if (!c.send(data.data(), first)) return;
    for (int i = 0; i < 300 && !opened && !c.stopping(); ++i) QThread::msleep(10);
    for (std::size_t pos = first; pos < data.size() && !c.stopping(); pos += 8192)
        if (!c.send(data.data() + pos, std::min<std::size_t>(8192, data.size() - pos))) return;
}

// One metadata block of an ICY stream: a length byte in 16-byte units, then
// the text padded with NULs.
std::string MetaBlock(const std::string& text) {
    if (text.empty()) return std::string(1, '\0');
    std::string block = text;
    block.resize((text.size() + 15) / 16 * 16, '\0');
    return static_cast<char>(block.size() / 16) + block;
}

// Frames of an MP3 tone without a leading info frame, so that they can be
// repeated as a live stream.
std::vector<char> LiveMp3Frames() {
    const std::string mp3 = TempDir() + "/live-frames.mp3";
    if (!std::filesystem::exists(mp3))
        enginetest::Run("lame --quiet -t -b 128 '" + ToneWav("live-src.wav", 1.0) + "' '" + mp3 +
                        "'");
    return ReadAll(mp3);
}

// Bytes of audio between the metadata blocks of the live streams here.
constexpr std::size_t kMetaInt = 2048;

// Sends audio round and round in 400 blocks of kMetaInt bytes, each followed
// by a metadata block holding meta(block) (none when empty). Unless paced
// is false, enough goes at once for the stream to open, then about twice the
// real-time rate, so that
// changes from block 48 on come after the 64 KB the library may read while
// it opens the stream.
void ServeIcyBlocks(testhttp::Reply& c, const std::vector<char>& audio,
                    const std::function<std::string(int block)>& meta, bool paced = true) {
    std::size_t pos = 0;
    for (int block = 0; block < 400 && !c.stopping(); ++block) {
        std::string chunk;
        while (chunk.size() < kMetaInt) {
            const std::size_t n = std::min(kMetaInt - chunk.size(), audio.size() - pos);
            chunk.append(audio.data() + pos, n);
            pos = (pos + n) % audio.size();
        }
        if (!c.send(chunk + MetaBlock(meta(block)))) return;
        if (paced && block >= 16) QThread::msleep(60);
    }
}

// Keeps what each of the player's download events says.
void RecordDownloads(TBASSPlayer& player, std::vector<std::string>& downloaded) {
    player.OnDownloaded = [&downloaded](TBASSPlayer*, const std::string& content) {
        downloaded.push_back(content);
    };
}

class NetworkTest : public ::testing::Test {
  protected:
    void SetUp() override { UseNullOutput(); }
    BoxRecorder boxes;
};

}  // namespace

TEST_F(NetworkTest, NetworkFileTagIsReadOnceDownloaded) {
    const std::string mp3 = CbrMp3("net-src.mp3", 2.0);
    std::vector<char> body = ReadAll(mp3);
    const std::string tagged = TempDir() + "/net-tagged.mp3";
    WriteAll(tagged, body);
    AppendId3v1(tagged, "NetTitle", "NetArtist", 8, 2);
    body = ReadAll(tagged);

    std::atomic<bool> opened{false};
    testhttp::HttpServer server([&](testhttp::Reply& c, const testhttp::Request&) {
        SendFileAfterOpen(c, "audio/mpeg", body, opened);
    });
    TBASSPlayer player;
    ASSERT_TRUE(player.PlayerReady());
    std::vector<std::string> downloaded;
    RecordDownloads(player, downloaded);
    const std::string url = server.url("/music/net-song.mp3");
    ASSERT_TRUE(player.OpenStream(url)) << (boxes.boxes.empty() ? "" : boxes.boxes[0].text);
    opened = true;
    EXPECT_EQ(player.PlayState(), PLAYSTATE_READY);
    EXPECT_EQ(player.StreamInfo().FileName, url);
    EXPECT_EQ(player.StreamInfo().Title, "net-song");
    EXPECT_EQ(player.StreamInfo().SampleRate, 44100);
    EXPECT_EQ(player.StreamInfo().Channels, 2);

    // The rate follows from the announced size and the estimated length.
    EXPECT_EQ(player.StreamInfo().FileSize, body.size());
    EXPECT_NEAR(player.StreamInfo().BitRate, 128, 8);

    ASSERT_TRUE(PumpUntil([&] { return !downloaded.empty(); }, 5s));
    const TStreamInfo& info = player.StreamInfo();
    EXPECT_EQ(downloaded.size(), 1u);
    EXPECT_EQ(downloaded[0], std::to_string(info.Duration));
    EXPECT_NEAR(static_cast<double>(info.Duration), 2000.0, 100.0);
    EXPECT_EQ(info.FileSize, body.size());
    EXPECT_EQ(info.Title, "NetTitle");
    EXPECT_EQ(info.Artist, "NetArtist");
    EXPECT_EQ(info.Track, 2);
    EXPECT_EQ(info.Genre, "Jazz");

    player.StartPlayback();
    EXPECT_EQ(player.PlayState(), PLAYSTATE_PLAYING);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(NetworkTest, NetworkOggFileIsTitledByItsUpperCaseComment) {
    const std::vector<char> upper =
        ReadAll(OggFile("net-upper.ogg", 1.0, "-c ARTIST=x -c TITLE=y"));
    const std::vector<char> lower = ReadAll(OggFile("net-lower.ogg", 1.0, "-a x -t y"));
    std::atomic<bool> opened{false};
    testhttp::HttpServer server([&](testhttp::Reply& c, const testhttp::Request& request) {
        const std::vector<char>& body =
            request.path.find("upper") != std::string::npos ? upper : lower;
        SendFileAfterOpen(c, "application/ogg", body, opened);
    });
    TBASSPlayer player;
    ASSERT_TRUE(player.PlayerReady());
    ASSERT_TRUE(player.OpenStream(server.url("/radio/upper.ogg")));
    opened = true;
    EXPECT_EQ(player.StreamInfo().Title, "y");
    EXPECT_EQ(player.StreamInfo().Artist, "");  // only the title is taken at open
    EXPECT_EQ(player.StreamInfo().SampleRate, 44100);
    // "title=" in lower case is not the comment looked for, and an Ogg file
    // gets no title from its address.
    ASSERT_TRUE(player.OpenStream(server.url("/radio/lower.ogg")));
    EXPECT_EQ(player.StreamInfo().Title, "");
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(NetworkTest, LiveStreamTitleFollowsItsMetadata) {
    const std::vector<char> audio = LiveMp3Frames();
    ASSERT_FALSE(audio.empty());

    testhttp::HttpServer server([&](testhttp::Reply& c, const testhttp::Request&) {
        if (!c.send("ICY 200 OK\r\nicy-name:Test radio\r\nicy-br:128\r\nicy-metaint:" +
                    std::to_string(kMetaInt) + "\r\n\r\n"))
            return;
        ServeIcyBlocks(c, audio, [](int block) -> std::string {
            if (block == 0) return "StreamTitle='First';StreamUrl='';";
            if (block == 48) return "StreamTitle='Artist - Second';StreamUrl='';";
            if (block == 56) return "StreamTitle='Third';";
            return {};
        });
    });
    std::vector<std::string> titles;
    {
        TBASSPlayer player;
        ASSERT_TRUE(player.PlayerReady());
        player.OnGetMeta = [&](TBASSPlayer* sender, const std::string& title) {
            EXPECT_EQ(sender->StreamInfo().Title, title);
            titles.push_back(title);
        };
        ASSERT_TRUE(player.OpenStream(server.url("/live")))
            << (boxes.boxes.empty() ? "" : boxes.boxes[0].text);
        EXPECT_EQ(player.StreamInfo().Title, "First");
        EXPECT_EQ(player.StreamInfo().BitRate, 128);
        EXPECT_EQ(player.StreamInfo().SampleRate, 44100);
        player.StartPlayback();
        ASSERT_TRUE(PumpUntil([&] { return !titles.empty() && titles.back() == "Third"; }, 15s));
        EXPECT_EQ(player.StreamInfo().Title, "Third");
    }
    // Each change arrives once, in order, with its own title.
    std::vector<std::string> changes;
    for (const std::string& t : titles)
        if (t != "First") changes.push_back(t);
    EXPECT_EQ(changes, (std::vector<std::string>{"Artist - Second", "Third"}));
    EXPECT_TRUE(boxes.boxes.empty());
}

// A server that sends far ahead of the audio: a title is news when its audio
// plays, not when it arrives, or the window names the next song while this
// one is still on air.
TEST_F(NetworkTest, ATitleChangesWhenItsAudioIsReachedNotWhenItArrives) {
    const std::vector<char> audio = LiveMp3Frames();
    testhttp::HttpServer server([&](testhttp::Reply& c, const testhttp::Request&) {
        if (!c.send("ICY 200 OK\r\nicy-br:128\r\nicy-metaint:" + std::to_string(kMetaInt) +
                    "\r\n\r\n"))
            return;
        // "Second" from 6.1 s of audio on, all of it sent at once.
        ServeIcyBlocks(
            c, audio,
            [](int block) -> std::string {
                if (block == 0) return "StreamTitle='First';";
                if (block == 48) return "StreamTitle='Second';";
                return {};
            },
            false);
        while (!c.stopping()) QThread::msleep(20);
    });
    std::vector<std::string> titles;
    uint32_t heardAt = 0;
    TBASSPlayer player;
    ASSERT_TRUE(player.PlayerReady());
    player.OnGetMeta = [&](TBASSPlayer* p, const std::string& title) {
        titles.push_back(title);
        if (title == "Second") heardAt = p->PositionMs();
    };
    ASSERT_TRUE(player.OpenStream(server.url("/live")));
    EXPECT_EQ(player.StreamInfo().Title, "First");
    player.StartPlayback();
    ASSERT_TRUE(PumpUntil([&] { return !titles.empty() && titles.back() == "Second"; }, 20s));
    // What is read ahead of the output (the decoder's input buffer, the
    // channel's) is about 2 s here.
    EXPECT_GT(heardAt, 3000u);
    EXPECT_EQ(player.StreamInfo().Title, "Second");
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(NetworkTest, AddressNothingAnswersIsReported) {
    // A port that was just listened on and closed again: nothing answers there.
    int port = 0;
    {
        testhttp::HttpServer closed([](testhttp::Reply&, const testhttp::Request&) {});
        port = closed.port();
    }
    TBASSPlayer player;
    ASSERT_TRUE(player.PlayerReady());
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/live";
    EXPECT_FALSE(player.OpenStream(url));
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].caption, "Confirm");
    EXPECT_EQ(boxes.boxes[0].text, "Can't play the specified URL stream : " + url);
    EXPECT_EQ(player.ChannelKind(), CHANNEL_NONE);
}

namespace {

// A live MP3 stream with ICY metadata every kMetaInt bytes: "First" at once,
// "Second" after some 100 KB, beyond what the library reads to open it.
void ServeLiveMp3(testhttp::Reply& c, const std::vector<char>& audio) {
    ServeIcyBlocks(c, audio, [](int block) -> std::string {
        if (block == 0) return "StreamTitle='First';StreamUrl='';";
        if (block == 48) return "StreamTitle='Second';StreamUrl='';";
        return {};
    });
}

// An Ogg Vorbis stream of noise (which, unlike a tone, takes room enough
// for the library to open the stream well before its end).
std::vector<char> NoiseOgg(const std::string& name, double seconds, const std::string& args) {
    const std::string wav = TempDir() + "/" + name + ".wav";
    const std::string ogg = TempDir() + "/" + name;
    if (!std::filesystem::exists(ogg))
        enginetest::Run("sox -n -r 44100 -c 2 -b 16 '" + wav + "' synth " +
                        std::to_string(seconds) + " whitenoise vol 0.3 && oggenc -Q " + args +
                        " -o '" + ogg + "' '" + wav + "'");
    return ReadAll(ogg);
}

// A live Ogg stream as Icecast sends one: a chain of Ogg Vorbis streams,
// each opening with its comments, titled "First" and then "Second".
void ServeLiveOgg(testhttp::Reply& c, const std::vector<char>& first,
                  const std::vector<char>& second) {
    std::vector<char> data = first;
    for (int i = 0; i < 3; ++i) data.insert(data.end(), second.begin(), second.end());
    // Enough at once for the stream to open, then about twice the real-time
    // rate, so that the second title comes after the open.
    constexpr std::size_t kAtOnce = 96 * 1024, kPiece = 4096;
    for (std::size_t pos = 0; pos < data.size() && !c.stopping(); pos += kPiece) {
        if (!c.send(data.data() + pos, std::min(kPiece, data.size() - pos))) return;
        if (pos >= kAtOnce) QThread::msleep(100);
    }
}

struct LiveCase {
    const char* path;
    const char* head;  // the answer's head, up to the blank line
    bool ogg;
    int32_t bitRate;
};

}  // namespace

TEST_F(NetworkTest, LiveStreamsAreLiveWhateverTheirNameAndStatusLine) {
    const std::vector<char> mp3 = LiveMp3Frames();
    const std::vector<char> firstOgg = NoiseOgg("live-first.ogg", 8.0, "-s 11 -t First");
    const std::vector<char> secondOgg = NoiseOgg("live-second.ogg", 4.0, "-s 12 -t Second");
    const LiveCase cases[] = {
        // Icecast: an HTTP status line, so its icy- fields are HTTP headers;
        // no length anywhere.
        {"/live.mp3",
         "HTTP/1.0 200 OK\r\nContent-Type: audio/mpeg\r\nicy-br: 128\r\nicy-metaint:2048\r\n",
         false, 128},
        {"/live.ogg", "HTTP/1.0 200 OK\r\nContent-Type: application/ogg\r\nicy-br:96\r\n", true,
         96},
        {"/stream",
         "HTTP/1.0 200 OK\r\nContent-Type: audio/mpeg\r\nicy-br:64\r\nicy-metaint:2048\r\n", false,
         64},
        {"/radio.mp3", "ICY 200 OK\r\nicy-name:Test radio\r\nicy-br: 112\r\nicy-metaint:2048\r\n",
         false, 112},
    };
    for (const LiveCase& live : cases) {
        SCOPED_TRACE(live.path);
        testhttp::HttpServer server([&](testhttp::Reply& c, const testhttp::Request&) {
            // The head travels in a packet of its own, before any audio.
            if (!c.send(std::string(live.head) + "\r\n")) return;
            QThread::msleep(50);
            if (live.ogg)
                ServeLiveOgg(c, firstOgg, secondOgg);
            else
                ServeLiveMp3(c, mp3);
        });
        std::vector<std::string> titles;
        TBASSPlayer player;
        ASSERT_TRUE(player.PlayerReady());
        player.OnGetMeta = [&](TBASSPlayer*, const std::string& title) { titles.push_back(title); };
        ASSERT_TRUE(player.OpenStream(server.url(live.path)))
            << (boxes.boxes.empty() ? "" : boxes.boxes[0].text);
        const TStreamInfo& info = player.StreamInfo();
        EXPECT_EQ(info.Title, "First");
        EXPECT_EQ(info.Duration, 0u);
        EXPECT_EQ(info.FileSize, 0u);
        EXPECT_EQ(info.BitRate, live.bitRate);
        EXPECT_EQ(info.SampleRate, 44100);
        EXPECT_EQ(player.LengthMs(), 0u);
        player.StartPlayback();
        // For the Ogg stream this needs the library to find the chain's
        // comments whatever packets the head and the first audio came in.
        EXPECT_TRUE(PumpUntil([&] { return !titles.empty() && titles.back() == "Second"; }, 15s))
            << (titles.empty() ? "no title change" : titles.back());
        EXPECT_EQ(player.StreamInfo().Duration, 0u);
        EXPECT_EQ(player.StreamInfo().BitRate, live.bitRate);
    }
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(NetworkTest, NetworkOggFileLengthComesFromItsDataOnceDownloaded) {
    // Its length once the download is complete comes from the data, not from
    // the nominal bit rate (which a quality-encoded file is far from). The
    // engine takes the library's length at that moment, so this holds once
    // the library measures a downloaded Ogg file from its data.
    const std::vector<char> body = ReadAll(OggFile("net-long.ogg", 20.0, "-q 6"));
    std::atomic<bool> opened{false};
    testhttp::HttpServer server([&](testhttp::Reply& c, const testhttp::Request&) {
        SendFileAfterOpen(c, "application/ogg", body, opened);
    });
    TBASSPlayer player;
    ASSERT_TRUE(player.PlayerReady());
    std::vector<std::string> downloaded;
    RecordDownloads(player, downloaded);
    ASSERT_TRUE(player.OpenStream(server.url("/files/net-long.ogg")));
    opened = true;
    EXPECT_EQ(player.StreamInfo().FileSize, body.size());
    ASSERT_TRUE(PumpUntil([&] { return !downloaded.empty(); }, 8s));
    EXPECT_NEAR(static_cast<double>(player.StreamInfo().Duration), 20000.0, 300.0);
    EXPECT_EQ(downloaded[0], std::to_string(player.StreamInfo().Duration));
    EXPECT_NEAR(static_cast<double>(player.LengthMs()), 20000.0, 300.0);
    EXPECT_TRUE(boxes.boxes.empty());
}

namespace {

enum class Misbehaviour { Silent, Garbage };

// A server that accepts and then either says nothing or sends random bytes,
// until it is released: then it closes every connection, old and new.
class MisbehavingServer {
  public:
    explicit MisbehavingServer(Misbehaviour kind)
        : server_([this, kind](testhttp::Reply& c, const testhttp::Request&) {
              std::mt19937 random(7);
              std::string noise(4096, '\0');
              while (!released_ && !c.stopping()) {
                  if (kind == Misbehaviour::Garbage) {
                      for (char& b : noise) b = static_cast<char>(random());
                      if (!c.send(noise)) return;
                  }
                  QThread::msleep(10);
              }
          }) {}
    std::string Url(const std::string& path) const { return server_.url(path); }
    void Release() { released_ = true; }

  private:
    std::atomic<bool> released_{false};
    testhttp::HttpServer server_;
};

}  // namespace

// The open of an address gives up on its own within the library's deadline
// of 5 s, whatever the server does; the box then reports the address.
TEST_F(NetworkTest, OpenOnSilentOrGarbageServerReturnsWithinTheDeadline) {
    TBASSPlayer player;
    ASSERT_TRUE(player.PlayerReady());
    for (const auto& [kind, name] :
         {std::pair{Misbehaviour::Silent, "silent"}, std::pair{Misbehaviour::Garbage, "garbage"}}) {
        MisbehavingServer server(kind);
        const std::string url = server.Url("/live");
        bool opened = true;
        const auto start = std::chrono::steady_clock::now();
        const bool inTime = ReturnsWithin(
            6s, [&server] { server.Release(); }, [&] { opened = player.OpenStream(url); });
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - start)
                            .count();
        std::printf("OpenStream on the %s server: %lld ms%s\n", name, static_cast<long long>(ms),
                    inTime ? "" : " (released by the test)");
        EXPECT_TRUE(inTime) << name << " server held the open " << ms << " ms";
        EXPECT_FALSE(opened) << name;
        EXPECT_EQ(player.ChannelKind(), CHANNEL_NONE);
    }
    ASSERT_EQ(boxes.boxes.size(), 2u);
    EXPECT_EQ(boxes.boxes[0].caption, "Confirm");
}
