// The main window as a station left alone, beyond the operator's desk: [estacao] read
// and kept, the run's state on disk before every item starts, playing by
// itself at the end of start-up from where the last run was, the dead-air
// watch and its answer, station events, and what a service manager is told.
#include <QAction>

#include <cstdio>

#include "Notifier.h"
#include "Playback.h"
#include "Resume.h"
#include "StartRules.h"
#include "StationParts.h"
#include "Unit1.h"
#include "engine/BASSPlayer.h"
#include "platform/win/ProgramDir.h"
#include "platform/win/ServiceManager.h"

namespace {

constexpr unsigned kStationTickMs = 100;

std::string seconds(std::uint32_t ms) {
    return std::to_string((ms + 500) / 1000);
}

// A problem writing the state is told once, on standard error only: the data
// folder's files are reported in a box already when they cannot be written.
void reportOnce(bool& reported, const std::string& error) {
    if (reported || error.empty()) return;
    reported = true;
    std::fprintf(stderr, "kav: %s\n", error.c_str());
    std::fflush(stderr);
}

}  // namespace

bool EngineOutputLevel::Read(Reading& reading) {
    BASS_OUTPUTLEVEL level{};
    if (!engine_ || !engine_->ReadOutputLevel(level)) return false;
    reading.loudestDb = level.loudest;
    reading.frames = level.frames;
    return true;
}

const std::string& TForm1::ResumeFile() const {
    static const std::string none;
    return Station ? Station->playlistFile : none;
}

std::uint32_t TForm1::ResumePositionMs() const {
    return Station ? Station->playlistPositionMs : 0;
}

// Within FormCreate, once the settings are read and before the plug-ins
// load: how the last run ended is known from here on, and this run counts as
// not ended until endStation.
void TForm1::startStation() {
    Station = std::make_unique<TStationParts>(BASSPlayer1,
                                              DataDir + win::PathDelim + station::kStateFileName);
    TStationParts& st = *Station;
    st.settings = station::ReadSettings(*Settings);
    st.events.SetAlarm(st.settings.alarm);
    autoplay->setChecked(st.settings.autoplay);
    pontual->setChecked(st.settings.punctual);
    Automation->SetPunctual(st.settings.punctual);
    st.playlistFile = st.settings.file;
    st.playlistPositionMs = st.settings.positionMs;
    for (const char* key : {"autoplay", "pontual", "posicao", "ficheiro"})
        st.keepSection = st.keepSection || Settings->ValueExists(station::kSection, key);
    std::string error;
    st.lastRun = st.state.Begin(&error);
    reportOnce(st.stateReported, error);
    if (st.lastRun.known && !st.lastRun.ended)
        st.events.Report(station::event::kRestart,
                         "a execução anterior não terminou em ordem" +
                             (st.lastRun.item.file.empty() ? std::string()
                                                           : "; tocava " + st.lastRun.item.file));
    SetRetiredReport([&events = st.events](const std::string& name, const std::string& reason) {
        events.Report(station::event::kFailure, "plug-in " + name + " fora de uso: " + reason);
    });
    leaveOutCrashingPlugin();
    startNowPlaying();
    startStationWatches();
}

// A plug-in that played when the last runs went down is not loaded in this
// one: its extensions go to the audio library.
void TForm1::leaveOutCrashingPlugin() {
    const station::LastRun& last = Station->lastRun;
    const std::string plugin = station::PluginToLeaveOut(last);
    if (plugin.empty()) return;
    RetirePlugin(plugin, "the program ended abnormally " + std::to_string(last.pluginUncleanEnds) +
                             " times in a row while it played");
}

// The input plug-in that plays the opened stream; empty when the audio library does.
std::string TForm1::openedPlugin() const {
    if (BASSPlayer1->ChannelKind() != CHANNEL_PLUGIN) return "";
    return GetPluginInfo(BASSPlayer1->PluginIndex()).Name;
}

