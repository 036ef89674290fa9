// The main window telling what plays, beyond the operator's desk: the now-playing
// notifier hears of every item the automation opens, starts, stops or cannot
// play, of the engine's ends and stream titles and of the station's ticks;
// its listeners are the as-run log, the now-playing files (and the ao_mudar
// command), the item in progress kept in the run's state, the desktop's
// media control and the window's title.
#include <QApplication>

#include <cmath>
#include <cstdio>

#include "InProgress.h"
#include "Mpris.h"
#include "StartRules.h"
#include "StationParts.h"
#include "Unit1.h"
#include "engine/BASSPlayer.h"
#include "platform/win/ProgramDir.h"
#include "widgets/RXSlider.h"

namespace {

// "KAV — Artista - Título" while something plays; the tray keeps its own text.
class WindowTitle : public nowplaying::Listener {
  public:
    explicit WindowTitle(QWidget& window) : window_(window) {}
    void Changed(const nowplaying::Snapshot& now) override {
        window_.setWindowTitle(
            now.playing ? QString::fromStdString("KAV \u2014 " + nowplaying::DisplayText(now.item))
                        : QStringLiteral("KAV"));
    }

  private:
    QWidget& window_;
};

void setValues(station::StateFile& state, const nowplaying::StateValues& values) {
    for (const auto& [key, value] : values) state.SetValue(key, value);
}

}  // namespace

TStationParts::TStationParts(std::unique_ptr<TBASSPlayer>& engine, const std::string& stateFile)
    : events(runner), state(stateFile), level(engine) {}

TStationParts::~TStationParts() = default;

void InProgressKeeper::Changed(const nowplaying::Snapshot& now) {
    if (!now.playing) return;
    inProgress_ = true;
    keptHeardMs_ = 0;
    setValues(state_, nowplaying::InProgressValues(now.item, 0));
    write();
}

// Forgotten at once, on disk with the next write of the state (the next
// item's): the window in between is a few instructions.
void InProgressKeeper::Finished(const nowplaying::Played&) {
    if (!inProgress_) return;
    inProgress_ = false;
    setValues(state_, nowplaying::NothingInProgress());
}

void InProgressKeeper::Progress(std::uint32_t heardMs) {
    if (!inProgress_ || heardMs < keptHeardMs_ + kKeepEveryMs) return;
    keptHeardMs_ = heardMs;
    state_.SetValue("ouvido_ms", std::to_string(heardMs));
    write();
}

void InProgressKeeper::write() {
    std::string error;
    if (state_.Write(&error) || reported_) return;
    reported_ = true;
    std::fprintf(stderr, "kav: %s\n", error.c_str());
    std::fflush(stderr);
}

nowplaying::Notifier* TForm1::NowPlaying() {
    return Station ? &Station->nowPlaying : nullptr;
}

nowplaying::CauseScope TForm1::Because(const char* reason) {
    static nowplaying::Notifier none;  // before the start-up, or after the end
    return (Station ? Station->nowPlaying : none).Because(reason);
}

// Within the station's start, once the last run's state is known: the
// listeners the options ask for, the last run's item in progress, and the
// log files too old to keep.
void TForm1::startNowPlaying() {
    TStationParts& st = *Station;
    const station::Settings& s = st.settings;
    const bool nowFiles = s.nowPlayingFiles || !s.onChange.empty();
    if (s.asRunLog || nowFiles)
        st.files = std::make_unique<nowplaying::FileWriter>(
            DataDir + win::PathDelim + nowplaying::kAsRunFolder, DataDir, &st.runner);
    if (s.asRunLog) {
        st.asRunLog = std::make_unique<nowplaying::AsRunLog>(*st.files);
        st.inProgress = std::make_unique<InProgressKeeper>(st.state, st.stateReported);
        st.nowPlaying.Subscribe(*st.asRunLog);
        st.nowPlaying.Subscribe(*st.inProgress);
    }
    if (nowFiles) {
        st.nowPlayingFiles = std::make_unique<nowplaying::NowPlayingFiles>(*st.files, s.onChange);
        st.nowPlaying.Subscribe(*st.nowPlayingFiles);
        st.nowPlayingFiles->Changed(st.nowPlaying.Now());  // nothing plays yet
    }
    if (s.mpris) startMpris();
    st.windowTitle = std::make_unique<WindowTitle>(*this);
    st.nowPlaying.Subscribe(*st.windowTitle);
    logInterruptedItem();
    if (s.asRunLog && s.logDays > 0)
        st.files->RemoveDaysBefore(
            nowplaying::ShiftDay(nowplaying::LocalDayText(nowplaying::WallClockMs()), -s.logDays));
}

