// Playback control and the scheduler on the real engine (null output), with
// the clock replaced: the grids and the window's controls are plain fields here.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/automation/Automation.h"
#include "app/automation/PlayerPort.h"
#include "app/automation/StartRules.h"
#include "engine/BASSPlayer.h"
#include "platform/win/Clock.h"
#include "tests/support/PumpUntil.h"

namespace schedtest {

// A short sine tone as a WAV file in a temporary folder, made once per name.
std::string Tone(const std::string& name, double seconds = 0.4, int frequency = 440);
// A path in the temporary folder that names no file.
std::string Missing(const std::string& name);
constexpr std::uint32_t At(unsigned h, unsigned m, unsigned s = 0, unsigned ms = 0) {
    return ((h * 60 + m) * 60 + s) * 1000 + ms;
}

// The engine's port, recording what was asked of it.
class RecordingPort : public PlayerPort {
  public:
    explicit RecordingPort(TBASSPlayer& engine) : engine_(engine), port_(engine) {}
    void StopPlayback() override;
    bool OpenStream(const std::string& path) override;
    bool StartPlayback() override { return port_.StartPlayback(); }
    bool Playing() const override { return port_.Playing(); }
    void SetOutputVolume(std::uint32_t volume) override;
    std::uint32_t PositionMs() override { return port_.PositionMs(); }
    void SetPositionMs(std::uint32_t ms) override { port_.SetPositionMs(ms); }
    const TStreamInfo& StreamInfo() const override { return port_.StreamInfo(); }

    std::vector<std::string> opened;     // file names of every open asked for
    std::vector<std::string> started;    // file names that opened and started
    std::vector<std::uint32_t> volumes;  // every volume set
    int stops = 0;                       // stops while something played
    std::vector<std::string> log;        // "volume N" and "stop", in order

  private:
    TBASSPlayer& engine_;
    EnginePort<TBASSPlayer> port_;
};

class AutomationTest : public testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Adds a tone (or a missing file) to the end of a list.
    void AddTrack(const std::string& path);
    void AddEntry(const std::string& start, const std::string& path);
    // Sets the clock and runs one tick of the scheduler.
    void TickAt(std::uint32_t timeOfDay);
    // The file name started last, or "" when nothing was.
    std::string LastStarted() const;
    // Ticks every 100 ms for the given time (fades inside move the clock on);
    // returns "hh:mm:ss name" for each item a tick started.
    std::vector<std::string> RunFor(std::uint32_t ms);

    win::ManualClock clock{At(12, 0)};
    std::vector<std::string> boxes;
    std::vector<bool> timerSwitches;
    bool timerEnabled = true;
    std::function<void()> onBox;  // runs while a box is up
    int fadesBegun = 0, fadesEnded = 0;
    std::function<void(const StartingItem&)> itemStarting;  // the station's hooks
    std::function<void(const std::string&)> itemFailed;

    StringGrid playlist{{25, 403, 342}};
    StringGrid prgmlist{{25, 68, 163, 249}};
    bool repeat = true, autoShuffle = false;
    int volumeValue = 255;
    NowPlayingTexts shown;

    TBASSPlayer* engine = nullptr;  // shared by every test
    std::unique_ptr<RecordingPort> port;
    std::unique_ptr<TAutomation> automation;
    RunState& run() { return automation->Run(); }
};

}  // namespace schedtest