// The dead-air watch and the service manager's keep-alives, on a tick of their own.
void TForm1::startStationWatches() {
    TStationParts& st = *Station;
    st.deadAir = std::make_unique<station::DeadAirDetector>(
        st.level, station::DeadAirSettings{.silenceSeconds = st.settings.silenceSeconds,
                                           .silenceDb = st.settings.silenceDb});
    st.watch = std::make_unique<station::ServiceWatch>(
        station::KeepAlivePeriodMs(win::service::WatchdogUsec()));
    st.timer.SetInterval(kStationTickMs);
    st.timer.OnTimer = [this] { stationTick(); };
    st.timer.SetEnabled(true);
}

// The end of start-up, once the event loop turns.
void TForm1::stationStarted() {
    if (!Station) return;
    if (playAtStart_ || autoplay->isChecked()) resumePlaylist();
    Station->started = true;
    tellStatus(EnginePlaying() ? Station->status : "Parado");
    win::service::NotifyReady();
}

// The playlist's row that was playing itself, from a little before where it
// was; a programme item that was playing is not resumed.
void TForm1::resumePlaylist() {
    TStationParts& st = *Station;
    const unsigned saved =
        station::PlayingRow(Run().CurrentPlaylistRow, st.lastRun,
                            PlaylistRowPath(playlistCells, int(st.lastRun.item.row)));
    const std::string rowFile = saved ? PlaylistRowPath(playlistCells, int(saved)) : "";
    const station::ResumePlan plan =
        station::PlanResume(saved, rowFile, st.settings.file, st.settings.positionMs, st.lastRun);
    if (plan.skipped)
        st.events.Report(station::event::kFailure, "saltado " + rowFile + ": o programa terminou " +
                                                       std::to_string(st.lastRun.uncleanEnds) +
                                                       " vezes seguidas a tocá-lo");
    guarded([&] { Automation->ResumePlaylistRow(plan.row, plan.fromMs); });
    if (!EnginePlaying()) return;
    const unsigned row = Automation->FindPlaylistRow();
    st.events.Report(
        station::event::kStart,
        "a tocar a playlist por si, linha " + std::to_string(row) + " (" +
            PlaylistRowPath(playlistCells, int(row)) + ")" +
            (plan.fromMs && row == plan.row ? " desde " + FormatSeconds(plan.fromMs / 1000)
                                            : std::string()));
}

void TForm1::stationTick() {
    if (!Station || !BASSPlayer1) return;
    TStationParts& st = *Station;
    const bool playing = EnginePlaying();
    const std::uint32_t position = playing ? player_->PositionMs() : 0;
    // A stop, a fade, a pause or an engine busy starting or seeking is not dead
    // air; while it seeks, the position read is not yet the one it goes to.
    const bool onAir = playing && !Automation->Fading() && !BASSPlayer1->Busy();
    if (playing && !BASSPlayer1->Busy() && !Run().PlayingFromProgramme)
        st.playlistPositionMs = position;
    nowPlayingTick(playing, position);
    const station::DeadAirVerdict verdict = st.deadAir->Check(onAir, position);
    if (verdict.kind != station::DeadAirKind::None) answerDeadAir(verdict);
    onAirTick();
    if (!st.started) return;
    if (st.watch->KeepAliveDue(playing, position)) win::service::NotifyWatchdog();
    if (!EnginePlaying()) tellStatus("Parado");
}

// Exactly what a failed open does: the playlist moves on to its next row.
void TForm1::answerDeadAir(const station::DeadAirVerdict& verdict) {
    TStationParts& st = *Station;
    if (st.answering) return;  // a tick inside the answer's own waits
    st.answering = true;
    const std::string what = verdict.kind == station::DeadAirKind::Silence
                                 ? "silêncio há " + seconds(verdict.lastedMs) + " s"
                                 : "a posição não avança há " + seconds(verdict.lastedMs) + " s";
    st.events.Report(station::event::kSilence, what + ": " + BASSPlayer1->CurrentFile());
    const nowplaying::CauseScope cause = st.nowPlaying.Because(nowplaying::reason::kDeadAir);
    player_->StopPlayback();  // through the port: the item is cut here
    if (verdict.reopenOutput) {
        st.events.Report(station::event::kSilence,
                         std::to_string(st.deadAir->Settings().skipsBeforeReopen) +
                             " saltos seguidos: a saída de som é aberta de novo");
        BASSPlayer1->ReopenOutput();
    }
    guarded([this] { Automation->SkipDeadItem(); });
    st.answering = false;
}

