// What a station left alone asks of playback control, on the real engine:
// each item is on record after it opened and before the engine starts it,
// dead air moves the playlist on exactly as a failed open does, and a resume
// starts a row from a position without the moment before being heard.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "AutomationFixture.h"
#include "app/lists/Markers.h"
#include "app/lists/Paths.h"
#include "platform/bassbind/Dynamic_BASS.h"

namespace {

using namespace schedtest;
using Strings = std::vector<std::string>;

// The tones are named "st-...": Tone() keeps a file per name for the whole
// run, and other tests make files of the same names with other lengths.
class StationPlaybackTest : public AutomationTest {
  protected:
    void SetUp() override {
        AutomationTest::SetUp();
        itemStarting = [this](const StartingItem& item) {
            // Opened, not started: the engine holds the file and is ready.
            records.push_back(
                (item.fromProgramme ? "programa " : "playlist ") + std::to_string(item.row) + " " +
                paths::ExtractFileName(item.path) +
                (engine->PlayState() == PLAYSTATE_READY && engine->CurrentFile() == item.path
                     ? " ready"
                     : " not ready"));
        };
        itemFailed = [this](const std::string& path) {
            records.push_back("failed " + paths::ExtractFileName(path));
        };
    }
    Strings records;
};

TEST_F(StationPlaybackTest, EachItemIsToldAfterItsOpenAndBeforeItsStart) {
    AddTrack(Tone("st-a.wav", 5));
    AddTrack(Missing("st-b.wav"));
    AddTrack(Tone("st-c.wav", 5));
    AddEntry("--:--:--", Tone("st-p.wav", 5));
    automation->PlaylistRowCommand(1);
    automation->PlayCommand();  // b is missing: c
    automation->ProgrammeRowCommand(1);
    EXPECT_EQ(records, (Strings{"playlist 1 st-a.wav ready", "failed missing-st-b.wav",
                                "playlist 3 st-c.wav ready", "programa 1 st-p.wav ready"}));
    EXPECT_TRUE(port->Playing());
}

// The same rows, the same order, the same end of the list as after a failed
// open: the row after the dead one, over missing files, wrapping or not.
TEST_F(StationPlaybackTest, DeadAirMovesOnExactlyAsAFailedOpen) {
    AddTrack(Tone("st-a.wav", 5));
    AddTrack(Tone("st-b.wav", 5));
    AddTrack(Missing("st-c.wav"));
    AddTrack(Tone("st-d.wav", 5));
    repeat = false;
    automation->PlaylistRowCommand(2);
    port->opened.clear();
    automation->SkipDeadItem();
    EXPECT_EQ(port->opened, (Strings{"missing-st-c.wav", "st-d.wav"}));
    EXPECT_EQ(run().CurrentPlaylistRow, 4u);
    EXPECT_TRUE(port->Playing());
    automation->SkipDeadItem();  // the last row, no repeat: nothing more
    EXPECT_FALSE(port->Playing());
    EXPECT_EQ(playlist.Cell(0, 4), kRowMarker);

    repeat = true;
    automation->PlaylistRowCommand(4);
    port->opened.clear();
    automation->SkipDeadItem();
    EXPECT_EQ(port->opened, Strings{"st-a.wav"});
    // From a programme item, the playlist goes on after its current row.
    AddEntry("--:--:--", Tone("st-p.wav", 5));
    automation->ProgrammeRowCommand(1);
    port->opened.clear();
    automation->SkipDeadItem();
    EXPECT_EQ(port->opened, Strings{"st-b.wav"});
    EXPECT_FALSE(run().PlayingFromProgramme);
}

TEST_F(StationPlaybackTest, AResumeStartsFromThePositionMutedUntilItIsThere) {
    AddTrack(Tone("st-long.wav", 12));
    AddTrack(Missing("st-gone.wav"));
    AddTrack(Tone("st-next.wav", 5));
    volumeValue = 200;
    automation->ResumePlaylistRow(1, 6000);
    EXPECT_EQ(port->started, Strings{"st-long.wav"});
    EXPECT_EQ(run().CurrentPlaylistRow, 1u);
    EXPECT_GE(port->PositionMs(), 6000u);
    EXPECT_LT(port->PositionMs(), 8000u);
    EXPECT_EQ(port->log.front(), "volume 0");
    EXPECT_EQ(port->log.back(), "volume 200");

    // A row that does not open is skipped as any other, the volume back.
    port->log.clear();
    automation->ResumePlaylistRow(2, 6000);
    EXPECT_EQ(port->started.back(), "st-next.wav");
    EXPECT_EQ(run().CurrentPlaylistRow, 3u);
    EXPECT_EQ(port->volumes.back(), 200u);
    EXPECT_LT(port->PositionMs(), 3000u) << "the next row from its start";
}

}  // namespace

namespace {

// After three skips in a row the program opens the output again: what played
// is closed, the same device comes back, and the playlist plays on through it.
TEST_F(StationPlaybackTest, TheOutputOpensAgainAndThePlaylistPlaysOnThroughIt) {
    AddTrack(Tone("st-a.wav", 5));
    AddTrack(Tone("st-b.wav", 5));
    automation->PlaylistRowCommand(1);
    const DWORD device = BASS_GetDevice();
    ASSERT_TRUE(engine->ReopenOutput());
    EXPECT_FALSE(port->Playing());
    EXPECT_TRUE(engine->PlayerReady());
    EXPECT_EQ(BASS_GetDevice(), device);
    automation->SkipDeadItem();
    EXPECT_EQ(port->started.back(), "st-b.wav");
    ASSERT_TRUE(port->Playing());
    BASS_OUTPUTLEVEL level{};
    ASSERT_TRUE(engine->ReadOutputLevel(level));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_TRUE(engine->ReadOutputLevel(level));
    EXPECT_GT(level.frames, 0u);
    EXPECT_GT(level.loudest, -20.0f) << "the tone at -6 dBFS is heard through the new output";
}

}  // namespace
