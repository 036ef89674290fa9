// Where a start that plays by itself begins: the playlist row that was
// playing, played itself, from a little before where it was when the same
// file is still on that row; the next row when that file brought the program
// down twice in a row.
#pragma once

#include <cstdint>
#include <string>

#include "StationState.h"

namespace station {

// How far before the saved position a resumed file starts again.
constexpr std::uint32_t kResumeLeadMs = 2000;
// Unclean ends in a row with one file after which that file is skipped.
constexpr int kCrashesBeforeSkip = 2;

struct ResumePlan {
    unsigned row = 1;          // the playlist row to play (may lie past the last)
    std::uint32_t fromMs = 0;  // where in it to start
    bool skipped = false;      // the saved row's file was skipped
};

// savedRow: the playlist's current row at start (0: none); rowFile: the file
// on it; savedFile, savedPositionMs: [estacao] ficheiro and posicao.
ResumePlan PlanResume(unsigned savedRow, const std::string& rowFile, const std::string& savedFile,
                      std::uint32_t savedPositionMs, const LastRun& last);

}  // namespace station
