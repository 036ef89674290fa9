// Plug-in tracks joined without a gap: the prepared next track's plug-in is
// started while the one before it drains, and its output follows the other's
// last sample. Played through the real WAV plug-in and captured on the null
// output, with what an operator may do meanwhile.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>

#include <filesystem>
#include <functional>
#include <utility>

#include "PluginHost.h"
#include "plugins/ioplug.h"
#include "tests/support/Capture.h"

using namespace enginetest;
using namespace plugintest;
using namespace std::chrono_literals;
using bass_test::Capture;

namespace {

class PluginHandOverTest : public ::testing::Test {
  protected:
    void Start(const std::string& name) {
        capture = TempDir() + "/handover-" + name + ".wav";
        player = StartPlayer(capture);
        ASSERT_TRUE(player->PlayerReady());
        LoadWinampPlugin("in_wave.dll");
        player->SetPluginFirst(true);
        player->OnPlayEnd = [this](TBASSPlayer*) {
            ++playEnds;
            onGui &= QThread::currentThread() == QCoreApplication::instance()->thread();
            // Once: what it does may set the next one.
            if (auto then = std::exchange(afterEnd, nullptr)) then();
        };
    }
    void TearDown() override { player.reset(); }

    // Frames first..first+count-1 of the counted sequence, as a WAV file.
    std::string Counted(const std::string& name, size_t first, size_t count) {
        const std::string path = TempDir() + "/handover-" + name + ".wav";
        bass_test::writeCountedWav(path, first, count);
        return path;
    }

    // As the automation does: the next track opened ahead and queued.
    void PrepareAndQueue(const std::string& path) {
        ASSERT_TRUE(player->PrepareStream(path));
        ASSERT_TRUE(player->QueuePrepared());
    }

    // What an end opens and starts; then, if given, what it prepares next.
    void OnEndPlay(const std::string& path, const std::string& thenPrepare = {}) {
        afterEnd = [this, path, thenPrepare] {
            ASSERT_TRUE(player->OpenStream(path));
            ASSERT_TRUE(player->StartPlayback());
            if (!thenPrepare.empty()) PrepareAndQueue(thenPrepare);
        };
    }

    bool HandingOver() const { return ioplug::OutgoingStream() != 0; }

    Capture Heard() {
        player.reset();  // the capture is complete once the output is closed
        Capture c;
        EXPECT_TRUE(c.load(capture));
        return c;
    }

    BoxRecorder boxes;
    std::string capture;
    std::unique_ptr<TBASSPlayer> player;
    std::function<void()> afterEnd;
    int playEnds = 0;
    bool onGui = true;
};

}  // namespace

// Three tracks of lengths that end anywhere in an output period, each
// prepared and queued as the one before it plays: heard as one counted
// sequence, not a sample missing, repeated or silent between them. The
// track that drains is still what plays: its position goes on, a seek is
// refused, and its end is told once, before the follower counts as playing.
TEST_F(PluginHandOverTest, TracksJoinWithoutAMissingOrSilentSample) {
    constexpr size_t kA = 30011, kB = 20003, kC = 15121;
    Start("join");
    const std::string a = Counted("a", 0, kA), b = Counted("b", kA, kB),
                      c = Counted("c", kA + kB, kC);
    ASSERT_TRUE(player->OpenStream(a));
    ASSERT_TRUE(player->StartPlayback());
    PrepareAndQueue(b);
    OnEndPlay(b, c);
    // Each hand-over is known by its draining stream.
    int handOvers = 0;
    DWORD draining = 0;
    uint32_t lastPosition = 0;
    bool positionWentBack = false, seekTaken = false;
    auto watch = [&] {
        const DWORD now = player->PlayState() == PLAYSTATE_PLAYING ? ioplug::OutgoingStream() : 0;
        if (now != 0 && now != draining) {
            ++handOvers;
            lastPosition = player->PositionMs();
            player->SetPositionMs(0);
            seekTaken |= player->PositionMs() + 50 < lastPosition;
        } else if (now != 0) {
            const uint32_t position = player->PositionMs();
            positionWentBack |= position < lastPosition;
            lastPosition = position;
        }
        draining = now;
        if (playEnds == 1 && !afterEnd) OnEndPlay(c);
        return playEnds >= 3;
    };
    ASSERT_TRUE(PumpUntil(watch, 10s)) << playEnds << " ends";
    EXPECT_EQ(handOvers, 2);
    EXPECT_FALSE(positionWentBack);
    EXPECT_FALSE(seekTaken) << "a track that handed over was sought";
    EXPECT_TRUE(onGui);
    PumpFor(200ms);
    EXPECT_EQ(playEnds, 3);
    EXPECT_EQ(bass_test::checkOneRun(Heard(), kA + kB + kC), "");
}

