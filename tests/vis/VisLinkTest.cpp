// The visualisation link end to end: the engine (in this process, on the
// null output) and a visualiser written for the test (VisPeer, a process of
// its own) speaking the documented protocol; players in other processes are
// kavplay.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <QProcess>

#include <cstdio>
#include <cstdlib>

#include "PeerProcess.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/support/BinDir.h"

using namespace enginetest;
using namespace std::chrono_literals;

namespace {

// A bin of the 2048-point spectrum falls on 44100 / 2048 Hz multiples.
constexpr double kBinHz = 44100.0 / 2048.0;
constexpr int kLeftBin = 50, kRightBin = 100;

struct FrameLine {
    int rate = 0, channels = 0, pos = 0, bin1 = 0, bin2 = 0, wave = 0;
};

bool ParseFrame(const std::string& line, FrameLine& f) {
    return std::sscanf(line.c_str(), "frame rate=%d channels=%d pos=%d bin1=%d bin2=%d wave=%d",
                       &f.rate, &f.channels, &f.pos, &f.bin1, &f.bin2, &f.wave) == 6;
}

// Stereo: a tone on bin 50 on the left, on bin 100 on the right.
std::string TwoToneWav(double seconds) {
    const std::string path = TempDir() + "/two-tones-" + std::to_string(seconds) + ".wav";
    if (::access(path.c_str(), R_OK) != 0)
        Run("sox -n -r 44100 -c 2 -b 16 '" + path + "' synth " + std::to_string(seconds) +
            " sine " + std::to_string(kLeftBin * kBinHz) + " sine " +
            std::to_string(kRightBin * kBinHz) + " vol 0.5");
    return path;
}

class VisLinkTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        // Private names for this run: other players on the machine stay out.
        ::setenv("KAV_IPC_SCOPE", ("vis-test-" + std::to_string(::getpid())).c_str(), 1);
    }
    void StartPlayer() {
        UseNullOutput();
        player = std::make_unique<TBASSPlayer>();
        ASSERT_TRUE(player->PlayerReady());
    }
    void TearDown() override { player.reset(); }

    // kavplay playing a tone on the null output, another player process.
    void StartKavplay(QProcess& kavplay, const std::string& file, int seconds) {
        kavplay.setProcessChannelMode(QProcess::MergedChannels);
        kavplay.start(QString::fromStdString((TestBinDir() / "kavplay").string()),
                      {"--null", "--library", "--max", QString::number(seconds),
                       QString::fromStdString(file)});
        ASSERT_TRUE(kavplay.waitForStarted(5000));
        ASSERT_TRUE(PumpUntil([&] { return kavplay.canReadLine(); }, 5s));
        PumpFor(300ms);  // playing
    }

    // Attaches and waits until the player has answered a request.
    static void Attach(PeerProcess& peer, const std::string& record1) {
        ASSERT_TRUE(peer.Send("attach 1"));
        ASSERT_TRUE(peer.Send("ask 1"));
        ASSERT_TRUE(peer.WaitFor(record1, 2s));
        peer.Take();
    }

    BoxRecorder boxes;
    std::unique_ptr<TBASSPlayer> player;
};

TEST_F(VisLinkTest, FramesOnlyWhileAttachedCarryTheStreamAndItsTones) {
    StartPlayer();
    PeerProcess peer;
    ASSERT_TRUE(peer.Ready());
    ASSERT_TRUE(player->OpenStream(TwoToneWav(6)));
    player->StartPlayback();
    peer.Collect(400ms);
    EXPECT_TRUE(peer.Take().empty()) << "data before the visualiser attached";

    ASSERT_TRUE(peer.Send("attach 0"));
    ASSERT_TRUE(peer.Send("ask 1"));
    peer.Collect(300ms);
    EXPECT_TRUE(peer.Take().empty()) << "'<' with lParam 0 attached";

    ASSERT_TRUE(peer.Send("attach 1"));
    ASSERT_TRUE(peer.Send("ask 1"));  // a record starts the frames of a stream already playing
    ASSERT_TRUE(peer.WaitFor("record 1 state=3", 2s));
    peer.Take();
    peer.Collect(1000ms);
    const auto frames = Starting(peer.Take(), "frame ");
    EXPECT_GE(frames.size(), 15u);
    EXPECT_LE(frames.size(), 45u);
    int lastPos = -1;
    for (const std::string& line : frames) {
        FrameLine f;
        ASSERT_TRUE(ParseFrame(line, f)) << line;
        EXPECT_EQ(f.rate, 44100) << line;
        EXPECT_EQ(f.channels, 2) << line;
        EXPECT_NEAR(f.bin1, kLeftBin, 1) << line;
        EXPECT_NEAR(f.bin2, kRightBin, 1) << line;
        EXPECT_GT(f.wave, 20) << line;
        EXPECT_GE(f.pos, lastPos) << line;
        lastPos = f.pos;
    }
    EXPECT_NEAR(lastPos, static_cast<int>(player->PositionMs()), 300);

    ASSERT_TRUE(peer.Send("detach"));
    peer.Collect(200ms);  // what was under way
    peer.Take();
    peer.Collect(500ms);
    EXPECT_TRUE(Starting(peer.Take(), "frame ").empty()) << "frames after 'F'";
}

