// The player's transport on the real audio library and its null output.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>

#include <algorithm>

#include "EngineTestSupport.h"
#include "platform/bassbind/Dynamic_BASS.h"

using namespace enginetest;
using namespace std::chrono_literals;

namespace {

class PlayerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        UseNullOutput();
        player = std::make_unique<TBASSPlayer>();
        ASSERT_TRUE(player->PlayerReady());
        player->OnPlayEnd = [this](TBASSPlayer* sender) {
            EXPECT_EQ(sender, player.get());
            if (QThread::currentThread() != QCoreApplication::instance()->thread())
                offGuiThread = true;
            ++playEnds;
        };
    }
    void TearDown() override { player.reset(); }

    bool WaitForPosition(uint32_t ms) {
        return PumpUntil([&] { return player->PositionMs() >= ms; }, 3s);
    }

    BoxRecorder boxes;
    std::unique_ptr<TBASSPlayer> player;
    int playEnds = 0;
    bool offGuiThread = false;
};

}  // namespace

TEST_F(PlayerTest, CreationReportsTheBoundLibrary) {
    EXPECT_EQ(player->Version(), "1.5");
    EXPECT_EQ(player->BASSDLLVer(), "2.0");
    EXPECT_EQ(player->PlayState(), PLAYSTATE_IDLE);
    EXPECT_EQ(player->Volume(), 255u);
    EXPECT_EQ(player->VisScale(), 512);
    EXPECT_FALSE(player->PluginFirst());
    EXPECT_FALSE(player->PlayerTimerEnabled());
    EXPECT_EQ(BASS_GetDevice(), StartupDevice);
    // Nothing opened: the transport does nothing.
    player->StartPlayback();
    player->StopPlayback();
    player->SetPositionMs(0);
    EXPECT_EQ(player->PlayState(), PLAYSTATE_IDLE);
    EXPECT_EQ(player->PositionMs(), 0u);
    EXPECT_EQ(player->LengthMs(), 0u);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(PlayerTest, StatesThroughOpenStartStopRestartAndNaturalEnd) {
    const std::string wav = ToneWav("state.wav", 1.2);
    ASSERT_TRUE(player->OpenStream(wav));
    EXPECT_EQ(player->PlayState(), PLAYSTATE_READY);
    EXPECT_EQ(player->ChannelKind(), CHANNEL_STREAM);
    EXPECT_EQ(player->CurrentFile(), wav);

    player->StartPlayback();
    EXPECT_EQ(player->PlayState(), PLAYSTATE_PLAYING);
    EXPECT_FALSE(player->PlayerTimerEnabled());  // nobody asked for spectrum bands
    ASSERT_TRUE(WaitForPosition(300));
    player->StartPlayback();  // while playing: nothing
    EXPECT_EQ(player->PlayState(), PLAYSTATE_PLAYING);

    player->StopPlayback();
    EXPECT_EQ(player->PlayState(), PLAYSTATE_STOPPED);
    const uint32_t stoppedAt = player->PositionMs();
    EXPECT_GE(stoppedAt, 300u);
    player->StopPlayback();  // when not playing: nothing

    // A second start plays again from the beginning.
    player->StartPlayback();
    EXPECT_EQ(player->PlayState(), PLAYSTATE_PLAYING);
    EXPECT_LT(player->PositionMs(), 200u);

    ASSERT_TRUE(PumpUntil([&] { return playEnds > 0; }, 4s));
    EXPECT_EQ(player->PlayState(), PLAYSTATE_STOPPED);
    PumpFor(300ms);
    EXPECT_EQ(playEnds, 1);
    EXPECT_FALSE(offGuiThread);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(PlayerTest, RestartAfterNaturalEndEndsAgain) {
    ASSERT_TRUE(player->OpenStream(ToneWav("twice.wav", 0.5)));
    player->StartPlayback();
    ASSERT_TRUE(PumpUntil([&] { return playEnds == 1; }, 3s));
    player->StartPlayback();
    EXPECT_EQ(player->PlayState(), PLAYSTATE_PLAYING);
    ASSERT_TRUE(PumpUntil([&] { return playEnds == 2; }, 3s));
    EXPECT_EQ(player->PlayState(), PLAYSTATE_STOPPED);
}

TEST_F(PlayerTest, NoPlayEndAfterStopPlayback) {
    ASSERT_TRUE(player->OpenStream(ToneWav("stopped.wav", 0.6)));
    player->StartPlayback();
    ASSERT_TRUE(WaitForPosition(100));
    player->StopPlayback();
    PumpFor(900ms);  // past the file's end
    EXPECT_EQ(playEnds, 0);
    EXPECT_EQ(player->PlayState(), PLAYSTATE_STOPPED);
}

TEST_F(PlayerTest, EndQueuedBeforeAStopIsNotReported) {
    ASSERT_TRUE(player->OpenStream(ToneWav("queued.wav", 0.3)));
    player->StartPlayback();
    // The end is reached while messages wait; the user stops before they are seen.
    QThread::msleep(600);
    player->StopPlayback();
    PumpFor(300ms);
    EXPECT_EQ(playEnds, 0);
    EXPECT_EQ(player->PlayState(), PLAYSTATE_STOPPED);
}

TEST_F(PlayerTest, EndOfAClosedChannelDoesNotEndTheNextOne) {
    const std::string shortWav = ToneWav("short.wav", 0.4);
    const std::string longWav = ToneWav("long.wav", 3.0);
    ASSERT_TRUE(player->OpenStream(shortWav));
    player->StartPlayback();
    // Let the short file end while messages are not dispatched, then switch.
    QThread::msleep(700);
    player->StopPlayback();
    ASSERT_TRUE(player->OpenStream(longWav));
    player->StartPlayback();
    PumpFor(400ms);
    EXPECT_EQ(playEnds, 0);
    EXPECT_EQ(player->PlayState(), PLAYSTATE_PLAYING);
}

TEST_F(PlayerTest, PositionAndLengthFollowTheFile) {
    ASSERT_TRUE(player->OpenStream(ToneWav("length.wav", 2.0)));
    EXPECT_EQ(player->LengthMs(), 2000u);
    EXPECT_EQ(player->StreamInfo().Duration, 2000u);
    EXPECT_EQ(player->PositionMs(), 0u);
    player->StartPlayback();
    ASSERT_TRUE(WaitForPosition(250));
    const uint32_t early = player->PositionMs();
    EXPECT_LT(early, 1000u);

    player->SetPositionMs(1500);
    EXPECT_GE(player->PositionMs(), 1500u);
    EXPECT_LT(player->PositionMs(), 2000u);

    const uint32_t before = player->PositionMs();
    player->SetPositionMs(2001);  // past the end: ignored
    EXPECT_GE(player->PositionMs(), before);
    EXPECT_LT(player->PositionMs(), 2000u);
    EXPECT_EQ(player->PlayState(), PLAYSTATE_PLAYING);
}

TEST_F(PlayerTest, Mp3LengthMatchesTheEncodedTone) {
    ASSERT_TRUE(player->OpenStream(CbrMp3("len.mp3", 1.5)));
    // The encoder adds at most a few frames of delay and padding.
    EXPECT_NEAR(static_cast<double>(player->LengthMs()), 1500.0, 80.0);
    EXPECT_NEAR(static_cast<double>(player->StreamInfo().Duration), 1500.0, 80.0);
}

TEST_F(PlayerTest, VolumeIsCappedAt255AndReachesTheLibrary) {
    player->SetOutputVolume(300);
    EXPECT_EQ(player->Volume(), 255u);
    EXPECT_EQ(BASS_GetConfig(BASS_CONFIG_GVOL_STREAM), 255u);
    EXPECT_EQ(BASS_GetConfig(BASS_CONFIG_GVOL_MUSIC), 255u);
    player->SetOutputVolume(40);
    EXPECT_EQ(player->Volume(), 40u);
    EXPECT_EQ(BASS_GetConfig(BASS_CONFIG_GVOL_STREAM), 40u);
    EXPECT_EQ(BASS_GetConfig(BASS_CONFIG_GVOL_MUSIC), 40u);
}

TEST_F(PlayerTest, SpectrumBandOfTheToneIsTheHighest) {
    // 1378 Hz lies in bin 16 of the 512-point transform at 44100 Hz: band 5.
    ASSERT_TRUE(player->OpenStream(ToneWav("fft.wav", 2.0, 2, 1378)));
    std::vector<TBandOut> deliveries;
    bool offGui = false;
    player->OnNewFFTData = [&](TBASSPlayer*, const TBandOut& bands) {
        if (QThread::currentThread() != QCoreApplication::instance()->thread()) offGui = true;
        deliveries.push_back(bands);
    };
    player->StartPlayback();
    EXPECT_TRUE(player->PlayerTimerEnabled());
    ASSERT_TRUE(PumpUntil([&] { return deliveries.size() >= 10; }, 3s));
    EXPECT_FALSE(offGui);
    const TBandOut& last = deliveries.back();
    const auto loudest = std::max_element(last.begin(), last.end()) - last.begin();
    EXPECT_EQ(loudest, 5);
    EXPECT_GT(last[5], 0);
    // Once the channel stops, the timer stops itself at its next tick.
    player->StopPlayback();
    EXPECT_TRUE(PumpUntil([&] { return !player->PlayerTimerEnabled(); }, 1s));
}

TEST_F(PlayerTest, DspPluginIsReportedInvalid) {
    EXPECT_FALSE(player->LoadDSPPlugin("dsp_wd.dll", 0, 0));
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].caption, "Error");
    EXPECT_EQ(boxes.boxes[0].text, "Specified plug-in is invalid");
    player->UnloadDSPPlugin();
}

