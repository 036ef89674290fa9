// Plug-ins that misbehave, written from the SDK's layout alone as outside
// authors write them (ToneSdkPlugin.c's faulty variants): calls that never
// return, a plug-in that never writes, ends that come early or late, records
// with missing functions, a Quit that still uses the output, and names that
// lead to a library loaded already. The station must go on in every case.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <condition_variable>
#include <fstream>
#include <mutex>
#include <thread>

#include "PluginHost.h"
#include "app/automation/Automation.h"
#include "app/lists/ListFiles.h"
#include "platform/bassbind/Dynamic_BASS.h"
#include "platform/win/MessageBox.h"
#include "plugins/ForeignCall.h"
#include "plugins/ioplug.h"
#define KAV_WINAMP_HOST
#include "platform/winamp/In_Module.h"

using namespace enginetest;
using namespace plugintest;
using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

// What a bounded wait may take beyond its limit on a loaded machine.
constexpr auto kSlack = 1500ms;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string PathOf(const std::string& name) {
    return ProgramDir() + "/" + name;
}

bool StillMapped(const std::string& name) {
    void* h = dlopen(PathOf(name).c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (h) dlclose(h);
    return h != nullptr;
}

// "<frequency> <frames>": a file of the SDK-style test plug-in.
std::string ToneFile(const std::string& name, int hz, long frames) {
    const std::string path = TempDir() + "/" + name;
    std::ofstream(path) << hz << " " << frames << "\n";
    return path;
}

// A faulty test plug-in seen through its own exports: how many calls were
// made into its record, and the release of the calls it blocks. Kept, the
// test holds a reference of its own, so the library stays loaded whatever the
// host does; otherwise it must be loaded by the host already. A call still
// blocked is released when the test is done with it, or after 15 s (so that
// a host that waits without a bound fails instead of hanging).
class FaultyPlugin {
  public:
    explicit FaultyPlugin(const std::string& name, bool keep = true)
        : handle_(dlopen(PathOf(name).c_str(), RTLD_NOW | (keep ? 0 : RTLD_NOLOAD))),
          calls_(reinterpret_cast<int (*)()>(dlsym(handle_, "test_calls"))),
          release_(reinterpret_cast<void (*)()>(dlsym(handle_, "test_release"))),
          watchdog_([this] {
              std::unique_lock lock(mutex_);
              ended_.wait_for(lock, 15s, [this] { return end_; });
              Release();
          }) {
        if (!keep && handle_) dlclose(handle_);
        if (!keep) handle_ = nullptr;
    }
    ~FaultyPlugin() {
        {
            std::lock_guard lock(mutex_);
            end_ = true;
        }
        ended_.notify_all();
        watchdog_.join();
        // The calls released just now come back before the next test begins.
        const auto deadline = Clock::now() + 5s;
        while (foreign::CallsStillInside() > 0 && Clock::now() < deadline)
            std::this_thread::sleep_for(1ms);
        if (handle_) dlclose(handle_);
    }
    bool Ready() const { return calls_ && release_; }
    int Calls() const { return calls_ ? calls_() : -1; }
    void Release() {
        if (release_) release_();
    }

  private:
    void* handle_;
    int (*calls_)();
    void (*release_)();
    std::mutex mutex_;
    std::condition_variable ended_;
    bool end_ = false;
    std::thread watchdog_;
};

class PluginFaultTest : public ::testing::Test {
  protected:
    void SetUp() override { Restart(); }
    void TearDown() override { player.reset(); }

    // A player of its own, as the program starts one (no plug-in loaded).
    void Restart() {
        player.reset();
        player = StartPlayer();
        ASSERT_TRUE(player->PlayerReady());
        player->SetPluginFirst(true);
        player->OnPlayEnd = [this](TBASSPlayer*) { ++playEnds; };
        playEnds = 0;
    }

    // The boxes whose text names the plug-in.
    std::vector<BoxRecorder::Box> BoxesAbout(const std::string& name) const {
        std::vector<BoxRecorder::Box> found;
        for (const auto& b : boxes.boxes)
            if (b.text.find(name) != std::string::npos) found.push_back(b);
        return found;
    }

    // True once the player has played on for the given time without being
    // stopped or reporting an end.
    bool PlaysOnFor(std::chrono::milliseconds time) {
        const uint32_t from = player->PositionMs();
        PumpUntil([&] { return playEnds > 0 || player->PlayState() != PLAYSTATE_PLAYING; }, time);
        return playEnds == 0 && player->PlayState() == PLAYSTATE_PLAYING &&
               player->PositionMs() >= from + time.count() * 3 / 4;
    }

    BoxRecorder boxes;
    std::unique_ptr<TBASSPlayer> player;
    int playEnds = 0;
};

}  // namespace