// Stopped while handing over: the track that drains and its follower both
// stop, nothing is told as ended, and Play starts the track again.
TEST_F(PluginHandOverTest, StopWhileHandingOverStopsBothTracks) {
    constexpr size_t kA = 44100;
    Start("stop");
    const std::string a = Counted("a", 0, kA);
    ASSERT_TRUE(player->OpenStream(a));
    ASSERT_TRUE(player->StartPlayback());
    PrepareAndQueue(ToneWav("handover-stop-b.wav", 0.5));
    ASSERT_TRUE(PumpUntil([&] { return HandingOver(); }, 5s));
    player->StopPlayback();
    EXPECT_EQ(player->PlayState(), PLAYSTATE_STOPPED);
    EXPECT_EQ(ioplug::OutgoingStream(), 0u);
    EXPECT_EQ(ioplug::CurrentStream(), 0u) << "the follower's output is still open";
    PumpFor(700ms);
    EXPECT_EQ(playEnds, 0);
    ASSERT_TRUE(player->StartPlayback());
    ASSERT_TRUE(PumpUntil([&] { return playEnds == 1; }, 5s));
    EXPECT_EQ(player->PlayState(), PLAYSTATE_STOPPED);
    // The first play was cut; the second is heard whole, the follower never.
    const Capture heard = Heard();
    const auto sounds = bass_test::segments(heard.left, 0, 441);
    ASSERT_EQ(sounds.size(), 2u);
    EXPECT_LT(sounds[0].length(), kA);
    EXPECT_EQ(sounds[1].length(), kA);
}

// Frames of the sine (the same on both channels), which no frame of the
// counted sequence is.
size_t SineFrames(const Capture& heard) {
    size_t n = 0;
    for (size_t i = 0; i < heard.frames(); ++i)
        n += heard.left[i] != 0 && heard.left[i] == heard.right[i];
    return n;
}

// The follower is not what comes next after all: dropped while the track
// drains (as a fade does), or the operator starts another file meanwhile.
// The follower is never heard; dropped, the track ends whole.
TEST_F(PluginHandOverTest, AFollowerThatIsNotTakenIsNeverHeard) {
    constexpr size_t kA = 30011, kC = 20003;
    for (const bool dropped : {true, false}) {
        SCOPED_TRACE(dropped ? "dropped while draining" : "another file started meanwhile");
        playEnds = 0;
        Start(dropped ? "dropped" : "other");
        const std::string a = Counted("a", 0, kA), c = Counted("c", kA, kC);
        ASSERT_TRUE(player->OpenStream(a));
        ASSERT_TRUE(player->StartPlayback());
        PrepareAndQueue(ToneWav("handover-not-b.wav", 0.5));
        ASSERT_TRUE(PumpUntil([&] { return HandingOver(); }, 5s));
        if (dropped) {
            player->DropPrepared();
            EXPECT_EQ(ioplug::CurrentStream(), 0u) << "the follower's output is still open";
            EXPECT_TRUE(HandingOver()) << "the track that drains was stopped with it";
            OnEndPlay(c);
        } else {
            ASSERT_TRUE(player->OpenStream(c));
            ASSERT_TRUE(player->StartPlayback());
            EXPECT_FALSE(HandingOver()) << "the track that drained still plays";
        }
        ASSERT_TRUE(PumpUntil([&] { return playEnds == (dropped ? 2 : 1); }, 5s));
        EXPECT_EQ(player->PreparedPath(), "");
        const Capture heard = Heard();
        EXPECT_EQ(SineFrames(heard), 0u) << "the follower was heard";
        // Frames of a and c only, each once and in order.
        if (dropped) {
            EXPECT_EQ(bass_test::checkCounted(heard, kA + kC), "");
        }
    }
}

// The follower's file is deleted while the track before it drains: it is
// dropped at the next look (the automation asks again on every tick) and its
// open then fails as any missing file's.
TEST_F(PluginHandOverTest, AFollowerWhoseFileIsDeletedIsDropped) {
    constexpr size_t kA = 44100;
    Start("deleted");
    const std::string a = Counted("a", 0, kA);
    const std::string b = ToneWav("handover-deleted-b.wav", 0.5);
    ASSERT_TRUE(player->OpenStream(a));
    ASSERT_TRUE(player->StartPlayback());
    PrepareAndQueue(b);
    ASSERT_TRUE(PumpUntil([&] { return HandingOver(); }, 5s));
    ASSERT_TRUE(std::filesystem::remove(b));
    EXPECT_FALSE(player->QueuePrepared());
    EXPECT_EQ(player->PreparedPath(), "");
    EXPECT_EQ(ioplug::CurrentStream(), 0u) << "the follower's output is still open";
    bool opened = true;
    afterEnd = [&] { opened = player->OpenStream(b); };
    ASSERT_TRUE(PumpUntil([&] { return playEnds == 1; }, 5s));
    EXPECT_FALSE(opened);
    EXPECT_EQ(bass_test::checkOneRun(Heard(), kA), "");
}
