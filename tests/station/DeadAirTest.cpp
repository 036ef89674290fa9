// The dead-air detector and the service manager's keep-alives on a clock the
// tests drive and a level they set: every rule checked at the tick it comes
// due, without waiting for real time.
#include <gtest/gtest.h>

#include <vector>

#include "DeadAir.h"
#include "ServiceWatch.h"
#include "platform/win/Clock.h"

namespace {

using station::DeadAirKind;

// The level the test sets: what the output "took" since the previous read.
class FakeLevel : public station::OutputLevelSource {
  public:
    bool Read(Reading& reading) override {
        ++reads;
        if (!open) return false;
        reading = {db, framesPerRead};
        return true;
    }
    double db = -20.0;
    std::uint64_t framesPerRead = 4410;
    bool open = true;
    int reads = 0;
};

class DeadAirTest : public testing::Test {
  protected:
    void SetUp() override { win::SetClock(&clock); }
    void TearDown() override { win::SetClock(nullptr); }

    // Ticks every 100 ms for `ms`, the position moving with the clock unless
    // frozen; the first verdict found (and its time since the start), if any.
    struct Found {
        DeadAirKind kind = DeadAirKind::None;
        std::uint32_t atMs = 0;
        bool reopen = false;
    };
    Found Run(station::DeadAirDetector& d, std::uint32_t ms, bool playing = true,
              bool positionMoves = true) {
        for (std::uint32_t t = 0; t < ms; t += 100) {
            clock.Advance(100);
            if (positionMoves) position += 100;
            const station::DeadAirVerdict v = d.Check(playing, position);
            if (v.kind != DeadAirKind::None) return {v.kind, t + 100, v.reopenOutput};
        }
        return {};
    }

    win::ManualClock clock;
    FakeLevel level;
    std::uint32_t position = 0;
};

TEST_F(DeadAirTest, SilenceIsFoundWhenItHasLastedTheTimeSetAndNotBefore) {
    const struct {
        const char* what;
        double db;
        bool open;
        std::uint64_t frames;
        int seconds;
        DeadAirKind expected;
    } cases[] = {
        {"digital silence", -200, true, 4410, 5, DeadAirKind::Silence},
        {"noise at -70 dBFS", -70, true, 4410, 5, DeadAirKind::Silence},
        {"just under the level", -50.1, true, 4410, 20, DeadAirKind::Silence},
        {"an output that takes nothing", -20, true, 0, 5, DeadAirKind::Silence},
        {"no output open", -20, false, 4410, 5, DeadAirKind::Silence},
        {"a quiet passage at -40 dBFS", -40, true, 4410, 5, DeadAirKind::None},
        {"exactly at the level", -50, true, 4410, 5, DeadAirKind::None},
        {"turned off", -200, true, 4410, 0, DeadAirKind::None},
    };
    for (const auto& c : cases) {
        level.db = c.db;
        level.open = c.open;
        level.framesPerRead = c.frames;
        station::DeadAirDetector d(level, {.silenceSeconds = c.seconds, .stallMs = 1'000'000});
        const Found found = Run(d, 60'000);
        EXPECT_EQ(found.kind, c.expected) << c.what;
        // Counted from the first tick that heard nothing.
        if (c.expected == DeadAirKind::Silence) {
            EXPECT_EQ(found.atMs, std::uint32_t(c.seconds) * 1000 + 100) << c.what;
        }
    }
}

// Any stretch loud enough starts the count again; the verdict restarts it too.
TEST_F(DeadAirTest, SoundInBetweenStartsTheCountAgain) {
    station::DeadAirDetector d(level, {.silenceSeconds = 5});
    level.db = -200;
    EXPECT_EQ(Run(d, 4900).kind, DeadAirKind::None);
    level.db = -30;
    EXPECT_EQ(Run(d, 100).kind, DeadAirKind::None);
    level.db = -200;
    EXPECT_EQ(Run(d, 4900).kind, DeadAirKind::None);
    const Found found = Run(d, 1000);
    EXPECT_EQ(found.kind, DeadAirKind::Silence);
    EXPECT_EQ(found.atMs, 100u);
    EXPECT_EQ(Run(d, 4900).kind, DeadAirKind::None) << "a fresh count after the verdict";
}

// A stop, a fade or a pause is not the playing state: nothing counts there,
// and the count starts afresh when playing resumes.
TEST_F(DeadAirTest, NothingCountsOutsideThePlayingState) {
    station::DeadAirDetector d(level, {.silenceSeconds = 5});
    level.db = -200;
    EXPECT_EQ(Run(d, 4000).kind, DeadAirKind::None);
    EXPECT_EQ(Run(d, 60'000, false, false).kind, DeadAirKind::None);
    EXPECT_EQ(Run(d, 4900).kind, DeadAirKind::None);
    EXPECT_EQ(Run(d, 200).kind, DeadAirKind::Silence);
    EXPECT_GT(level.reads, 600) << "the meter is read while nothing plays, too";
}

TEST_F(DeadAirTest, APositionThatStandsStillForFiveSecondsIsAStall) {
    station::DeadAirDetector d(level, {.silenceSeconds = 20});
    EXPECT_EQ(Run(d, 3000).kind, DeadAirKind::None);
    const Found found = Run(d, 10'000, true, false);
    EXPECT_EQ(found.kind, DeadAirKind::Stall);
    EXPECT_EQ(found.atMs, 5000u);
}

TEST_F(DeadAirTest, TheThirdSkipInARowAsksForTheDeviceAndSoundEndsTheRun) {
    station::DeadAirDetector d(level, {.silenceSeconds = 2});
    level.db = -200;
    std::vector<bool> reopen;
    for (int i = 0; i < 4; ++i) reopen.push_back(Run(d, 10'000).reopen);
    EXPECT_EQ(reopen, (std::vector<bool>{false, false, true, false}));
    level.db = -20;
    Run(d, 500);  // heard: the run of skips is over
    level.db = -200;
    reopen.clear();
    for (int i = 0; i < 3; ++i) reopen.push_back(Run(d, 10'000).reopen);
    EXPECT_EQ(reopen, (std::vector<bool>{false, false, true}));
}

TEST(ServiceWatchTest, KeepAlivesComeAtThePeriodOnlyWhileThePositionMoves) {
    win::ManualClock clock;
    win::SetClock(&clock);
    station::ServiceWatch watch(station::KeepAlivePeriodMs(1'000'000));  // a 1 s watchdog
    ASSERT_EQ(watch.PeriodMs(), 500u);
    std::uint32_t position = 0;
    auto run = [&](std::uint32_t ms, bool playing, bool moving) {
        std::vector<std::uint32_t> sent;
        for (std::uint32_t t = 0; t < ms; t += 100) {
            clock.Advance(100);
            if (moving) position += 100;
            if (watch.KeepAliveDue(playing, position)) sent.push_back(t + 100);
        }
        return sent;
    };
    EXPECT_EQ(run(1600, false, false), (std::vector<std::uint32_t>{100, 600, 1100, 1600}));
    EXPECT_EQ(run(1500, true, true), (std::vector<std::uint32_t>{500, 1000, 1500}));
    EXPECT_TRUE(run(3000, true, false).empty()) << "a stuck output gets no keep-alive";
    EXPECT_EQ(run(600, true, true), (std::vector<std::uint32_t>{100, 600}));
    EXPECT_EQ(station::KeepAlivePeriodMs(0), 0u);
    station::ServiceWatch off(0);
    EXPECT_FALSE(off.KeepAliveDue(false, 0));
    win::SetClock(nullptr);
}

}  // namespace
