#include "Markers.h"

void MarkRow(StringGrid& grid, unsigned row, unsigned& current) {
    GridUpdate update(grid);
    for (int r = 1; r < grid.RowCount(); ++r)
        if (!grid.Cell(0, r).empty()) grid.SetCell(0, r, "");
    if (row != 0 && row < unsigned(grid.RowCount())) {
        grid.SetCell(0, int(row), kRowMarker);
        current = row;
    }
}

unsigned FindCurrentRow(const StringGrid& grid, unsigned& current) {
    if (current < unsigned(grid.RowCount()) && grid.Cell(0, int(current)) == kRowMarker)
        return current;
    for (int r = grid.RowCount() - 1; r >= 1; --r) {
        if (grid.Cell(0, r) == kRowMarker) {
            current = unsigned(r);
            return current;
        }
    }
    return current;
}
