// The programme scheduler: the tick that fires time-of-day entries, and what
// follows the end of a track (the end of the show, a chained entry, a counted
// entry, or the next playlist row).
//
// An addition for a station left alone: it says when the next entry comes due, so that the
// window's tick can be there on time; it keeps the item that would follow the
// one playing opened ahead; and, on the second (punctual), a time entry's
// fade begins early enough for its first sound to come at its time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

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
    // Nothing fires during a fade or while an item is being started: the
    // window stays open, and the first tick after reaches back over it.
    void Tick();
    // The engine's end of a track: everything that decides what plays next.
    // A track that ends during a fade starts nothing: what the fade is for
    // follows it.
    void TrackEnded();

    // The ms from now until the next moment a tick must look at the list: an
    // entry's time, or on the second the moment its fade must begin; nothing
    // within the next minute gives none.
    std::optional<std::uint32_t> MsUntilDue() const;
    void SetPunctual(bool punctual) { punctual_ = punctual; }
    bool Punctual() const { return punctual_; }
    // Opens ahead, some seconds before the end of the item that plays, the
    // item its end would start, and has the player start it at once after
    // it when it can; drops it when what would follow changes.
    void KeepNextReady();

  private:
    struct Due {
        unsigned row = 0;  // 0: none
        std::uint32_t time = 0;
        unsigned hour = 0;   // the hour "%h" stands for in its path
        bool early = false;  // fired ahead of its time, on the second
    };
    // True when it dealt with the end: the show ended, or a chained entry started.
    bool ProgrammeItemEnded();
    // True when a count-rule entry was started.
    bool StartCountedEntry();
    // Where this tick's window begins, for the reading now and the tick counter.
    std::uint32_t WindowStart(std::uint32_t now, std::uint32_t tickCount) const;
    // The first row due in [from, to]; from > to is a window across midnight.
    Due DueRow(std::uint32_t from, std::uint32_t to) const;
    // On the second: the entry that comes due next, when the moment its fade
    // must begin lies in this tick's window, in the part that real time
    // covered since the previous tick (an entry added, or a clock put
    // forward, inside that lead plays as it would without the option).
    Due EarlyRow(std::uint32_t from, std::uint32_t now, std::uint32_t tickCount) const;
    // How long before its time an entry must be fired for its sound to come
    // at that time: the fade, its pause and the start, when something plays,
    // and a margin for a fade held up.
    std::uint32_t LeadMs(unsigned row, unsigned hour) const;
    // Waits, after the fade of an entry fired early, until the moment its
    // start must begin.
    void WaitForStartMoment(const Due& due) const;
    // The path the end of the item that plays would start; empty for none.
    std::string NextItemPath(unsigned hourAtEnd);

    RunState& run_;
    const StringGrid& prgmlist_;
    PlayerPort& player_;
    const AutomationHost& host_;
    TPlayback& playback_;
    TFade& fade_;
    // The tick counter at the last tick that looked at the programme list.
    std::optional<std::uint32_t> previousTickCount_;
    bool punctual_ = false;
    std::string unpreparable_;  // the next item's path that could not be prepared
};
