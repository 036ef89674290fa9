// The scheduler's start rules and playback control's advance, on the real
// engine with the clock replaced: a day runs in well under a second.
#include "AutomationFixture.h"

#include <set>

#include "app/lists/ListFiles.h"
#include "app/lists/Markers.h"

using namespace schedtest;
using Strings = std::vector<std::string>;

namespace {

class TimeRulesTest : public AutomationTest {};

TEST_F(TimeRulesTest, TheWindowIsClosedAndItsBorderFiresOnlyOnce) {
    AddEntry("12:00:10", Tone("p1.wav"));
    run().PreviousTick = At(12, 0, 9, 950);
    TickAt(At(12, 0, 9, 999));
    EXPECT_TRUE(port->started.empty());
    TickAt(At(12, 0, 10, 0));  // the upper end of the window
    EXPECT_EQ(port->started, Strings{"p1.wav"});
    EXPECT_EQ(run().LastFired, At(12, 0, 10));
    EXPECT_TRUE(run().PlayingFromProgramme);
    EXPECT_EQ(prgmlist.Cell(0, 1), kRowMarker);
    // The next window begins on the same time: LastFired keeps it from firing again.
    TickAt(At(12, 0, 10, 100));
    EXPECT_EQ(port->started.size(), 1u);
}

TEST_F(TimeRulesTest, TheLowerEndOfTheWindowFiresToo) {
    AddEntry("12:00:10", Tone("p1.wav"));
    run().PreviousTick = At(12, 0, 10);
    TickAt(At(12, 0, 10, 100));
    EXPECT_EQ(port->started, Strings{"p1.wav"});
}

TEST_F(TimeRulesTest, AClockThatHasNotMovedEndsTheTick) {
    AddEntry("12:00:10", Tone("p1.wav"));
    run().PreviousTick = At(12, 0, 10);
    TickAt(At(12, 0, 10));
    EXPECT_TRUE(port->started.empty());
    EXPECT_EQ(run().LastFired, 0u);
}

TEST_F(TimeRulesTest, NoTimeNoNumberAndMidnightNeverStartByThemselves) {
    for (const char* start : {"--:--:--", "", "noticias", "00:00:00", "0:00", "...", "%H:00:00"})
        AddEntry(start, Tone("p1.wav"));
    clock.SetTimeOfDay(At(23, 0));
    run().PreviousTick = At(23, 0);
    EXPECT_EQ(RunFor(2 * 3600 * 1000), Strings{});
}

TEST_F(TimeRulesTest, AnEntryThatPassedBeforeTheStartDoesNotFire) {
    AddEntry("11:59:00", Tone("p1.wav"));
    AddEntry("12:00:01", Tone("p2.wav"));
    EXPECT_EQ(RunFor(3000), Strings{"12:00:01 p2.wav"});
}

TEST_F(TimeRulesTest, TheSameTimeDoesNotFireTwiceInARowAcrossDays) {
    AddEntry("12:00:00", Tone("p1.wav"));
    run().PreviousTick = At(11, 59, 59, 900);
    clock.SetTimeOfDay(At(11, 59, 59, 900));
    // Two whole days: noon of the second day is blocked by LastFired.
    EXPECT_EQ(RunFor(2 * 86400 * 1000), Strings{"12:00:00 p1.wav"});
    // Another timed entry firing in between lifts the block.
    AddEntry("13:00:00", Tone("p2.wav"));
    EXPECT_EQ(RunFor(86400 * 1000 + 200), (Strings{"13:00:00 p2.wav", "12:00:00 p1.wav"}));
}

TEST_F(TimeRulesTest, TheTickThatPassesMidnightHasAnEmptyWindow) {
    AddEntry("23:59:59", Tone("p1.wav"));
    AddEntry("0:00:01", Tone("p2.wav"));
    AddEntry("0:00:03", Tone("p3.wav"));
    run().PreviousTick = At(23, 59, 58, 500);
    TickAt(At(0, 0, 1, 500));  // a late tick across midnight
    EXPECT_TRUE(port->started.empty());
    EXPECT_EQ(run().PreviousTick, At(0, 0, 1, 500));
    // The windows after it work again; the entries inside the empty one are gone.
    EXPECT_EQ(RunFor(3000), Strings{"00:00:03 p3.wav"});
}

TEST_F(TimeRulesTest, AnHourlyEntryFiresEveryHour) {
    AddEntry("%h:30:00", Tone("p1.wav"));
    EXPECT_EQ(RunFor(3 * 3600 * 1000),
              (Strings{"12:30:00 p1.wav", "13:30:00 p1.wav", "14:30:00 p1.wav"}));
    EXPECT_EQ(run().LastFired, At(14, 30));
}

TEST_F(TimeRulesTest, TheHourIsPutIntoTheProgrammePath) {
    const std::string at14 = Tone("noticias14.wav");
    Tone("noticias15.wav", 0.4, 880);
    AddEntry("%h:00:00", at14.substr(0, at14.size() - 6) + "%h.wav");
    clock.SetTimeOfDay(At(13, 59, 59));
    run().PreviousTick = At(13, 59, 59);
    EXPECT_EQ(RunFor(3600 * 1000 + 2000),
              (Strings{"14:00:00 noticias14.wav", "15:00:00 noticias15.wav"}));
}

TEST_F(TimeRulesTest, OfTwoEntriesInOneWindowTheUpperWinsAndTheOtherIsLost) {
    AddEntry("12:00:05", Tone("p1.wav"));
    AddEntry("12:00:03", Tone("p2.wav"));
    TickAt(At(12, 0, 6));  // one long tick over both
    EXPECT_EQ(port->started, Strings{"p1.wav"});
    EXPECT_EQ(RunFor(60 * 1000), Strings{});
}

TEST_F(TimeRulesTest, OfTwoEntriesWithOneTimeOnlyTheUpperFires) {
    AddEntry("12:00:05", Tone("p1.wav"));
    AddEntry("12:00:05", Tone("p2.wav"));
    EXPECT_EQ(RunFor(60 * 1000), Strings{"12:00:05 p1.wav"});
}

TEST_F(TimeRulesTest, AnEntryFiringWhileNothingPlaysStartsWithoutAFade) {
    AddEntry("12:00:01", Tone("p1.wav"));
    RunFor(2000);
    EXPECT_EQ(fadesBegun, 0);
    EXPECT_EQ(port->started, Strings{"p1.wav"});
}

class ProgrammeEndTest : public AutomationTest {
  protected:
    void SetUp() override {
        AutomationTest::SetUp();
        for (const char* name : {"a.wav", "b.wav", "c.wav"}) AddTrack(Tone(name, 5));
        automation->MarkPlaylistRow(0);
    }
    // Waits, in real time, for the engine's end of what plays now.
    bool WaitForEnd(size_t startedBefore) {
        return PumpUntil([&] { return port->started.size() > startedBefore || !boxes.empty(); });
    }
};

TEST_F(ProgrammeEndTest, AFiredEntryFadesTheTrackAndThePlaylistGoesOnAfterIt) {
    AddEntry("12:00:05", Tone("p1.wav", 0.3));
    automation->PlayCommand();
    EXPECT_EQ(LastStarted(), "a.wav");
    EXPECT_EQ(RunFor(6000), Strings{"12:00:05 p1.wav"});
    EXPECT_EQ(fadesBegun, 1);
    ASSERT_TRUE(WaitForEnd(2));
    EXPECT_EQ(port->started, (Strings{"a.wav", "p1.wav", "b.wav"}));
    EXPECT_FALSE(run().PlayingFromProgramme);
    EXPECT_EQ(playlist.Cell(0, 2), kRowMarker);
}

TEST_F(ProgrammeEndTest, ChainedEntriesPlayInTurnAndAnExclamationMarkEndsTheShow) {
    AddEntry("12:00:05", Tone("p1.wav", 0.3));
    AddEntry("...", Tone("p2.wav", 0.3));
    AddEntry("...!", Tone("p3.wav", 0.3));
    AddEntry("...", Tone("p4.wav", 0.3));
    automation->PlayCommand();
    RunFor(6000);
    for (size_t n = 2; n < 4; ++n) ASSERT_TRUE(WaitForEnd(n));
    ASSERT_TRUE(PumpUntil([&] { return !boxes.empty(); }));
    EXPECT_EQ(port->started, (Strings{"a.wav", "p1.wav", "p2.wav", "p3.wav"}));
    EXPECT_EQ(boxes, Strings{"KAV: Terminado!"});
    EXPECT_EQ(prgmlist.Cell(0, 3), kRowMarker);
    // Nothing follows: neither the playlist nor the row below.
    PumpUntil([] { return false; }, std::chrono::milliseconds(500));
    EXPECT_EQ(port->started.size(), 4u);
    EXPECT_FALSE(port->Playing());
}

TEST_F(ProgrammeEndTest, TerminadoStopsTheTimerAndTheNextTickCatchesUp) {
    AddEntry("12:00:05!", Tone("p1.wav", 0.3));
    AddEntry("12:00:20", Tone("p2.wav", 0.3));
    AddEntry("12:00:30", Tone("p3.wav", 0.3));
    bool timerWhileBoxUp = true;
    onBox = [&] {
        timerWhileBoxUp = timerEnabled;
        clock.SetTimeOfDay(At(12, 1, 0));  // the operator answers a minute later
    };
    EXPECT_EQ(RunFor(5000), Strings{"12:00:05 p1.wav"});
    const std::uint32_t lastTick = run().PreviousTick;
    ASSERT_TRUE(PumpUntil([&] { return !boxes.empty(); }));
    EXPECT_FALSE(timerWhileBoxUp);
    EXPECT_EQ(timerSwitches, (std::vector<bool>{false, true}));
    EXPECT_EQ(port->started.size(), 1u);
    // The first tick after OK reaches back to the last one before the box.
    EXPECT_EQ(run().PreviousTick, lastTick);
    TickAt(At(12, 1, 0, 100));
    EXPECT_EQ(LastStarted(), "p2.wav");
    EXPECT_EQ(RunFor(60000), Strings{});
}

TEST_F(ProgrammeEndTest, CountEntriesSlotInAfterEveryNthTrackAndTheUpperWins) {
    automation->ShufflePlaylist();  // any order: only the count matters
    for (int i = 4; i <= 8; ++i) AddTrack(Tone("t" + std::to_string(i) + ".wav", 5));
    AddEntry("3", Tone("p1.wav", 5));
    AddEntry("2", Tone("p2.wav", 5));
    AddEntry("-1", Tone("p3.wav", 5));
    AddEntry("0", Tone("p4.wav", 5));
    automation->PlayCommand();
    std::vector<std::string> programme;
    unsigned tracks = 0;
    while (tracks < 7) {
        const bool fromProgramme = run().PlayingFromProgramme;
        automation->TrackEnded();  // what plays ends
        if (!fromProgramme) ++tracks;
        if (run().PlayingFromProgramme)
            programme.push_back(std::to_string(tracks) + ":" +
                                std::to_string(run().CurrentProgrammeRow));
    }
    EXPECT_EQ(programme, (Strings{"2:2", "3:1", "4:2", "6:1"}));
    EXPECT_EQ(run().PlaylistEndCount, 7u);
    EXPECT_EQ(port->started.size(), 1u + 7u + 4u);
}

class AdvanceTest : public AutomationTest {
  protected:
    void AddTracks(std::initializer_list<const char*> names) {
        for (const char* name : names) AddTrack(Tone(name, 5));
    }
    std::string Order() const {
        std::string order;
        for (int r = 1; r <= playlist.DataRows(); ++r) order += playlist.Cell(1, r)[0];
        return order;
    }
};

TEST_F(AdvanceTest, PlayStartsTheTrackAfterTheMarkedOneAndStopKeepsTheMarker) {
    AddTracks({"a.wav", "b.wav", "c.wav"});
    automation->MarkPlaylistRow(1);
    automation->PlayCommand();
    EXPECT_EQ(port->started, Strings{"b.wav"});
    EXPECT_EQ(run().CurrentPlaylistRow, 2u);
    EXPECT_EQ(shown.params, "44100 Hz, 705 kbps, estéreo");
    EXPECT_EQ(shown.duration, "00:00:05");
    automation->StopCommand();
    EXPECT_FALSE(port->Playing());
    EXPECT_EQ(fadesBegun, 1);
    EXPECT_EQ(playlist.Cell(0, 2), kRowMarker);
    automation->PlayCommand();  // moves on, no fade: nothing plays
    EXPECT_EQ(port->started, (Strings{"b.wav", "c.wav"}));
    EXPECT_EQ(fadesBegun, 1);
}

TEST_F(AdvanceTest, PlayDuringAProgrammeItemResumesAfterThePlaylistsCurrentRow) {
    AddTracks({"a.wav", "b.wav", "c.wav"});
    AddEntry("--:--:--", Tone("p1.wav", 5));
    automation->PlaylistRowCommand(1);
    automation->ProgrammeRowCommand(1);  // by hand, though it has no time
    EXPECT_TRUE(run().PlayingFromProgramme);
    automation->PlayCommand();
    EXPECT_EQ(port->started, (Strings{"a.wav", "p1.wav", "b.wav"}));
    EXPECT_EQ(fadesBegun, 2);
}

TEST_F(AdvanceTest, AtTheEndWithoutRepeatNothingPlaysAndTheMarkerStays) {
    AddTracks({"a.wav", "b.wav"});
    repeat = false;
    automation->PlaylistRowCommand(2);
    automation->TrackEnded();
    EXPECT_EQ(port->started, Strings{"b.wav"});
    EXPECT_EQ(playlist.Cell(0, 2), kRowMarker);
    automation->PlayCommand();
    EXPECT_EQ(port->started.size(), 1u);
    automation->PlaylistRowCommand(1);  // a double click starts again from there
    EXPECT_EQ(LastStarted(), "a.wav");
}

TEST_F(AdvanceTest, AtTheEndTheListRepeatsAndIsReshuffledFirst) {
    AddTracks({"a.wav", "b.wav", "c.wav", "d.wav", "e.wav"});
    autoShuffle = true;
    automation->MarkPlaylistRow(5);
    clock.SetPerformanceCounter(12345);  // the shuffle's seed
    automation->PlayCommand();
    EXPECT_EQ(Order(), "bcaed");  // the order that seed gives
    EXPECT_EQ(port->started, Strings{"b.wav"});
    EXPECT_EQ(playlist.Cell(0, 1), kRowMarker);
    for (int r = 2; r <= 5; ++r) EXPECT_EQ(playlist.Cell(0, r), "");

    autoShuffle = false;
    automation->PlaylistRowCommand(5);
    automation->PlayCommand();
    EXPECT_EQ(Order(), "bcaed");
    EXPECT_EQ(LastStarted(), "b.wav");
}

TEST_F(AdvanceTest, ShuffleKeepsWhatPlaysAndPlayGoesOnAfterTheMarkedTrack) {
    AddTracks({"a.wav", "b.wav", "c.wav", "d.wav", "e.wav"});
    automation->PlaylistRowCommand(1);  // "a"
    clock.SetPerformanceCounter(12345);
    automation->ShufflePlaylist();  // b c a e d: "a" moves to row 3
    EXPECT_EQ(Order(), "bcaed");
    EXPECT_TRUE(port->Playing());
    EXPECT_EQ(port->started.size(), 1u);
    automation->PlayCommand();
    EXPECT_EQ(LastStarted(), "e.wav");
}

TEST_F(AdvanceTest, AFileThatCannotBeOpenedIsSkipped) {
    AddTrack(Tone("a.wav", 5));
    AddTrack(Missing("b.wav"));
    AddTrack(Tone("c.wav", 5));
    automation->MarkPlaylistRow(1);
    automation->PlayCommand();
    EXPECT_EQ(port->opened, (Strings{"missing-b.wav", "c.wav"}));
    EXPECT_EQ(run().CurrentPlaylistRow, 3u);
    // A programme item that cannot be opened hands back to the playlist.
    AddEntry("12:00:01", Missing("p1.wav"));
    RunFor(2000);
    EXPECT_EQ(port->opened, (Strings{"missing-b.wav", "c.wav", "missing-p1.wav", "a.wav"}));
    EXPECT_FALSE(run().PlayingFromProgramme);
    EXPECT_TRUE(port->Playing());
}

// Seeds for the reshuffles at the end of the list, one per round.
std::uint32_t RoundSeed(std::uint32_t round) {
    return round * 2654435761u + 1u;
}

TEST_F(AdvanceTest, AnUnplayablePlaylistStopsOnceEveryRowWasTried) {
    const std::set<std::string> all = {"missing-m1.wav", "missing-m2.wav", "missing-m3.wav",
                                       "missing-m4.wav"};
    for (const std::string& name : all) AddTrack(Missing(name.substr(8)));
    autoShuffle = true;
    for (std::uint32_t round = 0; round < 24; ++round) {
        clock.SetPerformanceCounter(RoundSeed(round));
        port->opened.clear();
        automation->MarkPlaylistRow(round % 4 + 1);
        automation->PlayCommand();
        EXPECT_EQ(std::set<std::string>(port->opened.begin(), port->opened.end()), all)
            << "round " << round;
        EXPECT_LE(port->opened.size(), 2 * all.size()) << "round " << round;
        EXPECT_FALSE(port->Playing());
    }
    // From a programme item that fails too: its own try, then every row.
    AddEntry("--:--:--", Missing("p1.wav"));
    for (std::uint32_t round = 0; round < 8; ++round) {
        clock.SetPerformanceCounter(RoundSeed(round));
        port->opened.clear();
        automation->ProgrammeRowCommand(1);
        ASSERT_FALSE(port->opened.empty());
        EXPECT_EQ(port->opened.front(), "missing-p1.wav");
        EXPECT_EQ(std::set<std::string>(port->opened.begin() + 1, port->opened.end()), all)
            << "round " << round;
        EXPECT_FALSE(port->Playing());
    }
}

// One playable track among missing ones, with repeat and reshuffle on: each
// time it ends, the advance goes past the missing rows, through the
// reshuffle, to the track again.
TEST_F(AdvanceTest, AGoodTrackAmongMissingOnesPlaysOnWhateverTheReshuffles) {
    AddTrack(Missing("m1.wav"));
    AddTrack(Tone("good.wav", 0.2, 523));
    AddTrack(Missing("m2.wav"));
    AddTrack(Missing("m3.wav"));
    autoShuffle = true;
    automation->PlaylistRowCommand(2);
    ASSERT_EQ(LastStarted(), "good.wav");
    for (std::uint32_t round = 0; round < 16; ++round) {
        clock.SetPerformanceCounter(RoundSeed(round));
        const size_t before = port->started.size();
        ASSERT_TRUE(PumpUntil([&] { return port->started.size() > before; }))
            << "silence after round " << round << ", rows " << Order();
        EXPECT_EQ(LastStarted(), "good.wav");
    }
}

// The reshuffle at the end of the list: when it puts the track that just
// ended first, that row changes places with the second, marker and all.
TEST_F(AdvanceTest, AReshuffleNeverStartsWithTheTrackThatJustEnded) {
    AddTracks({"a.wav", "b.wav", "c.wav", "d.wav", "e.wav"});
    autoShuffle = true;
    std::uint32_t seed = 0;
    std::string shuffled;
    do {  // a seed whose shuffle puts the last row first
        StringGrid copy = playlist;
        ShuffleRows(copy, ++seed);
        shuffled.clear();
        for (int r = 1; r <= copy.DataRows(); ++r) shuffled += copy.Cell(1, r)[0];
    } while (shuffled[0] != 'e');
    clock.SetPerformanceCounter(seed);
    automation->MarkPlaylistRow(5);
    automation->PlayCommand();
    std::swap(shuffled[0], shuffled[1]);
    EXPECT_EQ(Order(), shuffled);
    EXPECT_EQ(port->started, Strings{std::string(1, shuffled[0]) + ".wav"});
    EXPECT_EQ(playlist.Cell(0, 1), kRowMarker);
    EXPECT_EQ(playlist.Cell(0, 2), "");

    // A list of one row plays it again: there is no other.
    ClearGrid(playlist);
    AddTrack(Tone("a.wav", 5));
    automation->MarkPlaylistRow(1);
    automation->PlayCommand();
    EXPECT_EQ(LastStarted(), "a.wav");
    EXPECT_EQ(port->started.size(), 2u);
}

TEST_F(AdvanceTest, AnEmptyPlaylistTriesItsOneEmptyRowOnce) {
    repeat = true;
    automation->PlayCommand();
    EXPECT_EQ(port->opened, Strings{""});
    EXPECT_FALSE(port->Playing());
    repeat = false;
    port->opened.clear();
    automation->PlayCommand();  // the marker is on row 1: beyond the end, nothing
    EXPECT_TRUE(port->opened.empty());
}

}  // namespace

namespace {

TEST_F(AdvanceTest, AnOggFileThatCannotBeReadIsSkippedLikeAnyUnplayableFile) {
    AddTrack(Missing("b.wav"));
    AddTrack(Missing("gone.ogg"));
    AddTrack(Tone("a.wav", 5));
    AddTrack(Missing("c.wav"));
    AddTrack(Tone("d.wav", 5));
    EXPECT_NO_THROW(automation->PlaylistRowCommand(1));
    EXPECT_EQ(port->opened, (Strings{"missing-b.wav", "missing-gone.ogg", "a.wav"}));
    EXPECT_EQ(LastStarted(), "a.wav");
    automation->PlayCommand();
    EXPECT_EQ(port->opened.back(), "d.wav");
    EXPECT_EQ(LastStarted(), "d.wav");
}

}  // namespace