// An item still in progress when the last run ended without order gets its
// line now; the record goes either way, so that no later start logs it again.
void TForm1::logInterruptedItem() {
    TStationParts& st = *Station;
    const auto interrupted =
        nowplaying::InterruptedItem([&st](const char* key) { return st.state.Value(key); });
    if (!interrupted) return;
    if (!st.lastRun.ended && st.asRunLog) st.nowPlaying.Report(*interrupted);
    setValues(st.state, nowplaying::NothingInProgress());
    std::string error;
    if (!st.state.Write(&error) && !st.stateReported) {
        st.stateReported = true;
        std::fprintf(stderr, "kav: %s\n", error.c_str());
    }
}

void TForm1::startMpris() {
    MprisHost host{
        .Raise = [this] { Abrir1Click(); },
        .Quit = [this] { close(); },
        .Play =
            [this] {
                if (mprisMayAct()) BPlayClick();
            },
        .Stop =
            [this] {
                if (mprisMayAct()) BPararClick();
            },
        .Next =
            [this] {
                if (!mprisMayAct()) return;
                const nowplaying::CauseScope cause = Because(nowplaying::reason::kRow);
                guarded(
                    [this] { Automation->PlaylistRowCommand(Automation->FindPlaylistRow() + 1); });
            },
        .Playing = [this] { return EnginePlaying(); },
        .Volume = [this] { return volume->Value() / 255.0; },
        .SetVolume = [this](double v) { volume->SetValue(int(std::lround(v * 255))); },
        .PositionUs =
            [this] { return EnginePlaying() ? std::int64_t(player_->PositionMs()) * 1000 : 0; },
    };
    Station->mpris = std::make_unique<TMpris>(std::move(host));
    Station->nowPlaying.Subscribe(*Station->mpris);
}

// As the window's own controls: not during a fade, nor while a box waits.
bool TForm1::mprisMayAct() const {
    return isEnabled() && !QApplication::activeModalWidget() && !Automation->Fading();
}

nowplaying::Attempt TForm1::attemptFor(bool fromProgramme, unsigned row,
                                       const std::string& path) const {
    if (!fromProgramme) return {nowplaying::kPlaylist, row, "", path};
    return {nowplaying::kProgramme, row, prgmlistCells.Cell(kStartCol, int(row)), path};
}

bool TForm1::enginePlaysPlugin() const {
    return BASSPlayer1 && BASSPlayer1->ChannelKind() == CHANNEL_PLUGIN;
}

// After the engine's start, with what the stream says of itself.
void TForm1::nowPlayingStarted() {
    if (!Station) return;
    const TStreamInfo& info = player_->StreamInfo();
    const bool playing = EnginePlaying();
    const bool fromLink = BASSPlayer1 && BASSPlayer1->TitleFromLink();
    Station->nowPlaying.Started(
        nowplaying::WallClockMs(), playing, playing ? player_->PositionMs() : 0,
        {info.Artist, info.Title, info.Duration, fromLink}, enginePlaysPlugin());
}

void TForm1::streamTitle(const std::string& title) {
    if (Station && EnginePlaying())
        Station->nowPlaying.TitleChanged(nowplaying::WallClockMs(), player_->PositionMs(), title);
}

// On the station's tick: the notifier's readings, the item in progress kept,
// and a problem of the file writer reported once.
void TForm1::nowPlayingTick(bool playing, std::uint32_t positionMs) {
    TStationParts& st = *Station;
    st.nowPlaying.Tick(nowplaying::WallClockMs(), playing, !BASSPlayer1->Busy(), positionMs);
    if (st.inProgress) st.inProgress->Progress(st.nowPlaying.HeardMs());
    if (!st.files) return;
    const std::string problem = st.files->TakeProblem();
    if (!problem.empty())
        st.events.Report(station::event::kLog, "ficheiros da emissão por escrever: " + problem);
}

void TForm1::nowPlayingClosing() {
    if (Station) Station->nowPlaying.Closing(nowplaying::WallClockMs());
}
