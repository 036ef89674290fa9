// The fade before every interruption, on the real engine with the clock
// replaced: the volumes it sets, the stop, the restored volume.
#include "AutomationFixture.h"

using namespace schedtest;
using Strings = std::vector<std::string>;

namespace {

class FadeTest : public AutomationTest {
  protected:
    void SetUp() override {
        AutomationTest::SetUp();
        AddTrack(Tone("long.wav", 5));
        automation->PlaylistRowCommand(1);
        ASSERT_TRUE(port->Playing());
        port->log.clear();
        port->volumes.clear();
    }
    static Strings Fall(unsigned from, unsigned to) {
        Strings log;
        for (unsigned v = from; v >= to; --v) log.push_back("volume " + std::to_string(v));
        return log;
    }
};

TEST_F(FadeTest, FallsOneUnitAtATimeThenStopsAndRestoresTheSliderVolume) {
    std::vector<std::uint32_t> engineVolumes;
    clock.SetSleepHook([&](std::uint32_t) { engineVolumes.push_back(engine->Volume()); });
    const std::uint32_t tick = clock.TickCount();
    automation->FadeOutAndStop();
    Strings expected = Fall(255, 1);
    expected.push_back("stop");
    expected.push_back("volume 255");
    EXPECT_EQ(port->log, expected);
    EXPECT_FALSE(port->Playing());
    EXPECT_EQ(engine->Volume(), 255u);
    // About one second of falling, then 100 ms after the stop.
    EXPECT_EQ(clock.TickCount() - tick, 1000u + 100u);
    EXPECT_EQ(fadesBegun, 1);
    EXPECT_EQ(fadesEnded, 1);
    // The engine really had the falling volume while the fade slept.
    ASSERT_GE(engineVolumes.size(), 1000u);
    EXPECT_EQ(engineVolumes.front(), 255u);
    EXPECT_EQ(engineVolumes[499], 255u - 255u * 499u / 1000u);
    EXPECT_EQ(engineVolumes[999], 1u);
}

TEST_F(FadeTest, StartsFromTheSliderNotFromTheEnginesVolume) {
    port->SetOutputVolume(255);
    port->log.clear();
    volumeValue = 100;
    automation->FadeOutAndStop();
    Strings expected = Fall(100, 1);
    expected.push_back("stop");
    expected.push_back("volume 100");
    EXPECT_EQ(port->log, expected);
}

TEST_F(FadeTest, ATickCounterThatRunsPastTheEndNeverMakesItLouder) {
    // Coarse sleeps: the last reading lies well beyond the fade time.
    clock.SetSleepHook([&](std::uint32_t) { clock.Advance(29); });
    automation->FadeOutAndStop();
    ASSERT_GE(port->volumes.size(), 3u);
    ASSERT_EQ(port->log.end()[-2], "stop");
    for (size_t i = 1; i + 1 < port->volumes.size(); ++i) {
        EXPECT_LT(port->volumes[i], port->volumes[i - 1]) << "step " << i;
        EXPECT_GE(port->volumes[i], 1u);
    }
    EXPECT_EQ(port->volumes.back(), 255u);
}

TEST_F(FadeTest, AFadeTimeOfZeroOrBelowStopsAtOnce) {
    for (int time : {0, -5}) {
        if (!port->Playing()) automation->PlaylistRowCommand(1);
        port->log.clear();
        run().FadeTime = time;
        const std::uint32_t tick = clock.TickCount();
        automation->FadeOutAndStop();
        EXPECT_EQ(port->log, (Strings{"stop", "volume 255"})) << time;
        EXPECT_EQ(clock.TickCount(), tick) << time;
        EXPECT_FALSE(port->Playing());
    }
}

TEST_F(FadeTest, AnEntryDueDuringAFadeFiresRightAfterIt) {
    AddEntry("12:00:05", Tone("p1.wav", 5));
    AddEntry("12:00:06", Tone("p2.wav", 5));
    // The window's ticks keep running inside the fade, as timer messages do.
    size_t startedInFades = 0;
    clock.SetSleepHook([&](std::uint32_t) {
        const size_t before = port->started.size();
        if (clock.TimeOfDayMs() % 100 == 0) automation->Tick();
        startedInFades += port->started.size() - before;
    });
    TickAt(At(12, 0, 5));  // fades long.wav out (to 12:00:06.1), then p1
    EXPECT_EQ(LastStarted(), "p1.wav");
    EXPECT_EQ(startedInFades, 0u);
    TickAt(clock.TimeOfDayMs() + 50);  // the window reaches back to 12:00:05
    EXPECT_EQ(port->started, (Strings{"long.wav", "p1.wav", "p2.wav"}));
    EXPECT_EQ(fadesBegun, 2);
}

TEST_F(FadeTest, StopFadesAndTouchesNothingElse) {
    const unsigned row = run().CurrentPlaylistRow;
    automation->StopCommand();
    EXPECT_FALSE(port->Playing());
    EXPECT_EQ(run().CurrentPlaylistRow, row);
    EXPECT_EQ(port->started, Strings{"long.wav"});
    EXPECT_EQ(fadesBegun, 1);
    automation->StopCommand();  // nothing plays: no fade
    EXPECT_EQ(fadesBegun, 1);
}

}  // namespace
