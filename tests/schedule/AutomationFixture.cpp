#include "AutomationFixture.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "app/lists/ListFiles.h"
#include "app/lists/Paths.h"
#include "platform/bassbind/Dynamic_BASS.h"
#include "platform/win/MessageBox.h"
#include "platform/win/Messages.h"
#include "platform/win/ProgramDir.h"
#include "tests/support/BinDir.h"

namespace fs = std::filesystem;

namespace schedtest {

namespace {

const fs::path& Folder() {
    // Never destroyed: the removal at exit still needs the path.
    static const fs::path& folder = *new fs::path([] {
        fs::path dir = fs::temp_directory_path() / ("kav-sched-" + std::to_string(getpid()));
        fs::create_directories(dir);
        std::atexit([] {
            std::error_code ignored;
            fs::remove_all(Folder(), ignored);
        });
        return dir;
    }());
    return folder;
}

bool IsNullOutput(int device) {
    const char* name = BASS_GetDeviceDescription(device);
    return name && std::string(name).find("null") != std::string::npos;
}

TBASSPlayer* sharedEngine = nullptr;

// Ends the shared engine after the last test, before the process's own end.
class EngineEnvironment : public testing::Environment {
  public:
    void TearDown() override {
        delete sharedEngine;
        sharedEngine = nullptr;
    }
};
[[maybe_unused]] testing::Environment* const engineEnvironment =
    testing::AddGlobalTestEnvironment(new EngineEnvironment);

// One engine for the whole run, on the null output: binding the library
// again for every test would only slow the tests down.
TBASSPlayer* SharedEngine() {
    if (!sharedEngine) {
        // The program directory with the library: the build's bin folder,
        // which is also where the tests run.
        win::SetProgramDir(TestBinDir().string());
        StartupDevice = 1;
        auto* player = new TBASSPlayer();
        if (!player->PlayerReady()) return sharedEngine = player;
        int null = 0;
        for (int i = 1; i < 256 && BASS_GetDeviceDescription(i) && !null; ++i)
            if (IsNullOutput(i)) null = i;
        if (null > 1) {
            delete player;
            StartupDevice = uint8_t(null);
            player = new TBASSPlayer();
        }
        sharedEngine = player;
    }
    return sharedEngine;
}

}  // namespace

std::string Tone(const std::string& name, double seconds, int frequency) {
    static std::map<std::string, std::string> made;
    auto it = made.find(name);
    if (it != made.end()) return it->second;
    const std::string path = (Folder() / name).string();
    const std::string command = "sox -n -r 44100 -c 2 -b 16 '" + path + "' synth " +
                                std::to_string(seconds) + " sine " + std::to_string(frequency) +
                                " vol 0.5";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    made[name] = path;
    return path;
}

std::string Missing(const std::string& name) {
    return (Folder() / ("missing-" + name)).string();
}

void RecordingPort::StopPlayback() {
    if (port_.Playing()) {
        ++stops;
        log.push_back("stop");
    }
    port_.StopPlayback();
}

bool RecordingPort::OpenStream(const std::string& path) {
    opened.push_back(paths::ExtractFileName(path));
    const bool ok = port_.OpenStream(path);
    if (ok) started.push_back(opened.back());
    return ok;
}

void RecordingPort::SetOutputVolume(std::uint32_t volume) {
    volumes.push_back(volume);
    log.push_back("volume " + std::to_string(volume));
    port_.SetOutputVolume(volume);
}

void AutomationTest::SetUp() {
    win::SetMessageBoxHandler(
        [this](const std::string& caption, const std::string& text, unsigned) {
            boxes.push_back(caption + ": " + text);
            if (onBox) onBox();
            return win::IDOK;
        });
    win::SetClock(&clock);
    engine = SharedEngine();
    ASSERT_TRUE(engine->PlayerReady());
    ASSERT_TRUE(IsNullOutput(BASS_GetDevice()));
    engine->StopPlayback();
    engine->SetOutputVolume(255);
    port = std::make_unique<RecordingPort>(*engine);
    automation = std::make_unique<TAutomation>(
        playlist, prgmlist, *port,
        AutomationHost{.RepeatPlaylist = [this] { return repeat; },
                       .AutoShuffle = [this] { return autoShuffle; },
                       .VolumeValue = [this] { return volumeValue; },
                       .ShowNowPlaying = [this](const NowPlayingTexts& t) { shown = t; },
                       .BeginFade = [this] { ++fadesBegun; },
                       .EndFade = [this] { ++fadesEnded; },
                       .SetTimerEnabled =
                           [this](bool on) {
                               timerEnabled = on;
                               timerSwitches.push_back(on);
                           },
                       .ItemStarting =
                           [this](const StartingItem& item) {
                               if (itemStarting) itemStarting(item);
                           },
                       .ItemFailed =
                           [this](const std::string& path) {
                               if (itemFailed) itemFailed(path);
                           }});
    engine->OnPlayEnd = [this](TBASSPlayer*) { automation->TrackEnded(); };
}

void AutomationTest::TearDown() {
    automation.reset();
    port.reset();
    engine->OnPlayEnd = nullptr;
    engine->StopPlayback();
    // An end that was posted before the stop must not reach the next test.
    win::ProcessMessages();
    win::SetClock(nullptr);
    win::SetMessageBoxHandler({});
}

void AutomationTest::AddTrack(const std::string& path) {
    AddToPlaylist(playlist, path);
}

void AutomationTest::AddEntry(const std::string& start, const std::string& path) {
    AddToProgrammeList(prgmlist, path, start);
}

void AutomationTest::TickAt(std::uint32_t timeOfDay) {
    clock.SetTimeOfDay(timeOfDay);
    automation->Tick();
}

std::string AutomationTest::LastStarted() const {
    return port->started.empty() ? "" : port->started.back();
}

std::vector<std::string> AutomationTest::RunFor(std::uint32_t ms) {
    std::vector<std::string> fired;
    const std::uint32_t start = clock.TickCount();
    while (clock.TickCount() - start < ms) {
        clock.Advance(100);
        const std::uint32_t now = clock.TimeOfDayMs();
        const size_t before = port->started.size();
        automation->Tick();
        if (port->started.size() > before)
            fired.push_back(FormatSeconds(now / 1000) + " " + port->started.back());
    }
    return fired;
}

}  // namespace schedtest
