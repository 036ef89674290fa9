// The main window's playback control and programme scheduler: the transport
// handlers, the tick's programme part and the fade, over the automation,
// which works on the window's grids and owns the run's state.
#include <QLabel>

#include "Notifier.h"
#include "StartRules.h"
#include "Unit1.h"
#include "engine/BASSPlayer.h"
#include "platform/win/MessageBox.h"
#include "widgets/CoolTrayIcon.h"
#include "widgets/RXSlider.h"

static_assert(EnginePort<TBASSPlayer>::kPlaying == PLAYSTATE_PLAYING);

// The window's engine as playback control sees it: what plays is cut (and
// moved) in the now-playing record where it was, volumes go through the
// window, which keeps the volume last given, and an open that ends with an
// error (an Ogg file gone from the disk) is reported without waiting and is a
// failed open like any other: the playlist moves on.
void TForm1::createPlayback() {
    player_ = std::make_unique<EnginePort<TBASSPlayer>>(
        BASSPlayer1,
        PlayerHooks{
            .Stopping =
                [this](std::uint32_t positionMs) {
                    if (nowplaying::Notifier* now = NowPlaying())
                        now->Stopping(nowplaying::WallClockMs(), positionMs);
                },
            .Moved =
                [this](std::uint32_t positionMs) {
                    if (nowplaying::Notifier* now = NowPlaying())
                        now->Moved(nowplaying::WallClockMs(), positionMs);
                },
            .SetVolume = [this](std::uint32_t volume) { SetOutputVolume(int(volume)); },
            .OpenError =
                [](const std::string& what) { win::MessageBox(0, what, "KAV", win::MB_OK); },
        });
    Automation = std::make_unique<TAutomation>(
        playlistCells, prgmlistCells, *player_,
        AutomationHost{
            .RepeatPlaylist = [this] { return repetepl->isChecked(); },
            .AutoShuffle = [this] { return autobaralhar->isChecked(); },
            .VolumeValue = [this] { return volume->Value(); },
            .ShowNowPlaying = [this](const NowPlayingTexts& texts) { showNowPlaying(texts); },
            .BeginFade = [this] { beginFade(); },
            .EndFade = [this] { endFade(); },
            .SetTimerEnabled =
                [this](bool on) {
                    Timer1.SetEnabled(on);
                    if (!on) DueTimer.SetEnabled(false);
                },
            .ItemStarting = [this](const StartingItem& item) { itemStarting(item); },
            .ItemFailed = [this](const std::string& path) { itemFailed(path); },
        });
}

// Any other error of playback control or the scheduler is shown without
// waiting, and the program goes on: the next tick, end of track or command.
void TForm1::guarded(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::exception& e) {
        showMessage(e.what());
    }
}

void TForm1::showNowPlaying(const NowPlayingTexts& texts) {
    Ldur->setText(QString::fromStdString(texts.duration));
    Lparam->setText(QString::fromStdString(texts.params));
    Lartist->setText(QString::fromStdString(texts.artist));
    Ltitle->setText(QString::fromStdString(texts.title));
    tellStatus("A tocar: " + texts.artist + " - " + texts.title);
    nowPlayingStarted();
    tellOutputsNowPlaying(texts.artist, texts.title);
}

// "Fading..." in the middle of the client area; no input meanwhile.
void TForm1::beginFade() {
    const QWidget* area = Panel1->parentWidget();
    Panel1->move(area->width() / 2 - Panel1->width() / 2,
                 area->height() / 2 - Panel1->height() / 2);
    setEnabled(false);
    CoolTrayIcon1->SetEnabled(false);
    Panel1->show();
    Panel1->raise();
}

void TForm1::endFade() {
    Panel1->hide();
    setEnabled(true);
    CoolTrayIcon1->SetEnabled(true);
}

void TForm1::BPlayClick() {
    const nowplaying::CauseScope cause = Because(nowplaying::reason::kPlay);
    guarded([this] { Automation->PlayCommand(); });
}

void TForm1::BPararClick() {
    const nowplaying::CauseScope cause = Because(nowplaying::reason::kStop);
    Automation->StopCommand();
}

void TForm1::SpeedButton3Click() {
    Automation->ShufflePlaylist();
}

void TForm1::playlistDblClick() {
    const nowplaying::CauseScope cause = Because(nowplaying::reason::kRow);
    guarded([this] { Automation->PlaylistRowCommand(unsigned(playlistCells.Row())); });
}

void TForm1::prgmlistDblClick() {
    const nowplaying::CauseScope cause = Because(nowplaying::reason::kRow);
    guarded([this] { Automation->ProgrammeRowCommand(unsigned(prgmlistCells.Row())); });
}

void TForm1::BASSPlayer1PlayEnd() {
    if (nowplaying::Notifier* now = NowPlaying()) now->Ended(nowplaying::WallClockMs());
    guarded([this] { Automation->TrackEnded(); });
}

bool TForm1::EnginePlaying() const {
    return player_->Playing();
}

void TForm1::FadeOutAndStop() {
    Automation->FadeOutAndStop();
}

// The tick's elapsed time and programme part.
void TForm1::ScheduleTick() {
    if (EnginePlaying()) {
        const QString pos = QString::fromStdString(FormatSeconds(player_->PositionMs() / 1000));
        if (Lpos->text() != pos) Lpos->setText(pos);
    }
    // A stop within the tick is a programme entry's time that came.
    const nowplaying::CauseScope cause = Because(nowplaying::reason::kTime);
    guarded([this] { Automation->Tick(); });
    armDueTimer();
}

// An addition for a station left alone: a tick of its own when the next entry is due, between
// two of Timer1's; set again after every tick, so a change of the list, the
// clock or the day is followed within one. Off while Timer1 is.
void TForm1::armDueTimer() {
    const std::optional<std::uint32_t> due =
        Timer1.Enabled() ? Automation->MsUntilDue() : std::nullopt;
    if (due)
        DueTimer.StartOnce(*due);
    else
        DueTimer.SetEnabled(false);
}
