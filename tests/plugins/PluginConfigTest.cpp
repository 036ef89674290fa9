// The input plug-in dialog over the real engine and manager, with real
// plug-ins in a Plugins folder of a program directory of the test's own;
// under the offscreen platform, every answer box recorded.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QListWidget>

#include <filesystem>
#include <fstream>

#include "engine/BASSPlayer.h"
#include "platform/win/DynLib.h"
#include "platform/win/ProgramDir.h"
#include "plugins/PluginConfig.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/support/BinDir.h"

namespace fs = std::filesystem;
using namespace enginetest;
using namespace std::chrono_literals;

namespace {

const std::string kWave = "Plugins/in_wave.dll", kMp3 = "Plugins/in_mp3.dll",
                  kSettings = "Plugins/test_config.dll";

// <dir>/Plugins: the build's plug-ins, the test's, copies of in_wave.dll as
// wave1..wave8.dll, a file that only looks like a library, and things that
// are not libraries at all.
const std::string& ProgramFolder() {
    static const std::string dir = [] {
        const fs::path d = fs::path(TempDir()) / "dialog-program";
        const fs::path plugins = d / "Plugins";
        fs::create_directories(plugins / "folder.dll");
        const fs::path bin = TestBinDir(), libs = TestPluginDir();
        for (const char* name : {"in_wave.dll", "in_mp3.dll"})
            fs::create_symlink(bin / name, plugins / name);
        for (const char* name : {"test_config.dll", "test_no_entry.dll"})
            fs::create_symlink(libs / name, plugins / name);
        for (int i = 1; i <= 8; ++i)
            fs::copy_file(bin / "in_wave.dll", plugins / ("wave" + std::to_string(i) + ".dll"));
        std::ofstream(plugins / "not_a_library.dll") << "not a library\n";
        std::ofstream(plugins / "readme.txt") << "notes\n";
        std::ofstream(d / "in_top.dll") << "beside the program, not in Plugins\n";
        return d.string();
    }();
    return dir;
}

class PluginConfigTest : public ::testing::Test {
  protected:
    void SetUp() override {
        UseNullOutput();
        player = std::make_unique<TBASSPlayer>();
        ASSERT_TRUE(player->PlayerReady());
        win::SetProgramDir(ProgramFolder());
        player->SetPluginFirst(true);
        ASSERT_TRUE(player->ShowPluginConfig());
        form = player->PluginConfigForm();
        ASSERT_NE(form, nullptr);
    }
    void TearDown() override { player.reset(); }

    void Select(const std::string& name) {
        const auto items =
            form->PluginList->findItems(QString::fromStdString(name), Qt::MatchExactly);
        ASSERT_EQ(items.size(), 1) << name;
        form->PluginList->setCurrentItem(items[0]);
    }
    void Load(const std::string& name) {
        Select(name);
        form->btnLoadClick();
    }
    // The last box's text, emptied.
    std::string Said() {
        std::string text = boxes.boxes.empty() ? "" : boxes.boxes.back().text;
        EXPECT_TRUE(boxes.boxes.empty() || boxes.boxes.back().caption == "Confirm");
        boxes.boxes.clear();
        return text;
    }
    std::vector<std::string> Names() {
        std::vector<std::string> names;
        for (int row = 1; row <= 8; ++row) names.push_back(form->Cell(row, 0));
        while (!names.empty() && names.back().empty()) names.pop_back();
        return names;
    }

