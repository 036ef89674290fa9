// The current-row marker of both lists: "   >" in column 0 of the current row,
// which travels with its row, plus the remembered row number.
#pragma once

#include <string>

#include "StringGrid.h"

inline const std::string kRowMarker = "   >";

// Clears every marker, then marks row and remembers it when it is a data row;
// otherwise no row is marked and current keeps its value.
void MarkRow(StringGrid& grid, unsigned row, unsigned& current);

// The current row: current if it holds the marker, else the last marked row
// (stored into current), else current as it is.
unsigned FindCurrentRow(const StringGrid& grid, unsigned& current);