TEST_F(PlayerTest, PluginFirstMessageSetsTheProperty) {
    win::PostMessage(player->MessageWindow(), WM_BP_PLUGINFIRST, 0, 1);
    ASSERT_TRUE(PumpUntil([&] { return player->PluginFirst(); }, 1s));
    win::PostMessage(player->MessageWindow(), WM_BP_PLUGINFIRST, 0, 0);
    EXPECT_TRUE(PumpUntil([&] { return !player->PluginFirst(); }, 1s));
    EXPECT_EQ(win::SendMessage(player->MessageWindow(), win::WM_QUERYENDSESSION), 1);
}

TEST_F(PlayerTest, VeryShortTracksAlwaysEnd) {
    for (const double seconds : {0.1, 0.02}) {
        const std::string wav = ToneWav("blip" + std::to_string(seconds) + ".wav", seconds);
        for (int round = 1; round <= 20; ++round) {
            ASSERT_TRUE(player->OpenStream(wav));
            player->StartPlayback();
            ASSERT_TRUE(PumpUntil([&] { return playEnds == round; }, 3s))
                << seconds << " s, round " << round << ": no end";
            EXPECT_EQ(player->PlayState(), PLAYSTATE_STOPPED);
        }
        playEnds = 0;
    }
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(PlayerTest, TrackThatEndsRightAfterItsStartIsReported) {
    ASSERT_TRUE(player->OpenStream(ToneWav("gap.wav", 0.1)));
    // The track plays to its end, and the library has had time to announce
    // it, before StartPlayback goes on.
    bool endedDuringStart = false;
    player->AfterChannelStart = [&] {
        for (int i = 0; i < 300 && !endedDuringStart; ++i) {
            QThread::msleep(10);
            endedDuringStart = BASS_ChannelIsActive(player->ChannelHandle()) == BASS_ACTIVE_STOPPED;
        }
        QThread::msleep(300);
    };
    player->StartPlayback();
    ASSERT_TRUE(endedDuringStart);
    EXPECT_TRUE(PumpUntil([&] { return playEnds == 1; }, 3s));
    EXPECT_EQ(player->PlayState(), PLAYSTATE_STOPPED);
}
