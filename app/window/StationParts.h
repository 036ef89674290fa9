// What the main window keeps for a station left alone, beyond the Parts: the
// [estacao] settings, the events and their alarm, the run's state on disk,
// the dead-air watch over the engine's output level and the service
// manager's watchdog. Owned by TForm1 and used by Unit1Station.cpp, GUI
// thread only (the command runner has a thread of its own).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "DeadAir.h"
#include "ServiceWatch.h"
#include "StationEvents.h"
#include "StationSettings.h"
#include "StationState.h"
#include "platform/win/CommandRunner.h"
#include "platform/win/Timer.h"

class TBASSPlayer;

// The engine's output level, as the dead-air detector reads it.
class EngineOutputLevel : public station::OutputLevelSource {
  public:
    explicit EngineOutputLevel(std::unique_ptr<TBASSPlayer>& engine) : engine_(engine) {}
    bool Read(Reading& reading) override;

  private:
    std::unique_ptr<TBASSPlayer>& engine_;
};

struct TStationParts {
    TStationParts(std::unique_ptr<TBASSPlayer>& engine, const std::string& stateFile)
        : events(runner), state(stateFile), level(engine) {}

    win::CommandRunner runner;
    station::Events events;
    station::StateFile state;
    station::Settings settings;
    station::LastRun lastRun;
    EngineOutputLevel level;
    std::unique_ptr<station::DeadAirDetector> deadAir;
    std::unique_ptr<station::ServiceWatch> watch;
    // The station's tick: its own, so that a box that stops Timer1 does not stop it.
    win::Timer timer;
    // The playlist's file that plays, or played last, and how far it got.
    std::string playlistFile;
    std::uint32_t playlistPositionMs = 0;
    std::string status;          // the status line: what plays, or "Parado"
    std::string statusSent;      // the status line told to the service manager last
    bool stateReported = false;  // a failed write of the state file was reported
    bool answering = false;      // dead air is being answered
    bool started = false;        // the start-up is over: the manager hears from here on
    // [estacao] is written once it holds anything: until an option is set or
    // a file has played, kav.ini stays as the operator's settings alone make it.
    bool keepSection = false;
};