    BoxRecorder boxes;
    std::unique_ptr<TBASSPlayer> player;
    TPluginConfigForm* form = nullptr;
};

TEST_F(PluginConfigTest, TheListHoldsTheLibrariesOfThePluginsFolderAndTheBoxTheEnginesSetting) {
    std::vector<std::string> listed;
    for (int i = 0; i < form->PluginList->count(); ++i)
        listed.push_back(form->PluginList->item(i)->text().toStdString());
    std::vector<std::string> expected = {kMp3, kWave, "Plugins/not_a_library.dll", kSettings,
                                         "Plugins/test_no_entry.dll"};
    for (int i = 1; i <= 8; ++i) expected.push_back("Plugins/wave" + std::to_string(i) + ".dll");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(listed, expected);
    EXPECT_TRUE(form->PluginFirst->isChecked());
    EXPECT_EQ(form->windowTitle().toStdString(), "Input plug-in Configuration");
    EXPECT_EQ(form->size(), QSize(582, 338));
}

TEST_F(PluginConfigTest, LoadFillsTheNextRowOrSaysWhyNot) {
    Load(kWave);
    EXPECT_EQ(Said(), "");
    EXPECT_EQ(form->LoadedCount(), 1);
    EXPECT_EQ(form->Cell(1, 0), kWave);
    EXPECT_EQ(form->Cell(1, 1), "KAV WAVE decoder");
    EXPECT_EQ(form->Cell(1, 2), "WAV");
    const std::pair<std::string, std::string> refused[] = {
        {kWave, "Load denied : Already loaded before"},
        {"Plugins/not_a_library.dll", "Load denied : Unknown Error"},
        {"Plugins/test_no_entry.dll", "Load denied : Not a valid Winamp 2 input plug-in"},
    };
    for (const auto& [name, text] : refused) {
        Load(name);
        EXPECT_EQ(Said(), text) << name;
        EXPECT_EQ(Names(), std::vector<std::string>{kWave}) << name;
    }
    for (int i = 1; i <= 7; ++i) Load("Plugins/wave" + std::to_string(i) + ".dll");
    EXPECT_EQ(form->LoadedCount(), 8);
    Load("Plugins/wave8.dll");
    EXPECT_EQ(Said(), "Load denied : Max. number of plug-ins loaded");
    EXPECT_EQ(form->LoadedCount(), 8);
}

TEST_F(PluginConfigTest, LoadSaysTheOutputIsNotReadyWithoutTheManager) {
    QuitPluginCtrl();
    Load(kWave);
    EXPECT_EQ(Said(), "Load denied : Output plug-in is not ready");
    EXPECT_EQ(form->LoadedCount(), 0);
    InitPluginCtrl();
}

TEST_F(PluginConfigTest, UnloadEmptiesTheLastRowOrRebuildsTheGridInSlotOrder) {
    for (const std::string& name : {kWave, kMp3, kSettings}) Load(name);
    form->SelectRow(3);
    form->btnUnloadClick();
    EXPECT_EQ(Said(), "");
    EXPECT_EQ(Names(), (std::vector<std::string>{kWave, kMp3}));
    Load(kSettings);  // slot 2 again, row 3
    form->SelectRow(1);
    form->btnUnloadClick();  // slot 0 freed: the rows follow the slots
    EXPECT_EQ(Names(), (std::vector<std::string>{kMp3, kSettings}));
    Load(kWave);  // takes slot 0 again, shown in row 3
    EXPECT_EQ(Names(), (std::vector<std::string>{kMp3, kSettings, kWave}));
    form->SelectRow(2);
    form->btnUnloadClick();
    EXPECT_EQ(Names(), (std::vector<std::string>{kWave, kMp3}));
    EXPECT_EQ(form->LoadedCount(), 2);
    EXPECT_EQ(form->Cell(1, 1), "KAV WAVE decoder");

    // Unloaded behind the dialog's back: the row stays, the manager refuses.
    ASSERT_EQ(UnloadWinampPlugin(kMp3), PLUGIN_OK);
    form->SelectRow(2);
    form->btnUnloadClick();
    EXPECT_EQ(Said(), "Cannot unload : Plug-in is not loaded");
}

TEST_F(PluginConfigTest, ThePlugInThatPlaysCannotBeUnloaded) {
    Load(kWave);
    ASSERT_TRUE(player->OpenStream(ToneWav("dialog-tone.wav", 2)));
    ASSERT_EQ(player->ChannelKind(), CHANNEL_PLUGIN);
    player->StartPlayback();
    form->SelectRow(1);
    form->btnUnloadClick();
    EXPECT_EQ(Said(), "Cannot unload : Plug-in is in use");
    EXPECT_EQ(form->Cell(1, 0), kWave);
    player->StopPlayback();
}

TEST_F(PluginConfigTest, AboutAndConfigureReachTheSelectedPlugInWithTheDialogAsParent) {
    Load(kWave);
    Load(kSettings);
    form->SelectRow(2);
    form->btnAboutClick();
    form->btnConfigureClick();
    EXPECT_EQ(Said(), "");
    const win::HMODULE lib = GetPluginInfo(GetPluginIndex(kSettings)).DLLHandle;
    using Getter = void* (*)();
    const auto about = reinterpret_cast<Getter>(win::GetProcAddress(lib, "test_last_about"));
    const auto config = reinterpret_cast<Getter>(win::GetProcAddress(lib, "test_last_config"));
    ASSERT_TRUE(about && config);
    const auto parent = reinterpret_cast<void*>(form->winId());
    EXPECT_EQ(about(), parent);
    EXPECT_EQ(config(), parent);
}

TEST_F(PluginConfigTest, EachButtonSaysWhatIsMissing) {
    using Click = void (TPluginConfigForm::*)();
    const std::tuple<Click, const char*, const char*> buttons[] = {
        {&TPluginConfigForm::btnUnloadClick, "No plug-ins are loaded",
         "Select plug-in to unload first"},
        {&TPluginConfigForm::btnAboutClick, "No plug-ins to query are loaded",
         "Select plug-in to query first"},
        {&TPluginConfigForm::btnConfigureClick, "No plug-ins to configure are loaded",
         "Select plug-in to configure first"},
    };
    for (const auto& [click, none, select] : buttons) {
        (form->*click)();
        EXPECT_EQ(Said(), none);
    }
    form->btnLoadClick();
    EXPECT_EQ(Said(), "Select plug-in to load first");
    Load(kWave);
    for (const auto& [click, none, select] : buttons) {
        form->SelectRow(0);
        (form->*click)();
        EXPECT_EQ(Said(), select);
        form->SelectRow(5);  // an empty row
        (form->*click)();
        EXPECT_EQ(Said(), select);
    }
    form->SetCandidates({});
    form->btnLoadClick();
    EXPECT_EQ(Said(), "No plug-in to load");
}

TEST_F(PluginConfigTest, PluginFirstReachesTheEngine) {
    form->PluginFirst->click();
    EXPECT_TRUE(PumpUntil([&] { return !player->PluginFirst(); }, 2s));
    form->PluginFirst->click();
    EXPECT_TRUE(PumpUntil([&] { return player->PluginFirst(); }, 2s));
}

}  // namespace
