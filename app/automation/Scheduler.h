// The programme scheduler: the tick that fires time-of-day entries, and what
// follows the end of a track (the end of the show, a chained entry, a counted
// entry, or the next playlist row).
#pragma once

#include <cstdint>
#include <optional>

#include "Fade.h"
#include "Playback.h"
#include "PlayerPort.h"
#include "RunState.h"
#include "StringGrid.h"

class TScheduler {
  public:
    TScheduler(RunState& run, const StringGrid& prgmlist, PlayerPort& player,
               const AutomationHost& host, TPlayback& playback, TFade& fade);

    // The tick's programme part: fires the first row whose time lies in the
    // closed window from the previous tick's clock reading to this one's.
    void Tick();
    // The engine's end of a track: everything that decides what plays next.
    void TrackEnded();

  private:
    // True when it dealt with the end: the show ended, or a chained entry started.
    bool ProgrammeItemEnded();
    // True when a count-rule entry was started.
    bool StartCountedEntry();
    // Where this tick's window begins, for the reading now and the tick counter.
    std::uint32_t WindowStart(std::uint32_t now, std::uint32_t tickCount) const;
    // The first row due in [from, to], or 0; from > to is a window across midnight.
    unsigned DueRow(std::uint32_t from, std::uint32_t to, std::uint32_t& time) const;

    RunState& run_;
    const StringGrid& prgmlist_;
    PlayerPort& player_;
    const AutomationHost& host_;
    TPlayback& playback_;
    TFade& fade_;
    // The tick counter at the last tick that looked at the programme list.
    std::optional<std::uint32_t> previousTickCount_;
};
