// The automation: playback control, the scheduler and the fade over both
// lists, owning the state of the run. The window drives it through the
// commands below and reads its state; the window's controls reach it only
// through the AutomationHost it was built with.
#pragma once

#include <cstdint>
#include <optional>

#include "Fade.h"
#include "Playback.h"
#include "PlayerPort.h"
#include "RunState.h"
#include "Scheduler.h"
#include "StringGrid.h"

class TAutomation {
  public:
    // The lists and the player stay the caller's and must outlive it. The
    // window's tick starts from the clock's reading now.
    TAutomation(StringGrid& playlist, StringGrid& prgmlist, PlayerPort& player,
                AutomationHost host);
    // Its parts hold references to its state and to each other.
    TAutomation(const TAutomation&) = delete;
    TAutomation& operator=(const TAutomation&) = delete;

    // The transport commands; each first fades out what plays.
    void PlayCommand() { playback_.PlayCommand(); }  // "Pla&y"
    void StopCommand() { playback_.StopCommand(); }  // "&Parar"
    void PlaylistRowCommand(unsigned row) { playback_.PlaylistRowCommand(row); }
    void ProgrammeRowCommand(unsigned row) { playback_.ProgrammeRowCommand(row); }
    void ShufflePlaylist() { playback_.ShufflePlaylist(); }  // "&Baralhar"
    // An addition for a station left alone: a start that plays by itself, and dead air.
    void ResumePlaylistRow(unsigned row, std::uint32_t fromMs) {
        playback_.ResumePlaylistRow(row, fromMs);
    }
    void SkipDeadItem() { playback_.MoveOnFromDeadItem(); }

    // The engine's end of a track, and the window's timer tick.
    void TrackEnded() { scheduler_.TrackEnded(); }
    void Tick() {
        scheduler_.Tick();
        scheduler_.KeepNextReady();
    }
    // An addition for a station left alone: when the next tick is due for an entry (see
    // TScheduler::MsUntilDue), and time entries on the second.
    std::optional<std::uint32_t> MsUntilDue() const { return scheduler_.MsUntilDue(); }
    void SetPunctual(bool punctual) { scheduler_.SetPunctual(punctual); }
    bool Punctual() const { return scheduler_.Punctual(); }

    void FadeOutAndStop() { fade_.FadeOutAndStop(); }
    bool Fading() const { return fade_.Fading(); }
    void SetFadeTime(int ms) { run_.FadeTime = ms; }

    void MarkPlaylistRow(unsigned row) { playback_.MarkPlaylistRow(row); }
    void MarkProgrammeRow(unsigned row) { playback_.MarkProgrammeRow(row); }
    // The playlist's current row as its marker shows it (remembered when the
    // marked row has moved).
    unsigned FindPlaylistRow();

    const RunState& Run() const { return run_; }
    // For setting a run up in a given state.
    RunState& Run() { return run_; }

  private:
    StringGrid& playlist_;
    RunState run_;
    const AutomationHost host_;
    TFade fade_;
    TPlayback playback_;
    TScheduler scheduler_;
};
