// The DSP host on an SDK-style test DSP: the module table and selection, the
// hooks an input plug-in calls, and the engine's loading with its error boxes
// and the orderly end of the program that follows each.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "DSPTestLibrary.h"
#include "PluginHost.h"
#include "platform/win/MessageBox.h"
#define KAV_WINAMP_HOST
#include "platform/winamp/DSP.h"
#include "platform/winamp/In_Module.h"
#include "plugins/ForeignCall.h"
#include "plugins/ioplug.h"
#include "tests/support/BinDir.h"

using namespace dsphosttest;
using namespace enginetest;
using namespace std::chrono_literals;

namespace {

constexpr win::HWND kParent = 0x1234;

class DSPHostTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(dsp.Ready()); }

    int32_t Load(const std::string& path) {
        winampDSPHeader* header = nullptr;
        int32_t count = -1;
        LoadDSPModules(path, header, modules, kParent, count);
        EXPECT_EQ(count, DSPModuleCount());
        return count;
    }

    TestDspLibrary dsp;
    TDSPModules modules{};
};

TEST_F(DSPHostTest, EightModulesAreCountedAndNoNinthIsAskedFor) {
    dsp.Configure(8, 0, kSame);
    EXPECT_EQ(Load(TestDspPath()), 8);
    EXPECT_EQ(dsp.Now().asked, 7);
    for (winampDSPModule* m : modules) {
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(m->hwndParent, reinterpret_cast<HWND>(kParent));
        EXPECT_EQ(m->hDllInstance, static_cast<HINSTANCE>(dsp.handle));
    }
    EXPECT_EQ(SelectedDSPModule(), -1);
    EXPECT_EQ(DSPDllPath(), TestDspPath());
}

TEST_F(DSPHostTest, SelectingTheSelectedModuleChangesNothingEvenAfterAStop) {
    dsp.Configure(2, 0, kSame);
    ASSERT_EQ(Load(TestDspPath()), 2);
    EXPECT_EQ(SelectDSPModule(2), -1);
    EXPECT_FALSE(DSPActive());
    EXPECT_EQ(SelectDSPModule(0), 0);
    EXPECT_TRUE(DSPActive());
    EXPECT_EQ(SelectDSPModule(0), -1);
    EXPECT_EQ(dsp.Now().inits, 1);
    EXPECT_EQ(StopDSPModule(), 0);
    EXPECT_FALSE(DSPActive());
    EXPECT_EQ(SelectDSPModule(0), -1);
    EXPECT_EQ(dsp.Now().inits, 1);
    EXPECT_EQ(SelectedDSPModule(), 0);
    EXPECT_EQ(DSPDllPath(), TestDspPath());  // the library stays after a stop
    // A module is quit once, however often it is stopped and unloaded.
    EXPECT_EQ(StopDSPModule(), 0);
    EXPECT_EQ(UnloadDSPModules(), 0);
    EXPECT_EQ(dsp.Now().quits, 1);
    EXPECT_EQ(DSPDllPath(), "");
}

TEST_F(DSPHostTest, NothingLoadedOrNothingUsableFindsNoModule) {
    EXPECT_EQ(SelectDSPModule(0), -1);
    EXPECT_EQ(StopDSPModule(), -1);
    EXPECT_EQ(UnloadDSPModules(), -1);
    const std::string libs = TestPluginDir();
    dsp.Configure(0, 0, kSame);
    for (const std::string& path :
         {libs + "/test_no_entry.dll", libs + "/missing.dll", TestDspPath()}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(Load(path), 0);
        EXPECT_EQ(SelectDSPModule(0), -1);
    }
}

// Loading again while a module runs quits that module before its library goes.
TEST_F(DSPHostTest, LoadingAgainQuitsTheRunningModuleFirst) {
    ASSERT_EQ(Load(TestDspPath()), 1);
    ASSERT_EQ(SelectDSPModule(0), 0);
    ASSERT_EQ(Load(TestDspPath()), 1);
    EXPECT_FALSE(DSPActive());
    EXPECT_EQ(dsp.Now().quits, 1);
    EXPECT_EQ(SelectedDSPModule(), -1);
    EXPECT_EQ(SelectDSPModule(0), 0);
    EXPECT_EQ(dsp.Now().inits, 2);
}

struct HookCase {
    const char* what;
    Result result;
    int bits;
    bool active;
    int expected;  // frames handed back for 100 given
    bool called;
};

// dsp_dosamples as an input plug-in calls it: the module's count when
// positive, at most twice what was given; 16-bit blocks only.
TEST_F(DSPHostTest, TheSampleHookPassesOnlyWhatTheBufferHolds) {
    In_Module plugin{};
    ioplug::InstallHostFunctions(&plugin);
    const std::vector<HookCase> cases = {
        {"the module's own count", kSame, 16, true, 100, true},
        {"a module that returns 0", kZero, 16, true, 100, true},
        {"a negative count", kNegative, 16, true, 100, true},
        {"three times the input", kTriple, 16, true, 200, true},
        {"an 8-bit block", kSame, 8, true, 100, false},
        {"a stopped module", kSame, 16, false, 100, false},
    };
    for (const HookCase& c : cases) {
        SCOPED_TRACE(c.what);
        dsp.Configure(1, 0, c.result);
        ASSERT_EQ(Load(TestDspPath()), 1);
        ASSERT_EQ(SelectDSPModule(0), 0);
        if (!c.active) StopDSPModule();
        EXPECT_EQ(plugin.dsp_isactive(), c.active ? 1 : 0);
        std::vector<short> block(400, 400);  // room for twice 100 stereo frames
        EXPECT_EQ(plugin.dsp_dosamples(block.data(), 100, c.bits, 2, 44100), c.expected);
        EXPECT_EQ(dsp.Now().calls, c.called ? 1 : 0);
        EXPECT_EQ(block[0], c.called ? 100 : 400);
    }
}

