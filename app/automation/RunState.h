// The state of a run, which the automation owns, and what the automation asks
// of the window around it. The window reads the state and drives the run
// through TAutomation; it never holds the state itself.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

struct RunState {
    unsigned CurrentPlaylistRow = 0;
    unsigned CurrentProgrammeRow = 0;
    bool PlayingFromProgramme = false;
    // The clock reading at the last tick that looked at the programme list.
    std::uint32_t PreviousTick = 0;
    // The time of the entry that fired last, which does not fire again at once.
    std::uint32_t LastFired = 0;
    // Playlist tracks ended so far, for the count rule.
    std::uint32_t PlaylistEndCount = 0;
    int FadeTime = 1000;  // ms
};

// The now-playing labels as shown.
struct NowPlayingTexts {
    std::string artist;    // Lartist
    std::string title;     // Ltitle
    std::string duration;  // Ldur
    std::string params;    // Lparam
};

// An item about to start: opened, not yet started by the engine.
struct StartingItem {
    bool fromProgramme = false;
    unsigned row = 0;  // its row in its list (0 for a file played by path alone)
    std::string path;
};

// The window's controls as the automation sees them. Built by name; any left
// empty counts as off (the two options), full volume, or nothing to show.
struct AutomationHost {
    std::function<bool()> RepeatPlaylist{};  // "Repetir playlist ao chegar ao fim"
    std::function<bool()> AutoShuffle{};     // "Baralhar playlist automaticamente ..."
    std::function<int()> VolumeValue{};      // the slider's position, 0..255
    std::function<void(const NowPlayingTexts&)> ShowNowPlaying{};
    std::function<void()> BeginFade{};  // centre and show "Fading...", disable input
    std::function<void()> EndFade{};    // hide it, enable input again
    std::function<void(bool)> SetTimerEnabled{};
    // An addition for a station left alone: told of each item after it opened and before the
    // engine starts it (a crash inside the start must find it on record), and
    // of each item that could not be opened.
    std::function<void(const StartingItem&)> ItemStarting{};
    std::function<void(const std::string& path)> ItemFailed{};
};
