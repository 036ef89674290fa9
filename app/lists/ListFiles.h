// The two lists' rows and files: adding files and M3U lists to the grids,
// removing rows, and the pl.m3u and prgm.m3u texts written at exit.
//
// playlist columns: 0 marker, 1 file name, 2 directory.
// prgmlist columns: 0 marker, 1 start text ("Início"), 2 file name, 3 directory.
#pragma once

#include <stdexcept>
#include <string>

#include "StringGrid.h"

// An M3U list that could not be opened or read. Rows added before stay.
class ListFileError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// No list grows beyond this many rows: lists that name each other several
// times over would otherwise expand a few bytes into more rows than memory holds.
constexpr int kMaxListRows = 1'000'000;

inline const std::string kNoStartTime = "--:--:--";
inline const std::string kStartTextMarker = "#KAVINF:";

// Adds one file, or every entry of an .m3u list (expanded to any depth), to the
// end of the grid. Throws ListFileError when a list cannot be read or the grid
// is full (kMaxListRows); the rows added before stay.
void AddToPlaylist(StringGrid& playlist, const std::string& path);
void AddToProgrammeList(StringGrid& prgmlist, const std::string& path,
                        const std::string& startText);

// One empty data row; the remembered current row is not touched.
void ClearGrid(StringGrid& grid);
// Removes the selected row, whole; a grid's only row is emptied instead.
void DeleteGridRow(StringGrid& grid);

// The full path of a data row (either grid).
std::string RowPath(const StringGrid& grid, int row);

// The file texts as written: "#EXTM3U" first, lines ended by CR LF, rows with
// an empty file-name cell left out.
std::string PlaylistText(const StringGrid& playlist);
std::string ProgrammeListText(const StringGrid& prgmlist);
