// Playback control: playing rows of either list, the current-row markers,
// advancing through the playlist with repeat and automatic shuffle, and the
// transport commands, each of which first fades out what plays.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_set>

#include "Fade.h"
#include "PlayerPort.h"
#include "RunState.h"
#include "StartTimes.h"
#include "StringGrid.h"

NowPlayingTexts DescribeStream(const TStreamInfo& info);

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
// After a reshuffle at the end of the list: the track that has just ended
// (the marked one) does not come first, which would play it twice in a row.
void KeepMarkedRowOffTheTop(StringGrid& grid);
// The clock's seed: the performance counter's low half, else the tick count.
std::uint32_t ShuffleSeed();

// A row's full path: directory cell, separator, file-name cell.
std::string RowPath(const StringGrid& grid, int row, int dirCol, int nameCol);
// The full path of a playlist row.
std::string PlaylistRowPath(const StringGrid& playlist, int row);

class TPlayback {
  public:
    TPlayback(RunState& run, StringGrid& playlist, StringGrid& prgmlist, PlayerPort& player,
              const AutomationHost& host, TFade& fade);

    void PlayFile(const std::string& path);
    void MarkPlaylistRow(unsigned row);
    void MarkProgrammeRow(unsigned row);
    void PlayPlaylistRow(unsigned row);
    void PlayNextPlaylistRow();
    // hour: the one "%h" in the path stands for; the clock's hour when not given.
    void PlayProgrammeRow(unsigned row, std::optional<unsigned> hour = std::nullopt);
    void ShufflePlaylist();
    // An addition for a station left alone. Plays playlist row r from fromMs on (muted until it
    // has moved there); a row that cannot be opened is skipped as any other.
    void ResumePlaylistRow(unsigned row, std::uint32_t fromMs);
    // Dead air: what plays is stopped and the playlist moves on exactly as
    // after a failed open.
    void MoveOnFromDeadItem();

    // An addition for a station left alone. An item is being opened and started (the engine's
    // start may dispatch messages).
    bool Starting() const { return starting_ > 0; }
    // Asked once a start has failed, before the playlist moves on: the
    // scheduler's look for an entry that came due during that start.
    void SetDueCheck(std::function<void()> check) { dueCheck_ = std::move(check); }
    // The path PlayProgrammeRow would play for row at hour.
    std::string ProgrammeRowPath(unsigned row, unsigned hour) const;
    // The path of the row PlayNextPlaylistRow would play: after the repeat
    // rule and the reshuffle at the end of the list (drawn now and kept for
    // that reshuffle); empty when nothing would play.
    std::string NextPlaylistPath();
    // How long the open and start of path is expected to take to its first
    // sound, from the starts measured so far.
    std::uint32_t ExpectedStartMs(const std::string& path) const { return startTimes_.Guess(path); }

    // The transport commands; each first fades out what plays.
    void PlayCommand();                      // "Pla&y"
    void StopCommand();                      // "&Parar"
    void PlaylistRowCommand(unsigned row);   // double click or Enter in the playlist
    void ProgrammeRowCommand(unsigned row);  // the same in the programme list

  private:
    // Stops, opens and starts; false when the path could not be opened or
    // what it opened could not be started.
    bool OpenAndStart(const std::string& path);
    bool OpenAndStartTimed(const std::string& path);
    bool OpenAndStartNow(const std::string& path);
    void MoveOnAfterFailedOpen();
    void FadeIfPlaying();
    // The seed of the reshuffle at the end of the list: the one drawn ahead
    // for this order of the rows, or a fresh one.
    std::uint32_t ReshuffleSeed();

    RunState& run_;
    StringGrid& playlist_;
    StringGrid& prgmlist_;
    PlayerPort& player_;
    const AutomationHost& host_;
    TFade& fade_;
    bool movingOn_ = false;    // MoveOnAfterFailedOpen is running
    bool openFailed_ = false;  // an open failed while it ran
    // The playlist rows tried while it runs, by identity.
    std::unordered_set<std::uint64_t> triedRows_;
    int starting_ = 0;
    std::function<void()> dueCheck_;  // OpenAndStart calls running (they may nest)
    TStartTimes startTimes_;
    // A reshuffle at the end of the list drawn ahead: its seed, the list's
    // revision it was drawn for, and the path it puts first.
    struct KeptReshuffle {
        std::uint32_t seed = 0;
        unsigned long long revision = 0;
        std::string first;
    };
    std::optional<KeptReshuffle> keptReshuffle_;
};
