// Playback control: playing rows of either list, the current-row markers,
// advancing through the playlist with repeat and automatic shuffle, and the
// end-of-track event that hands over to the scheduler's rules.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_set>

#include "PlayerPort.h"
#include "StringGrid.h"

class TScheduler;

// The now-playing labels as shown.
struct NowPlayingTexts {
    std::string artist;    // Lartist
    std::string title;     // Ltitle
    std::string duration;  // Ldur
    std::string params;    // Lparam
};
NowPlayingTexts DescribeStream(const TStreamInfo& info);

// The window's state and controls that playback control and the scheduler
// share. The references point at the window's own fields.
struct PlaybackContext {
    StringGrid& playlist;
    StringGrid& prgmlist;
    unsigned& CurrentPlaylistRow;
    unsigned& CurrentProgrammeRow;
    bool& PlayingFromProgramme;
    std::uint32_t& PreviousTick;
    std::uint32_t& LastFired;
    int& FadeTime;
    std::function<bool()> RepeatPlaylist;  // "Repetir playlist ao chegar ao fim"
    std::function<bool()> AutoShuffle;     // "Baralhar playlist automaticamente ..."
    std::function<int()> VolumeValue;      // the slider's position, 0..255
    std::function<void(const NowPlayingTexts&)> ShowNowPlaying;
    std::function<void()> BeginFade;  // centre and show "Fading...", disable input
    std::function<void()> EndFade;    // hide it, enable input again
    std::function<void(bool)> SetTimerEnabled;
};

// The shuffle's generator: a 32-bit linear congruential generator whose draw
// below m is the upper half of the 64-bit product of the new seed and m.
class ShuffleGenerator {
  public:
    explicit ShuffleGenerator(std::uint32_t seed) : seed_(seed) {}
    std::uint32_t Below(std::uint32_t m);
    std::uint32_t Seed() const { return seed_; }

  private:
    std::uint32_t seed_;
};

// Reorders data rows 1..n, whole, by drawing from the copies left.
void ShuffleRows(StringGrid& grid, std::uint32_t seed);
// The clock's seed: the performance counter's low half, else the tick count.
std::uint32_t ShuffleSeed();

// A row's full path: directory cell, separator, file-name cell.
std::string RowPath(const StringGrid& grid, int row, int dirCol, int nameCol);
// Every "%h" replaced by the hour in two digits.
std::string ReplaceHour(std::string text, unsigned hour);

class TPlayback {
  public:
    TPlayback(PlaybackContext& context, PlayerPort& player);
    void SetScheduler(TScheduler* scheduler) { scheduler_ = scheduler; }

    void PlayFile(const std::string& path);
    void MarkPlaylistRow(unsigned row);
    void MarkProgrammeRow(unsigned row);
    void PlayPlaylistRow(unsigned row);
    void PlayNextPlaylistRow();
    void PlayProgrammeRow(unsigned row);
    void ShufflePlaylist();
    void BASSPlayer1PlayEnd();

    // The transport commands; each first fades out what plays.
    void PlayCommand();                      // "Pla&y"
    void StopCommand();                      // "&Parar"
    void PlaylistRowCommand(unsigned row);   // double click or Enter in the playlist
    void ProgrammeRowCommand(unsigned row);  // the same in the programme list

  private:
    // Stops, opens and starts; false when the path could not be opened.
    bool OpenAndStart(const std::string& path);
    void MoveOnAfterFailedOpen();
    void KeepLastTrackOffTheTop();
    void FadeIfPlaying();

    PlaybackContext& ctx_;
    PlayerPort& player_;
    TScheduler* scheduler_ = nullptr;
    bool movingOn_ = false;    // MoveOnAfterFailedOpen is running
    bool openFailed_ = false;  // an open failed while it ran
    // The playlist rows tried while it runs, by identity.
    std::unordered_set<std::uint64_t> triedRows_;
};
