// The input plug-in manager with real libraries: the build's plug-ins, an
// SDK-style C plug-in, a library without the entry point and a file that is
// no library.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "PluginHost.h"
#include "plugins/ioplug.h"
#define KAV_WINAMP_HOST
#include "platform/winamp/In_Module.h"

using namespace plugintest;

namespace {

class PluginCtrlTest : public ::testing::Test {
  protected:
    void SetUp() override {
        player = StartPlayer();
        ASSERT_TRUE(player->PlayerReady());
    }
    void TearDown() override { player.reset(); }

    enginetest::BoxRecorder boxes;
    std::unique_ptr<TBASSPlayer> player;
};

bool StillMapped(const std::string& name) {
    void* h = dlopen((ProgramDir() + "/" + name).c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (h) dlclose(h);
    return h != nullptr;
}

}  // namespace

// Each load's result code, in the order the cases are tried.
TEST_F(PluginCtrlTest, LoadResultCodes) {
    struct Case {
        const char* name;
        int code;
        int slot;
    };
    const Case cases[] = {
        {"in_mp3.dll", PLUGIN_OK, 0},
        {"in_mp3.dll", PLUGIN_ALREADY_LOADED, 0},
        {"IN_MP3.DLL", PLUGIN_OK, 1},  // names compare case-sensitively
        {"missing.dll", PLUGIN_LOAD_FAILED, -1},
        {"not_a_library.dll", PLUGIN_LOAD_FAILED, -1},
        {"test_no_entry.dll", PLUGIN_NOT_VALID, -1},
        {"in_wave.dll", PLUGIN_OK, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(LoadWinampPlugin(c.name), c.code);
        EXPECT_EQ(GetPluginIndex(c.name), c.slot);
    }
    EXPECT_FALSE(StillMapped("test_no_entry.dll"));  // released again
    EXPECT_TRUE(boxes.boxes.empty());                // the manager shows nothing
}

// What a load writes into the module and keeps of it.
TEST_F(PluginCtrlTest, LoadWiresTheModuleToTheEmulator) {
    ASSERT_EQ(LoadWinampPlugin("in_mp3.dll"), PLUGIN_OK);
    In_Module* m = GetPlugin(0);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(reinterpret_cast<win::HWND>(m->hMainWindow), GetEmulatorWindow());
    EXPECT_EQ(static_cast<void*>(m->outMod), ioplug::OutModule());
    EXPECT_NE(m->SetInfo, nullptr);
    EXPECT_NE(m->dsp_dosamples, nullptr);
    EXPECT_NE(m->SAVSAInit, nullptr);
    const TPluginInfo info = GetPluginInfo(0);
    EXPECT_EQ(info.Name, "in_mp3.dll");
    EXPECT_EQ(info.Version, 0x100);
    EXPECT_EQ(info.Description, m->description);
    EXPECT_EQ(info.FileExtensions, "MP3;MP2;MP1");  // the first entry of the list only
    EXPECT_EQ(info.Seekable, m->is_seekable);
    EXPECT_EQ(info.DLLHandle, static_cast<void*>(m->hDllInstance));
    for (int index : {-1, 1, 8}) {
        EXPECT_EQ(GetPlugin(index), nullptr);
        EXPECT_TRUE(GetPluginInfo(index).Name.empty());
        EXPECT_EQ(GetPluginInfo(index).DLLHandle, nullptr);
    }
}

TEST_F(PluginCtrlTest, UnloadResultCodes) {
    ASSERT_EQ(LoadWinampPlugin("in_wave.dll"), PLUGIN_OK);
    EXPECT_EQ(UnloadWinampPlugin("in_mp3.dll"), PLUGIN_NOT_LOADED);
    ASSERT_EQ(SelectInputPlugin(0), 0);
    EXPECT_EQ(UnloadWinampPlugin("in_wave.dll"), PLUGIN_IN_USE);
    EXPECT_EQ(GetPluginIndex("in_wave.dll"), 0);
    // The emulator's window clears the active plug-in.
    win::PostMessage(GetEmulatorWindow(), ioplug::WM_CLEAR_ACTIVE);
    ASSERT_TRUE(enginetest::PumpUntil([] { return GetActivePluginIndex() == -1; }));
    EXPECT_EQ(UnloadWinampPlugin("in_wave.dll"), PLUGIN_OK);
    EXPECT_EQ(GetPlugin(0), nullptr);
    EXPECT_EQ(UnloadWinampPlugin("in_wave.dll"), PLUGIN_NOT_LOADED);
}

// Once the player is gone its plug-ins are freed, and the manager no longer
// hands out what they were: asking after one must not reach freed code.
TEST_F(PluginCtrlTest, NothingIsLeftLoadedOnceThePlayerIsGone) {
    ASSERT_EQ(LoadWinampPlugin("wave1.dll"), PLUGIN_OK);
    ASSERT_TRUE(StillMapped("wave1.dll"));
    player.reset();
    EXPECT_FALSE(StillMapped("wave1.dll"));
    EXPECT_EQ(GetPluginIndex("wave1.dll"), -1);
    EXPECT_EQ(GetPlugin(0), nullptr);
    EXPECT_EQ(GetPluginInfo(0).DLLHandle, nullptr);
    EXPECT_EQ(UnloadWinampPlugin("wave1.dll"), PLUGIN_NOT_LOADED);
}

TEST_F(PluginCtrlTest, EightSlotsThenTheFreedOneIsReused) {
    for (int i = 1; i <= 8; ++i)
        ASSERT_EQ(LoadWinampPlugin("wave" + std::to_string(i) + ".dll"), PLUGIN_OK) << i;
    EXPECT_EQ(LoadWinampPlugin("wave9.dll"), PLUGIN_NO_SLOT);
    EXPECT_EQ(GetPluginIndex("wave9.dll"), -1);
    ASSERT_EQ(UnloadWinampPlugin("wave3.dll"), PLUGIN_OK);
    EXPECT_EQ(LoadWinampPlugin("wave9.dll"), PLUGIN_OK);
    EXPECT_EQ(GetPluginIndex("wave9.dll"), 2);
}

TEST_F(PluginCtrlTest, ExtensionsAndSelection) {
    ASSERT_EQ(LoadWinampPlugin("in_wave.dll"), PLUGIN_OK);
    ASSERT_EQ(LoadWinampPlugin("in_mp3.dll"), PLUGIN_OK);
    ASSERT_EQ(LoadWinampPlugin("IN_MP3.DLL"), PLUGIN_OK);
    struct Case {
        const char* ext;
        int slot;
    };
    // The lowest of two claimants; a substring test, any case of a..z.
    const Case cases[] = {{"MP3", 1}, {"mp2", 1},  {"P3;M", 1}, {"WAV", 0},
                          {"wav", 0}, {"OGG", -1}, {"TON", -1}};
    for (const Case& c : cases) EXPECT_EQ(FindPluginForExt(c.ext), c.slot) << c.ext;
    ASSERT_EQ(UnloadWinampPlugin("in_mp3.dll"), PLUGIN_OK);
    EXPECT_EQ(FindPluginForExt("MP3"), 2);

    ASSERT_EQ(SelectInputPlugin(2), 0);
    EXPECT_EQ(SelectInputPlugin(1), -1);  // emptied slot
    EXPECT_EQ(SelectInputPlugin(8), -1);
    EXPECT_EQ(GetActivePluginIndex(), 2);
    EXPECT_EQ(SelectInputPlugin(-1), 0);
    EXPECT_EQ(GetActivePluginIndex(), -1);
}
