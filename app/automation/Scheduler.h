// The programme scheduler: the start rules of the "Início" cells, the tick
// that fires time-of-day entries, the count rule between playlist tracks,
// what follows a programme item's end, and the fade before an interruption.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "Playback.h"

// "hh:mm:ss" for a number of seconds; the hours take more digits when needed.
std::string FormatSeconds(std::uint32_t seconds);

// Hours and minutes, optionally seconds, ":"-separated, as milliseconds since
// midnight; anything that is not a valid time gives 0.
std::uint32_t ParseTimeOfDay(const std::string& text);

// The cell's time once "%h" is the given hour and every "!" is gone; 0 when
// the cell holds no ":" or no valid time.
std::uint32_t EntryTime(const std::string& cell, unsigned hour);

// A whole decimal number, or 0.
std::int32_t EntryCount(const std::string& cell);

class TScheduler {
  public:
    TScheduler(PlaybackContext& context, PlayerPort& player, TPlayback& playback);

    // The tick's programme part: fires the first row whose time lies in the
    // closed window from the previous tick's clock reading to this one's.
    void Tick();
    void FadeOutAndStop();
    // True when it dealt with the end: the show ended, or a chained entry started.
    bool ProgrammeItemEnded();
    // True when a count-rule entry was started.
    bool StartCountedEntry();

    std::uint32_t PlaylistEndCount = 0;
    bool Fading() const { return fading_; }

  private:
    // Where this tick's window begins, for the reading now and the tick counter.
    std::uint32_t WindowStart(std::uint32_t now, std::uint32_t tickCount) const;
    // The first row due in [from, to], or 0; from > to is a window across midnight.
    unsigned DueRow(std::uint32_t from, std::uint32_t to, std::uint32_t& time) const;
    void FallToSilence(std::uint32_t startVolume, std::uint32_t fadeTime);

    PlaybackContext& ctx_;
    PlayerPort& player_;
    TPlayback& playback_;
    bool fading_ = false;
    // The tick counter at the last tick that looked at the programme list.
    std::optional<std::uint32_t> previousTickCount_;
};