// A call that does not return is waited for no longer than its bound (5 s
// for Play, 2 s for the others); the plug-in is then retired: reported once,
// without waiting, never called again, its library kept loaded, and its WAV
// files played by the audio library instead.
TEST_F(PluginFaultTest, ACallThatNeverReturnsIsBoundedAndRetiresThePlugin) {
    struct Case {
        const char* name;
        std::chrono::milliseconds limit;
        std::function<void()> call;
    };
    const std::string wav = ToneWav("pf-tone.wav", 1.0);
    auto open = [this, wav] { ASSERT_TRUE(player->OpenStream(wav)); };
    const Case cases[] = {
        {"test_wave_block_in_init.dll", 2s,
         [this] { EXPECT_EQ(LoadWinampPlugin("test_wave_block_in_init.dll"), PLUGIN_RETIRED); }},
        {"test_wave_block_in_getfileinfo.dll", 2s, open},
        {"test_wave_block_in_play.dll", 5s,
         [this, open] {
             open();
             EXPECT_EQ(player->ChannelKind(), CHANNEL_PLUGIN);
             EXPECT_FALSE(player->StartPlayback());
             EXPECT_NE(player->PlayState(), PLAYSTATE_PLAYING);
         }},
        {"test_wave_block_in_stop.dll", 2s,
         [this, open] {
             open();
             ASSERT_TRUE(player->StartPlayback());
             player->StopPlayback();
             EXPECT_EQ(player->PlayState(), PLAYSTATE_STOPPED);
         }},
        {"test_wave_block_in_quit.dll", 2s,
         [this] { EXPECT_EQ(UnloadWinampPlugin("test_wave_block_in_quit.dll"), PLUGIN_OK); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Restart();
        boxes.boxes.clear();
        FaultyPlugin plugin(c.name);
        ASSERT_TRUE(plugin.Ready());
        if (std::string(c.name) != "test_wave_block_in_init.dll") {
            ASSERT_EQ(LoadWinampPlugin(c.name), PLUGIN_OK);
        }
        // Only the blocked call is timed: the load before it returns at once.
        const auto start = Clock::now();
        c.call();
        EXPECT_LE(SecondsSince(start), std::chrono::duration<double>(c.limit + kSlack).count());
        EXPECT_EQ(GetPluginIndex(c.name), -1);
        const auto reports = BoxesAbout(c.name);
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0].caption, "Error");
        EXPECT_EQ(reports[0].flags & win::MB_WAIT, 0u);

        // From now on nothing reaches it: not a load, an open, a play, nor
        // the end of the player.
        const int calls = plugin.Calls();
        EXPECT_EQ(LoadWinampPlugin(c.name), PLUGIN_RETIRED);
        ASSERT_TRUE(player->OpenStream(wav));
        EXPECT_EQ(player->ChannelKind(), CHANNEL_STREAM);  // the audio library plays it
        EXPECT_TRUE(player->StartPlayback());
        PumpFor(200ms);
        player->StopPlayback();
        player.reset();
        EXPECT_EQ(plugin.Calls(), calls);
        EXPECT_EQ(BoxesAbout(c.name).size(), 1u);  // reported once
    }
}

// The library of a plug-in whose call is still inside stays loaded after the
// player is gone; released, the call ends on its own thread.
TEST_F(PluginFaultTest, APluginStillInsideACallIsNeverUnloaded) {
    const std::string name = "test_wave_block_in_play.dll";
    ASSERT_EQ(LoadWinampPlugin(name), PLUGIN_OK);
    FaultyPlugin plugin(name, false);
    ASSERT_TRUE(plugin.Ready());
    ASSERT_TRUE(player->OpenStream(ToneWav("pf-inside.wav", 1.0)));
    EXPECT_FALSE(player->StartPlayback());
    player.reset();
    EXPECT_TRUE(StillMapped(name));
}