struct EngineCase {
    const char* what;
    int modules, initResult;
    std::string path;
    uint16_t module;
    std::string box;  // empty: loads and runs
};

TEST_F(DSPHostTest, TheEngineShowsWhyAPlugInIsUnusableAndEndsTheProgram) {
    const std::string libs = TestPluginDir();
    const std::vector<EngineCase> cases = {
        {"a working module", 1, 0, TestDspPath(), 0, ""},
        {"module 1 of a one-module library", 1, 0, TestDspPath(), 1, "Invalid module number"},
        {"a library without the entry point", 1, 0, libs + "/test_no_entry.dll", 0,
         "Specified plug-in is invalid"},
        {"a missing library", 1, 0, libs + "/missing.dll", 0, "Specified plug-in is invalid"},
        {"a header without modules", 0, 0, TestDspPath(), 0, "Specified plug-in is invalid"},
        {"a module whose Init fails", 1, 5, TestDspPath(), 0, "Specified plug-in is not operative"},
    };
    auto player = plugintest::StartPlayer();
    for (const EngineCase& c : cases) {
        SCOPED_TRACE(c.what);
        BoxRecorder boxes;
        int terminations = 0;
        player->TerminateApplication = [&terminations] { ++terminations; };
        dsp.Configure(c.modules, c.initResult, kSame);
        EXPECT_EQ(player->LoadDSPPlugin(c.path, c.module, kParent), c.box.empty());
        EXPECT_EQ(terminations, 0);  // not inside the call: after the current event
        if (c.box.empty()) {
            EXPECT_TRUE(DSPActive());
            PumpFor(100ms);
            EXPECT_EQ(terminations, 0);
            EXPECT_TRUE(boxes.boxes.empty());
            player->UnloadDSPPlugin();
            EXPECT_FALSE(DSPActive());
            EXPECT_EQ(dsp.Now().quits, 1);
            continue;
        }
        EXPECT_TRUE(PumpUntil([&] { return terminations > 0; }, 2s));
        EXPECT_EQ(terminations, 1);
        ASSERT_EQ(boxes.boxes.size(), 1u);
        EXPECT_EQ(boxes.boxes[0].text, c.box);
        EXPECT_EQ(boxes.boxes[0].caption, "Error");
        EXPECT_EQ(boxes.boxes[0].flags, win::MB_ICONERROR);
        EXPECT_FALSE(DSPActive());
        if (c.initResult != 0) {
            EXPECT_EQ(DSPDllPath(), "");  // released
        }
    }
    player->TerminateApplication = nullptr;
}

TEST_F(DSPHostTest, UncheckingWithNothingLoadedDoesNothing) {
    auto player = plugintest::StartPlayer();
    player->UnloadDSPPlugin();
    EXPECT_EQ(DSPModuleCount(), 0);
    EXPECT_EQ(dsp.Now().quits, 0);
}

}  // namespace

// A module whose Init never returns is waited for 2 s at most: it fails as a
// module whose Init answers non-zero, and its library is never called or
// released again (the call is still inside it).
TEST_F(DSPHostTest, AnInitThatNeverReturnsFailsWithinItsBound) {
    const std::string path = std::string(TestPluginDir()) + "/test_dsp_block_in_init.dll";
    win::HMODULE own = win::LoadLibrary(path);  // the test's own reference, for the release
    auto release = reinterpret_cast<void (*)()>(win::GetProcAddress(own, "test_dsp_release"));
    auto counts = reinterpret_cast<void (*)(int*, int*, int*, int*)>(
        win::GetProcAddress(own, "test_dsp_counts"));
    ASSERT_TRUE(release && counts);
    // Released when the test is done, or after 15 s: a host without a bound
    // fails rather than hangs.
    std::promise<void> done;
    std::thread watchdog([release, finished = done.get_future()] {
        finished.wait_for(15s);
        release();
    });
    auto player = plugintest::StartPlayer();
    BoxRecorder boxes;
    int terminations = 0;
    player->TerminateApplication = [&terminations] { ++terminations; };
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(player->LoadDSPPlugin(path, 0, kParent));
    EXPECT_LE(std::chrono::steady_clock::now() - start, 2s + 1500ms);
    EXPECT_FALSE(DSPActive());
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "Specified plug-in is not operative");
    EXPECT_TRUE(PumpUntil([&] { return terminations > 0; }, 2s));
    // Loaded again, it is refused without a call.
    EXPECT_FALSE(player->LoadDSPPlugin(path, 0, kParent));
    player.reset();
    done.set_value();
    watchdog.join();
    // The released call comes back.
    ASSERT_TRUE(PumpUntil([] { return foreign::CallsStillInside() == 0; }, 5s));
    int inits = 0, quits = 0, calls = 0, asked = 0;
    counts(&inits, &quits, &calls, &asked);
    EXPECT_EQ(inits, 1);  // a second Init would have come back once released too
    EXPECT_EQ(quits, 0);  // the module that never started is never quit
    win::FreeLibrary(own);
}
