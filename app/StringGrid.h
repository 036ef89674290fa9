// The cells of a string grid as plain data: one fixed heading row (row 0) and
// one fixed column (column 0), every cell a string. The list logic works on
// this; the Qt view shows it and is told of changes through OnChange.
#pragma once

#include <functional>
#include <string>
#include <vector>

class StringGrid {
  public:
    // widths: one per column, column 0 included.
    explicit StringGrid(std::vector<int> widths);

    int ColCount() const { return int(cells_.size()); }
    int RowCount() const { return int(cells_.front().size()); }
    // Never fewer than the heading row and one data row.
    void SetRowCount(int rows);
    // Number of data rows (RowCount - 1).
    int DataRows() const { return RowCount() - 1; }

    // Cells[col][row]; out-of-range reads give an empty string.
    const std::string& Cell(int col, int row) const;
    void SetCell(int col, int row, std::string text);

    // The selected row (1..RowCount-1) and column.
    int Row() const { return row_; }
    void SetRow(int row);
    int Col() const { return col_; }
    void SetCol(int col);

    // Moves data row `from` to position `to`, whole (column 0 included).
    void MoveRow(int from, int to);
    // Removes data row r, whole; the rows below move up. At least one data row stays.
    void RemoveRow(int row);

    int ColWidth(int col) const { return widths_.at(size_t(col)); }
    void SetColWidth(int col, int width);

    // Tells the view that the cells changed. Operations on the grid call it;
    // between BeginUpdate and EndUpdate the view is told once, at the end.
    void Changed() const;
    void BeginUpdate() { ++updating_; }
    void EndUpdate();
    std::function<void()> OnChange;
    // Goes up with every change of the cells, so a saver can tell whether
    // the list differs from what it last wrote without comparing the rows.
    unsigned long long Revision() const { return revision_; }
    std::function<void(int col)> OnColWidthChange;

  private:
    bool validCell(int col, int row) const;

    std::vector<std::vector<std::string>> cells_;  // [col][row]
    std::vector<int> widths_;
    int row_ = 1;
    int col_ = 1;
    int updating_ = 0;
    mutable bool pending_ = false;
    mutable unsigned long long revision_ = 0;
};

// Holds a grid's updates together for the life of the scope.
class GridUpdate {
  public:
    explicit GridUpdate(StringGrid& grid) : grid_(grid) { grid_.BeginUpdate(); }
    ~GridUpdate() { grid_.EndUpdate(); }
    GridUpdate(const GridUpdate&) = delete;
    GridUpdate& operator=(const GridUpdate&) = delete;

  private:
    StringGrid& grid_;
};