// What opens but does not start is a failed open: the playlist moves on at
// once to the next track, whether the plug-in never writes or never comes
// back from Play.
TEST_F(PluginFaultTest, ATrackThatDoesNotStartMovesThePlaylistOn) {
    for (const char* faulty : {"test_wave_never_writes.dll", "test_wave_block_in_play.dll"}) {
        SCOPED_TRACE(faulty);
        Restart();
        FaultyPlugin plugin(faulty);
        ASSERT_EQ(LoadWinampPlugin(faulty), PLUGIN_OK);
        ASSERT_EQ(LoadWinampPlugin("in_mp3.dll"), PLUGIN_OK);
        StringGrid playlist{{25, 403, 342}}, prgmlist{{25, 68, 163, 249}};
        AddToPlaylist(playlist, ToneWav("pf-bad.wav", 2.0));
        const std::string good = CbrMp3("pf-good.mp3", 3.0);
        AddToPlaylist(playlist, good);
        EnginePort<TBASSPlayer> port(*player);
        TAutomation automation(playlist, prgmlist, port, AutomationHost{});
        automation.PlaylistRowCommand(1);
        EXPECT_EQ(automation.Run().CurrentPlaylistRow, 2u);
        EXPECT_EQ(player->PlayState(), PLAYSTATE_PLAYING);
        EXPECT_EQ(player->CurrentFile(), good);
        player->StopPlayback();
    }
}

// An end that belongs to a stream no longer playing ends nothing: one that
// comes while the end before it drains and another track is started inside
// that wait, and one that arrives once another track plays.
TEST_F(PluginFaultTest, AStaleEndDoesNotCutTheNextTrack) {
    const std::string first = ToneWav("pf-first.wav", 30.0);
    const std::string next = ToneWav("pf-next.wav", 20.0);
    ASSERT_EQ(LoadWinampPlugin("in_wave.dll"), PLUGIN_OK);
    for (const bool insideTheDrain : {true, false}) {
        SCOPED_TRACE(insideTheDrain ? "started inside the drain" : "started before the end");
        playEnds = 0;
        ASSERT_TRUE(player->OpenStream(first));
        ASSERT_TRUE(player->StartPlayback());
        const DWORD stale = player->ChannelHandle();
        auto startNext = [&] {
            ASSERT_TRUE(player->OpenStream(next));
            ASSERT_TRUE(player->StartPlayback());
        };
        if (insideTheDrain) {
            // The end is handled first; the next track is started from the
            // messages dispatched while its stream drains.
            win::PostMessage(player->MessageWindow(), WM_BP_PLUGINEOF, stale);
            const win::HWND probe = win::CreateMessageWindow([&](const win::Message&) {
                startNext();
                return win::LRESULT{0};
            });
            win::PostMessage(probe, 2000);
            ASSERT_TRUE(PumpUntil([&] { return player->CurrentFile() == next; }, 5s));
            win::DestroyMessageWindow(probe);
        } else {
            player->StopPlayback();
            startNext();
            win::PostMessage(player->MessageWindow(), WM_BP_PLUGINEOF, stale);
        }
        ASSERT_NE(player->ChannelHandle(), stale);
        EXPECT_TRUE(PlaysOnFor(8s));  // past the longest a drain may take
        player->StopPlayback();
    }
}

