// The main window's station part on the real engine and its null output:
// "Tocar ao iniciar" is kept in [estacao], a silent track is skipped by the
// window's own dead-air watch, a quiet passage, a fade and a stop by
// "&Parar" are not dead air, and the window tells what plays.
#include <gtest/gtest.h>

#include <QAction>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>

#include "engine/BASSPlayer.h"
#include "platform/win/DataDir.h"
#include "platform/win/IniFile.h"
#include "tests/support/PumpUntil.h"
#include "tests/support/WindowTest.h"
#include "widgets/CoolTrayIcon.h"

namespace {

using namespace std::chrono_literals;

class StationWindowTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        std::filesystem::remove(dir / "estado.ini");
    }
    // A sine at `db` dBFS peak, or digital silence for db <= -200.
    std::string Sound(const std::string& name, double seconds, double db) {
        const std::string path = (dir / name).string();
        const std::string what = db <= -200 ? " trim 0 " + std::to_string(seconds)
                                            : " synth " + std::to_string(seconds) +
                                                  " sine 440 gain -n " + std::to_string(db);
        EXPECT_EQ(std::system(("sox -n -r 44100 -c 2 -b 16 '" + path + "'" + what).c_str()), 0);
        return path;
    }
    void Start(const std::vector<std::string>& playlist, const std::string& more) {
        std::string pl;
        for (const std::string& line : playlist) pl += line + "\r\n";
        Write("pl.m3u", pl);
        Settings(more);
        form = std::make_unique<TForm1>();
    }
    bool Playing() { return form->BASSPlayer1->PlayState() == PLAYSTATE_PLAYING; }
    unsigned Row() { return form->Automation->FindPlaylistRow(); }
};

TEST_F(StationWindowTest, TocarAoIniciarIsKeptInItsOwnSection) {
    Start({}, "[estacao]\r\nautoplay=0\r\nsilencio=7\r\n[outra]\r\nx=1\r\n");
    ASSERT_NE(form->autoplay, nullptr);
    EXPECT_EQ(form->autoplay->text(), "Tocar ao iniciar");
    EXPECT_TRUE(form->autoplay->isCheckable());
    EXPECT_FALSE(form->autoplay->isChecked());
    form->autoplay->trigger();
    form.reset();
    win::IniFile ini((dir / "kav.ini").string());
    EXPECT_EQ(ini.ReadString("estacao", "autoplay", ""), "1");
    EXPECT_EQ(ini.ReadString("estacao", "silencio", ""), "7") << "kept as it was";
    EXPECT_EQ(ini.ReadString("outra", "x", ""), "1");
    EXPECT_TRUE(ini.ValueExists("varios", "pln"));
    EXPECT_EQ(win::IniFile((dir / "estado.ini").string()).ReadString("estado", "limpo", ""), "1")
        << "an orderly end is on record";
}

TEST_F(StationWindowTest, ASilentTrackIsSkippedAndTheNextPlays) {
    Start({Sound("silent.wav", 20, -200), Sound("tone.wav", 20, -6)},
          "[estacao]\r\nsilencio=1\r\n");
    form->Automation->PlaylistRowCommand(1);
    ASSERT_TRUE(Playing());
    EXPECT_TRUE(PumpUntil([&] { return Row() == 2u; }, 10s)) << "the silence was not skipped";
    EXPECT_TRUE(Playing());
}

// The quiet passage is heard (-43 dBFS RMS, over the -50 dBFS level); the
// fade of "&Parar" takes 6 s, most of them under the level; then nothing
// plays, and nothing may be started for it.
TEST_F(StationWindowTest, AQuietPassageAFadeAndAStopAreNotDeadAir) {
    Start({Sound("quiet.wav", 30, -40), Sound("next.wav", 30, -6)},
          "tfade=6000\r\n[estacao]\r\nsilencio=1\r\n");
    form->Automation->PlaylistRowCommand(1);
    ASSERT_TRUE(Playing());
    PumpUntil([] { return false; }, 3s);
    EXPECT_EQ(Row(), 1u);
    EXPECT_TRUE(Playing());
    const auto before = std::chrono::steady_clock::now();
    form->BPararClick();
    EXPECT_GE(std::chrono::steady_clock::now() - before, 5s) << "the fade ran";
    EXPECT_FALSE(Playing());
    PumpUntil([] { return false; }, 2500ms);
    EXPECT_FALSE(Playing());
    EXPECT_EQ(Row(), 1u);
}

// The window's title says what plays (the tray keeps its own text), and
// each command names in the as-run log the item it cut.
TEST_F(StationWindowTest, TheTitleSaysWhatPlaysAndEachCommandNamesWhatItCut) {
    std::filesystem::remove_all(dir / "emissao");
    const std::string wav = Sound("tagged.wav", 30, -6), tagged = (dir / "tagged.mp3").string();
    ASSERT_EQ(std::system(("lame --quiet -b 128 --tt 'Título' --ta 'Artista' '" + wav + "' '" +
                           tagged + "'")
                              .c_str()),
              0);
    Start({tagged, Sound("two.wav", 30, -6)}, "tfade=0\r\n");
    EXPECT_EQ(form->windowTitle(), "KAV");
    const struct {
        std::function<void()> command;
        std::string title;  // the title once it has acted
    } steps[] = {
        {[&] { form->BPlayClick(); }, "KAV \u2014 Artista - Título"},
        {[&] { form->BPlayClick(); }, "KAV \u2014 two.wav"},
        {[&] {
             form->playlistCells.SetRow(1);
             form->playlistDblClick();
         },
         "KAV \u2014 Artista - Título"},
        {[&] { form->BPararClick(); }, "KAV"},
        {[&] { form->BPlayClick(); }, "KAV \u2014 two.wav"},
        {[&] { form->close(); }, "KAV"},
    };
    for (const auto& step : steps) {
        step.command();
        EXPECT_TRUE(PumpUntil([&] { return form->windowTitle().toStdString() == step.title; }, 3s))
            << form->windowTitle().toStdString() << " instead of " << step.title;
        EXPECT_EQ(form->CoolTrayIcon1->Hint(), "KAV");
    }
    form.reset();
    std::string log;
    for (const auto& entry : std::filesystem::directory_iterator(dir / "emissao")) {
        std::ifstream in(entry.path(), std::ios::binary);
        log.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::vector<std::string> cuts;
    for (size_t at = log.find("\r\n"); at != std::string::npos && at + 2 < log.size();
         at = log.find("\r\n", at + 2)) {
        const std::string line = log.substr(at + 2, log.find("\r\n", at + 2) - at - 2);
        cuts.push_back(line.substr(line.find(",cortado,") + 1));
    }
    EXPECT_EQ(cuts, (std::vector<std::string>{"cortado,play", "cortado,linha", "cortado,parar",
                                              "cortado,saida"}))
        << log;
}

}  // namespace