// Before the engine starts the item: on disk by the time it starts.
void TForm1::itemStarting(const StartingItem& item) {
    if (!Station) return;
    TStationParts& st = *Station;
    if (!item.fromProgramme) {
        st.playlistFile = item.path;
        st.playlistPositionMs = 0;
    }
    st.nowPlaying.Opened(attemptFor(item.fromProgramme, item.row, item.path));
    std::string error;
    const char* list = item.fromProgramme ? station::kProgrammeName : station::kPlaylistName;
    // A plug-in's Play that brings the program down is known at the next start.
    st.state.SetValue(station::kPluginKey, openedPlugin());
    if (!st.state.ItemStarting({list, item.row, item.path}, &error))
        reportOnce(st.stateReported, error);
}

// The next track's plug-in is started while the track before it drains. A
// Play that brings the program down is blamed on that file and plug-in: the
// plug-in is left out after enough of them. The row stays the current one
// (the file on it is not the suspect, so it is not skipped): the next start
// resumes it and the track after it is played without that plug-in.
void TForm1::followerStarting(const std::string& path, std::int32_t pluginIndex) {
    if (!Station) return;
    TStationParts& st = *Station;
    const bool programme = Run().PlayingFromProgramme;
    const unsigned row = programme ? Run().CurrentProgrammeRow : Run().CurrentPlaylistRow;
    const char* list = programme ? station::kProgrammeName : station::kPlaylistName;
    st.state.SetValue(station::kPluginKey, GetPluginInfo(pluginIndex).Name);
    std::string error;
    if (!st.state.ItemStarting({list, row, path}, &error)) reportOnce(st.stateReported, error);
}

// The row that failed is the current row of its list.
void TForm1::itemFailed(const std::string& path) {
    if (!Station) return;
    const bool programme = Run().PlayingFromProgramme;
    const unsigned row = programme ? Run().CurrentProgrammeRow : Run().CurrentPlaylistRow;
    const bool output = BASSPlayer1 && BASSPlayer1->PlayerReady();
    Station->nowPlaying.Failed(nowplaying::WallClockMs(), attemptFor(programme, row, path),
                               enginePlaysPlugin(),
                               output ? nullptr : nowplaying::reason::kNoOutput);
    Station->events.Report(station::event::kFailure, "não abre: " + path);
}

// Told once the start-up is over, and then at each change.
void TForm1::tellStatus(const std::string& status) {
    if (!Station) return;
    Station->status = status;
    if (!Station->started || Station->statusSent == status) return;
    Station->statusSent = status;
    win::service::NotifyStatus(status);
}

void TForm1::stationClosing() {
    win::service::NotifyStopping();
}

// The orderly end, once everything else is saved.
void TForm1::endStation() {
    if (!Station) return;
    Station->timer.SetEnabled(false);
    std::string error;
    if (!Station->state.EndInOrder(&error)) reportOnce(Station->stateReported, error);
}

std::vector<win::IniValue> TForm1::stationValues() {
    if (!Station) return {};
    TStationParts& st = *Station;
    st.keepSection = st.keepSection || autoplay->isChecked() != st.settings.autoplay ||
                     pontual->isChecked() != st.settings.punctual || !st.playlistFile.empty();
    if (!st.keepSection) return {};
    std::vector<win::IniValue> values =
        station::KeptValues(autoplay->isChecked(), st.playlistPositionMs, st.playlistFile);
    values.push_back(station::PunctualValue(pontual->isChecked()));
    return values;
}
