// Where a start that plays by itself begins: the playlist row that was
// playing, played itself, from a little before where it was when the same
// file is still on that row; the next row when that file brought the program
// down twice in a row. And the input plug-in a start leaves out when the
// program went down twice in a row while it played.
#pragma once

#include <cstdint>
#include <string>

#include "StationState.h"

namespace station {

// How far before the saved position a resumed file starts again.
constexpr std::uint32_t kResumeLeadMs = 2000;
// Unclean ends in a row with one file after which that file is skipped.
constexpr int kCrashesBeforeSkip = 2;
// Unclean ends in a row while one input plug-in played after which the next
// start leaves that plug-in out.
constexpr int kCrashesBeforeLeftOut = 2;

struct ResumePlan {
    unsigned row = 1;          // the playlist row to play (may lie past the last)
    std::uint32_t fromMs = 0;  // where in it to start
    bool skipped = false;      // the saved row's file was skipped
};

// The playlist row that was playing: savedRow (the current row in the
// settings, 0 for none), unless the last run went down while a playlist item
// played whose row still holds its file (stateRowFile, the file now on that
// row): the settings follow a change within seconds, the state is written
// before the item starts, so only the state knows an item that went down as
// it started.
unsigned PlayingRow(unsigned savedRow, const LastRun& last, const std::string& stateRowFile);

// savedRow: the playlist's row that was playing (0: none); rowFile: the file
// on it; savedFile, savedPositionMs: [estacao] ficheiro and posicao.
ResumePlan PlanResume(unsigned savedRow, const std::string& rowFile, const std::string& savedFile,
                      std::uint32_t savedPositionMs, const LastRun& last);

// The plug-in this start leaves out (empty for none): the one that played
// when the last kCrashesBeforeLeftOut runs ended uncleanly.
std::string PluginToLeaveOut(const LastRun& last);

}  // namespace station
