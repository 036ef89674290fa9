// The rules of the programme list's "Início" cells and the times shown, on
// plain text and cells: what playback control and the scheduler both read.
#pragma once

#include <cstdint>
#include <string>

#include "StringGrid.h"

// The programme list's column of start rules ("Início").
constexpr int kStartCol = 1;

// "hh:mm:ss" for a number of seconds; the hours take more digits when needed.
std::string FormatSeconds(std::uint32_t seconds);

// Hours and minutes, optionally seconds, ":"-separated, as milliseconds since
// midnight; anything that is not a valid time gives 0.
std::uint32_t ParseTimeOfDay(const std::string& text);

// Every "%h" replaced by the hour in two digits.
std::string ReplaceHour(std::string text, unsigned hour);

// The cell's time once "%h" is the given hour and every "!" is gone; 0 when
// the cell holds no ":" or no valid time.
std::uint32_t EntryTime(const std::string& cell, unsigned hour);

// A whole decimal number, or 0.
std::int32_t EntryCount(const std::string& cell);

// The first programme row whose count divides the number of playlist tracks
// ended so far, or 0.
unsigned CountedEntryRow(const StringGrid& prgmlist, std::uint32_t tracksEnded);