// A track opened and started from the messages a start's wait dispatches (a
// programme time, the operator) plays: the start under way gives way to it
// and stops nothing of it.
TEST_F(PluginFaultTest, ATrackStartedInsideAStartWaitPlays) {
    FaultyPlugin plugin("test_wave_never_writes.dll");
    ASSERT_EQ(LoadWinampPlugin("test_wave_never_writes.dll"), PLUGIN_OK);
    ASSERT_EQ(LoadWinampPlugin("in_mp3.dll"), PLUGIN_OK);
    const std::string next = CbrMp3("pf-inside-start.mp3", 4.0);
    ASSERT_TRUE(player->OpenStream(ToneWav("pf-never.wav", 2.0)));
    bool innerStarted = false;
    const win::HWND probe = win::CreateMessageWindow([&](const win::Message&) {
        innerStarted = player->OpenStream(next) && player->StartPlayback();
        return win::LRESULT{0};
    });
    win::PostMessage(probe, 2000);
    EXPECT_FALSE(player->StartPlayback());  // its own stream did not start
    win::DestroyMessageWindow(probe);
    EXPECT_TRUE(innerStarted);
    EXPECT_EQ(player->CurrentFile(), next);
    EXPECT_TRUE(PlaysOnFor(2s));
    EXPECT_TRUE(boxes.boxes.empty());
    player->StopPlayback();
}

// A second name for a library that is loaded already (a link to it) is
// "already loaded": the playing track cannot be killed by unloading it.
TEST_F(PluginFaultTest, ASecondNameForALoadedLibraryIsAlreadyLoaded) {
    ASSERT_EQ(LoadWinampPlugin("in_mp3.dll"), PLUGIN_OK);
    EXPECT_EQ(LoadWinampPlugin("mp3link.dll"), PLUGIN_ALREADY_LOADED);
    EXPECT_EQ(GetPluginIndex("mp3link.dll"), -1);
    ASSERT_TRUE(player->OpenStream(CbrMp3("pf-link.mp3", 4.0)));
    ASSERT_TRUE(player->StartPlayback());
    EXPECT_EQ(UnloadWinampPlugin("mp3link.dll"), PLUGIN_NOT_LOADED);
    EXPECT_TRUE(PlaysOnFor(2s));
    player->StopPlayback();
}

// A record without Init, Quit, Play or Stop is not a valid plug-in: refused
// with code 5 and released, never called.
TEST_F(PluginFaultTest, ARecordWithoutARequiredFunctionIsRefused) {
    for (const char* name :
         {"test_null_quit.dll", "test_null_play.dll", "test_null_stop.dll", "test_null_init.dll"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(LoadWinampPlugin(name), PLUGIN_NOT_VALID);
        EXPECT_EQ(GetPluginIndex(name), -1);
        EXPECT_FALSE(StillMapped(name));
    }
}

// A plug-in whose Quit still uses the output module quits while the audio
// library is bound: the player's end is orderly, and the library is released.
TEST_F(PluginFaultTest, AQuitThatUsesTheOutputEndsThePlayerInOrder) {
    ASSERT_EQ(LoadWinampPlugin("test_quit_calls_output.dll"), PLUGIN_OK);
    player.reset();
    EXPECT_FALSE(StillMapped("test_quit_calls_output.dll"));
    EXPECT_FALSE(BASS_Loaded());
}

// Once its track is stopped, has ended, or another stream is opened, a
// plug-in is no longer in use and may be unloaded; the stopped track cannot
// then start again through it.
TEST_F(PluginFaultTest, APluginThatPlayedCanBeUnloadedOnceItsStreamIsDone) {
    struct Case {
        const char* name;
        std::function<void()> finish;
    };
    const Case cases[] = {
        {"stopped", [this] { player->StopPlayback(); }},
        {"ended", [this] { ASSERT_TRUE(PumpUntil([&] { return playEnds > 0; }, 10s)); }},
        {"another opened", [this] { ASSERT_TRUE(player->OpenStream(ToneWav("pf-lib.wav", 1.0))); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        playEnds = 0;
        ASSERT_EQ(LoadWinampPlugin("test_tone.dll"), PLUGIN_OK);
        ASSERT_TRUE(player->OpenStream(ToneFile("pf-unload.ton", 1000, 22050)));
        ASSERT_TRUE(player->StartPlayback());
        EXPECT_EQ(UnloadWinampPlugin("test_tone.dll"), PLUGIN_IN_USE);
        c.finish();
        EXPECT_EQ(GetActivePluginIndex(), -1);
        EXPECT_EQ(UnloadWinampPlugin("test_tone.dll"), PLUGIN_OK);
        if (player->ChannelKind() == CHANNEL_PLUGIN) {
            EXPECT_FALSE(player->StartPlayback());
        }
        EXPECT_FALSE(StillMapped("test_tone.dll"));
    }
}
