// The cells of a string grid as plain data: one fixed heading row (row 0) and
// one fixed column (column 0), every cell a string. The list logic works on
// this; the Qt view shows it and is told of changes through OnChange.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The rows whose cells changed since the view was last told, heading row
// included (0), inclusive. When the number of rows changed, the range runs
// from the first row that moved or appeared to the last row before or after
// the change, whichever is further down.
struct GridChange {
    int firstRow = 0;
    int lastRow = -1;
    bool Empty() const { return firstRow > lastRow; }
};

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

    // An identity that stays with its row when rows move, are reordered or
    // removed, and is never given to another row; 0 outside the grid.
    std::uint64_t RowId(int row) const;

    // The selected row (1..RowCount-1) and column.
    int Row() const { return row_; }
    void SetRow(int row);
    int Col() const { return col_; }
    void SetCol(int col);

    // Moves data row `from` to position `to`, whole (column 0 included).
    void MoveRow(int from, int to);
    // Removes data row r, whole; the rows below move up. At least one data row stays.
    void RemoveRow(int row);
    // Puts the data rows in a new order, whole: row i becomes what was row
    // order[i - 1]. order must name each data row once; otherwise nothing moves.
    void ReorderRows(const std::vector<int>& order);

    int ColWidth(int col) const { return widths_.at(size_t(col)); }
    void SetColWidth(int col, int width);

    // Operations on the grid tell the view what changed; between BeginUpdate
    // and EndUpdate the view is told once, at the end, of all of it.
    void BeginUpdate() { ++updating_; }
    void EndUpdate();
    std::function<void(const GridChange&)> OnChange;
    // Goes up with every change of the cells, so a saver can tell whether
    // the list differs from what it last wrote without comparing the rows.
    unsigned long long Revision() const { return revision_; }
    std::function<void(int col)> OnColWidthChange;

  private:
    bool validCell(int col, int row) const;
    void changed(int firstRow, int lastRow);
    void tellView();

    std::vector<std::vector<std::string>> cells_;  // [col][row]
    std::vector<std::uint64_t> ids_;               // [row]
    std::uint64_t nextId_ = 1;
    std::vector<int> widths_;
    int row_ = 1;
    int col_ = 1;
    int updating_ = 0;
    GridChange pending_;
    unsigned long long revision_ = 0;
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
