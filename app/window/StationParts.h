// What the main window keeps for a station left alone, beyond the operator's desk: the
// [estacao] settings, the events and their alarm, the run's state on disk,
// the dead-air watch over the engine's output level, the service manager's
// watchdog, and what plays as told outside the engine (the now-playing
// notifier and its listeners: the as-run log, the now-playing files, the
// item in progress kept in the state). Owned by TForm1 and used by
// Unit1Station.cpp and Unit1NowPlaying.cpp, GUI thread only (the command
// runner and the file writer have threads of their own).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "DeadAir.h"
#include "FileListeners.h"
#include "FileWriter.h"
#include "Notifier.h"
#include "ServiceWatch.h"
#include "StationEvents.h"
#include "StationSettings.h"
#include "StationState.h"
#include "platform/win/CommandRunner.h"
#include "platform/win/Timer.h"

class TBASSPlayer;
class TMpris;

// Keeps the item in progress in the run's state, for a line after a crash:
// written when an item is first heard and every few seconds while it plays;
// forgotten (on disk with the next write) once its line is written.
class InProgressKeeper : public nowplaying::Listener {
  public:
    static constexpr std::uint32_t kKeepEveryMs = 5000;
    InProgressKeeper(station::StateFile& state, bool& reported)
        : state_(state), reported_(reported) {}
    void Changed(const nowplaying::Snapshot& now) override;
    void Finished(const nowplaying::Played& played) override;
    // On the station's tick: how far the item playing has been heard.
    void Progress(std::uint32_t heardMs);

  private:
    void write();
    station::StateFile& state_;
    bool& reported_;  // a failed write of the state was reported
    bool inProgress_ = false;
    std::uint32_t keptHeardMs_ = 0;
    nowplaying::Item item_;
};

// The engine's output level, as the dead-air detector reads it.
class EngineOutputLevel : public station::OutputLevelSource {
  public:
    explicit EngineOutputLevel(std::unique_ptr<TBASSPlayer>& engine) : engine_(engine) {}
    bool Read(Reading& reading) override;

  private:
    std::unique_ptr<TBASSPlayer>& engine_;
};

struct TStationParts {
    TStationParts(std::unique_ptr<TBASSPlayer>& engine, const std::string& stateFile);
    ~TStationParts();

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

    // What plays, and who is told (each listener only when its option is on).
    nowplaying::Notifier nowPlaying;
    std::unique_ptr<nowplaying::FileWriter> files;  // its thread, before the listeners
    std::unique_ptr<nowplaying::AsRunLog> asRunLog;
    std::unique_ptr<nowplaying::NowPlayingFiles> nowPlayingFiles;
    std::unique_ptr<InProgressKeeper> inProgress;
    std::unique_ptr<TMpris> mpris;
    std::unique_ptr<nowplaying::Listener> windowTitle;
};