TEST_F(VisLinkTest, RecordsAtOpenAtEachStateChangeAndOnRequest) {
    StartPlayer();
    PeerProcess peer;
    ASSERT_TRUE(peer.Ready());
    Attach(peer, "record 1 state=0");
    const std::string title(300, 'T');
    const std::string mp3 =
        CbrMp3("long-title.mp3", 0.5, "--id3v2-only --id3v2-latin1 --tt " + title);
    ASSERT_TRUE(player->OpenStream(mp3));
    ASSERT_EQ(player->StreamInfo().Title, title);
    // Record 1 follows record 2 at once and may already stand in the block
    // when record 2's notice is read: the notice of 276 bytes tells it came.
    ASSERT_TRUE(peer.WaitFor("record 1 state=1", 2s));
    const auto opened = peer.Take();
    EXPECT_EQ(Starting(opened, "record 2 ").size() + Starting(opened, "notice 80 276").size(), 1u);
    ASSERT_TRUE(peer.Send("ask 2"));
    ASSERT_TRUE(peer.WaitFor("record 2 ", 2s));
    const auto& s = player->StreamInfo();
    EXPECT_EQ(
        Starting(peer.Take(), "record 2 "),
        std::vector<std::string>{"record 2 rate=44100 kbps=128 channels=2 ms=" +
                                 std::to_string(s.Duration) + " title=" + title.substr(0, 255)});

    player->StartPlayback();
    ASSERT_TRUE(peer.WaitFor("record 1 state=3", 2s));
    ASSERT_TRUE(peer.WaitFor("record 1 state=2", 5s)) << "no record at the end of the stream";
    peer.Take();
    player->SetSyncVisWindow(true);
    ASSERT_TRUE(peer.WaitFor("record 3 sync=1", 2s));

    const std::pair<const char*, const char*> requests[] = {{"ask 1", "record 1 state=2"},
                                                            {"ask 2", "record 2 rate=44100"},
                                                            {"ask 3", "record 3 sync=1"}};
    for (const auto& [ask, answer] : requests) {
        ASSERT_TRUE(peer.Send(ask));
        EXPECT_TRUE(peer.WaitFor(answer, 2s)) << ask;
        peer.Take();
    }
    for (const char* ask : {"ask 4", "ask 0", "ask -1"}) {
        ASSERT_TRUE(peer.Send(ask));
        peer.Collect(300ms);
        EXPECT_TRUE(peer.Take().empty()) << ask;
    }
}

TEST_F(VisLinkTest, MessagesOfTheWrongSizeOrNameAreDropped) {
    StartPlayer();
    PeerProcess peer;
    ASSERT_TRUE(peer.Ready());
    const auto packet = [](const std::string& name, int w, int l) {
        std::string hex;
        char byte[3];
        for (int i = 0; i < 8; ++i)
            hex += i == 0 ? (std::snprintf(byte, 3, "%02x", w), byte) : "00";
        for (int i = 0; i < 8; ++i)
            hex += i == 0 ? (std::snprintf(byte, 3, "%02x", l), byte) : "00";
        for (unsigned char c : name) hex += (std::snprintf(byte, 3, "%02x", c), byte);
        return hex;
    };
    const std::string bad[] = {
        packet("WM_SendingDatx", '<', 1),                // a name this player never registered
        packet("WM_SendingData", '<', 1).substr(0, 30),  // cut inside the parameters
        packet("WM_SendingData" + std::string(250, 'a'), '<', 1),  // longer than any message
    };
    for (const std::string& hex : bad) {
        ASSERT_TRUE(peer.Send("raw " + hex));
        ASSERT_TRUE(peer.Send("ask 1"));
        peer.Collect(300ms);
        EXPECT_TRUE(peer.Take().empty()) << "attached by " << hex;
    }
    // The same bytes, put together right, attach.
    ASSERT_TRUE(peer.Send("raw " + packet("WM_SendingData", '<', 1)));
    ASSERT_TRUE(peer.Send("ask 1"));
    EXPECT_TRUE(peer.WaitFor("record 1 state=0", 2s));
}

TEST_F(VisLinkTest, ASecondPlayerNeverSends) {
    StartPlayer();  // the first player: idle, so it sends nothing itself
    PeerProcess peer;
    ASSERT_TRUE(peer.Ready());
    QProcess second;
    StartKavplay(second, TwoToneWav(6), 3);
    ASSERT_TRUE(peer.Send("attach 1"));  // reaches the first player only
    ASSERT_TRUE(peer.Send("ask 2"));
    peer.Collect(1000ms);
    EXPECT_EQ(peer.Take(),
              (std::vector<std::string>{"record 2 rate=0 kbps=0 channels=0 ms=0 title="}));
    second.kill();
    second.waitForFinished(2000);
}

TEST_F(VisLinkTest, APlayerKilledLeavesTheLinkToTheNextOne) {
    PeerProcess peer;
    ASSERT_TRUE(peer.Ready());
    QProcess first;
    StartKavplay(first, TwoToneWav(6), 20);
    ASSERT_TRUE(peer.Send("attach 1"));
    ASSERT_TRUE(peer.Send("ask 1"));
    ASSERT_TRUE(peer.WaitFor("frame ", 3s)) << "the first player does not send";
    ::kill(static_cast<pid_t>(first.processId()), SIGKILL);
    ASSERT_TRUE(first.waitForFinished(2000));
    peer.Take();

    StartPlayer();
    Attach(peer, "record 1 state=0");
    ASSERT_TRUE(player->OpenStream(TwoToneWav(6)));
    player->StartPlayback();
    ASSERT_TRUE(peer.WaitFor("frame ", 3s)) << "the next player did not take the link over";
    FrameLine f;
    ASSERT_TRUE(ParseFrame(Starting(peer.Take(), "frame ").back(), f));
    EXPECT_NEAR(f.bin1, kLeftBin, 1);
}

}  // namespace
