// The run's state on disk, the resume it leads to, the [estacao] settings and
// the command line: the rules on real files in a folder of the test's own.
#include <gtest/gtest.h>

#include <filesystem>

#include "Options.h"
#include "Resume.h"
#include "StationSettings.h"
#include "StationState.h"
#include "platform/win/IniFile.h"
#include "tests/support/TempDir.h"

namespace {

using station::LastRun;
using station::PlayingItem;

// Each run is a process of its own: it starts (and finds how the one before
// ended), starts its items, and ends in order or is killed.
TEST(StateFileTest, UncleanEndsWithOneFileAreCountedAndAnOrderlyEndClearsThem) {
    TempDir dir;
    const struct {
        bool known, endedBefore;  // what this start finds
        int uncleanEnds;
        std::vector<std::string> files;  // then started in this run
        bool inOrder;                    // and this run's end
    } runs[] = {
        {false, true, 0, {"/m/a.mp3", "/m/b.mp3"}, false},  // killed while b played
        {true, false, 1, {"/m/b.mp3"}, false},              // and again
        {true, false, 2, {"/m/c.mp3"}, false},              // killed while another played
        {true, false, 1, {}, false},                        // nothing started: c was the last
        {true, false, 2, {"/m/d.mp3"}, true},
        {true, true, 0, {"/m/d.mp3"}, false},
        {true, false, 1, {}, true},
    };
    int i = 0;
    for (const auto& r : runs) {
        station::StateFile state(dir.File("estado.ini"));
        const LastRun last = state.Begin();
        EXPECT_EQ(last.known, r.known) << "run " << i;
        EXPECT_EQ(last.ended, r.endedBefore) << "run " << i;
        EXPECT_EQ(last.uncleanEnds, r.uncleanEnds) << "run " << i;
        unsigned row = 0;
        for (const std::string& f : r.files)
            EXPECT_TRUE(state.ItemStarting({"playlist", ++row, f})) << "run " << i;
        if (r.inOrder) {
            EXPECT_TRUE(state.EndInOrder()) << "run " << i;
        }
        ++i;
    }
}

// The input plug-in of each item goes on record with it; unclean ends in a
// row while one plug-in played are counted as those with one file are, and
// from two on, the next start leaves that plug-in out.
TEST(StateFileTest, UncleanEndsWithOnePlugInLeaveItOutOfTheNextStart) {
    TempDir dir;
    const struct {
        std::vector<std::string> plugins;  // of the items started in the run ("": the library)
        bool inOrder;                      // the run's end
        int pluginUncleanEnds;             // what the next start finds
        std::string leftOut;               // and the plug-in it leaves out
    } runs[] = {
        {{"in_wave.dll"}, false, 1, ""},
        {{"in_wave.dll"}, false, 2, "in_wave.dll"},
        {{"", "in_wave.dll"}, false, 3, "in_wave.dll"},  // a library item before it
        {{"in_mp3.dll"}, false, 1, ""},                  // another plug-in
        {{"in_mp3.dll", ""}, false, 0, ""},              // the library played last
        {{"in_mp3.dll"}, false, 1, ""},
        {{}, false, 2, "in_mp3.dll"},  // nothing started: its item was the last
        {{"in_mp3.dll"}, true, 0, ""},
    };
    int file = 0;
    for (size_t i = 0; i <= std::size(runs); ++i) {
        station::StateFile state(dir.File("estado.ini"));
        const LastRun last = state.Begin();
        if (i > 0) {
            EXPECT_EQ(last.pluginUncleanEnds, runs[i - 1].pluginUncleanEnds) << "start " << i;
            EXPECT_EQ(station::PluginToLeaveOut(last), runs[i - 1].leftOut) << "start " << i;
        }
        if (i == std::size(runs)) break;
        for (const std::string& plugin : runs[i].plugins) {
            state.SetValue(station::kPluginKey, plugin);
            ++file;
            EXPECT_TRUE(state.ItemStarting({"playlist", 1, "/m/" + std::to_string(file) + ".wav"}));
        }
        if (runs[i].inOrder) {
            EXPECT_TRUE(state.EndInOrder());
        }
    }
}

TEST(StateFileTest, TheItemIsOnDiskAtOnceAndOtherKeysAreKept) {
    TempDir dir;
    const std::string path = dir.File("estado.ini");
    TempDir::Write(path, "[estado]\nplugin=in_mp3.dll\n[outra]\nchave=valor\n");
    station::StateFile state(path);
    state.Begin();
    ASSERT_TRUE(state.ItemStarting({"programa", 7, "/j/noticias 14.mp3"}));
    win::IniFile ini(path);
    EXPECT_EQ(ini.ReadString("estado", "lista", ""), "programa");
    EXPECT_EQ(ini.ReadInteger("estado", "linha", 0), 7);
    EXPECT_EQ(ini.ReadString("estado", "ficheiro", ""), "/j/noticias 14.mp3");
    EXPECT_EQ(ini.ReadString("estado", "limpo", ""), "0");
    EXPECT_EQ(ini.ReadString("estado", "plugin", ""), "in_mp3.dll");
    EXPECT_EQ(ini.ReadString("outra", "chave", ""), "valor");
    const LastRun last = station::StateFile(path).Begin();
    EXPECT_EQ(last.item.list, "programa");
    EXPECT_EQ(last.item.row, 7u);
}

TEST(StateFileTest, AFolderThatCannotBeWrittenIsAnErrorNotACrash) {
    TempDir dir;
    std::filesystem::create_directory(dir.File("estado.ini"));  // the name is taken
    station::StateFile state(dir.File("estado.ini"));
    std::string error;
    const LastRun last = state.Begin(&error);
    EXPECT_FALSE(last.known);
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(state.ItemStarting({"playlist", 1, "/m/a.mp3"}, &error));
    EXPECT_FALSE(state.EndInOrder(&error));
}

TEST(ResumeTest, TheSavedRowItselfFromTwoSecondsBeforeOrTheNextAfterTwoCrashes) {
    const LastRun clean{.known = true, .ended = true};
    const LastRun crashedOnce{true, false, {"playlist", 2, "/m/b.mp3"}, 1};
    const LastRun crashedTwice{true, false, {"playlist", 2, "/m/b.mp3"}, 2};
    const LastRun crashedTwiceOnOther{true, false, {"programa", 1, "/j/x.mp3"}, 2};
    const struct {
        const char* what;
        unsigned saved;
        std::string rowFile, savedFile;
        std::uint32_t savedMs;
        LastRun last;
        unsigned row;
        std::uint32_t fromMs;
        bool skipped;
    } cases[] = {
        {"the same file: 2 s before", 2, "/m/b.mp3", "/m/b.mp3", 61'500, clean, 2, 59'500, false},
        {"after one crash too", 2, "/m/b.mp3", "/m/b.mp3", 10'000, crashedOnce, 2, 8000, false},
        {"another file on the row", 2, "/m/c.mp3", "/m/b.mp3", 61'500, clean, 2, 0, false},
        {"no saved file", 2, "/m/b.mp3", "", 61'500, clean, 2, 0, false},
        {"under 2 s in", 2, "/m/b.mp3", "/m/b.mp3", 1500, clean, 2, 0, false},
        {"no row marked", 0, "", "", 0, clean, 1, 0, false},
        {"two crashes on the file", 2, "/m/b.mp3", "/m/b.mp3", 61'500, crashedTwice, 3, 0, true},
        {"two crashes, another file", 2, "/m/c.mp3", "/m/c.mp3", 5000, crashedTwice, 2, 3000,
         false},
        {"two crashes on a programme file", 2, "/m/b.mp3", "/m/b.mp3", 5000, crashedTwiceOnOther, 2,
         3000, false},
    };
    for (const auto& c : cases) {
        const station::ResumePlan plan =
            station::PlanResume(c.saved, c.rowFile, c.savedFile, c.savedMs, c.last);
        EXPECT_EQ(plan.row, c.row) << c.what;
        EXPECT_EQ(plan.fromMs, c.fromMs) << c.what;
        EXPECT_EQ(plan.skipped, c.skipped) << c.what;
    }
}

// A run that went down as an item started has the item's row on record
// before the settings have it.
TEST(ResumeTest, TheRowOnRecordAfterAnUncleanEndWhenItStillHoldsItsFile) {
    const LastRun clean{true, true, {"playlist", 2, "/m/b.wav"}, 0};
    const LastRun onB{true, false, {"playlist", 2, "/m/b.wav"}, 1};
    const LastRun inProgramme{true, false, {"programa", 2, "/m/b.wav"}, 1};
    const LastRun nothingStarted{true, false, {}, 0};
    const struct {
        const char* what;
        unsigned saved;
        LastRun last;
        std::string stateRowFile;
        unsigned row;
    } cases[] = {
        {"an orderly end: the settings' row", 1, clean, "/m/b.wav", 1},
        {"went down on the row's file", 1, onB, "/m/b.wav", 2},
        {"nothing marked in the settings", 0, onB, "/m/b.wav", 2},
        {"the row holds another file now", 1, onB, "/m/c.wav", 1},
        {"a programme item", 1, inProgramme, "/m/b.wav", 1},
        {"no item started", 3, nothingStarted, "", 3},
    };
    for (const auto& c : cases)
        EXPECT_EQ(station::PlayingRow(c.saved, c.last, c.stateRowFile), c.row) << c.what;
}

TEST(StationSettingsTest, ReadWithDefaultsAndKeptInTheirOwnSection) {
    TempDir dir;
    const std::string path = dir.File("kav.ini");
    TempDir::Write(path,
                   "[varios]\r\npln=3\r\n[estacao]\r\nsilencio=5\r\nsilencio_db=-47.5\r\n"
                   "alarme=logger -t kav\r\nposicao=abc\r\n");
    win::IniFile ini(path);
    station::Settings s = station::ReadSettings(ini);
    EXPECT_FALSE(s.autoplay);
    EXPECT_FALSE(s.punctual);
    EXPECT_EQ(s.silenceSeconds, 5);
    EXPECT_DOUBLE_EQ(s.silenceDb, -47.5);
    EXPECT_EQ(s.alarm, "logger -t kav");
    EXPECT_EQ(s.positionMs, 0u) << "not a number: the default";
    std::vector<win::IniValue> kept = station::KeptValues(true, 123456, "/m/b c.mp3");
    kept.push_back(station::PunctualValue(true));
    ASSERT_TRUE(ini.WriteValues(kept));
    s = station::ReadSettings(ini);
    EXPECT_TRUE(s.autoplay);
    EXPECT_TRUE(s.punctual);
    EXPECT_EQ(s.positionMs, 123456u);
    EXPECT_EQ(s.file, "/m/b c.mp3");
    EXPECT_EQ(s.silenceSeconds, 5);
    EXPECT_EQ(ini.ReadInteger("varios", "pln", 0), 3);

    TempDir::Write(path, "[estacao]\nsilencio=-3\nsilencio_db=loud\n");
    s = station::ReadSettings(ini);
    EXPECT_EQ(s.silenceSeconds, 0) << "below 0 is off";
    EXPECT_DOUBLE_EQ(s.silenceDb, -50.0);
    TempDir::Write(path, "");
    s = station::ReadSettings(ini);
    EXPECT_EQ(s.silenceSeconds, 20);
    EXPECT_TRUE(s.alarm.empty());
}

TEST(OptionsTest, OwnOptionsAreReadAndTheToolkitsAreLeftAlone) {
    const struct {
        std::vector<std::string> args;
        bool help, version, play, headless, error;
    } cases[] = {
        {{}, false, false, false, false, false},
        {{"--play"}, false, false, true, false, false},
        {{"--headless", "--play"}, false, false, true, true, false},
        {{"-h"}, true, false, false, false, false},
        {{"--help"}, true, false, false, false, false},
        {{"--version"}, false, true, false, false, false},
        {{"-platform", "offscreen", "--play"}, false, false, true, false, false},
        {{"--plya"}, false, false, false, false, true},
    };
    for (const auto& c : cases) {
        const station::Options o = station::ParseOptions(c.args);
        std::string line;
        for (const std::string& a : c.args) line += a + " ";
        EXPECT_EQ(o.help, c.help) << line;
        EXPECT_EQ(o.version, c.version) << line;
        EXPECT_EQ(o.play, c.play) << line;
        EXPECT_EQ(o.headless, c.headless) << line;
        EXPECT_EQ(!o.error.empty(), c.error) << line;
    }
    EXPECT_NE(station::UsageText().find("--headless"), std::string::npos);
}

}  // namespace
