#include "StringGrid.h"

#include <algorithm>

namespace {
const std::string kEmpty;
}

StringGrid::StringGrid(std::vector<int> widths)
    : cells_(widths.size(), std::vector<std::string>(2)), widths_(std::move(widths)) {}

void StringGrid::SetRowCount(int rows) {
    rows = std::max(rows, 2);
    for (auto& column : cells_) column.resize(size_t(rows));
    row_ = std::min(row_, rows - 1);
    Changed();
}

bool StringGrid::validCell(int col, int row) const {
    return col >= 0 && col < ColCount() && row >= 0 && row < RowCount();
}

const std::string& StringGrid::Cell(int col, int row) const {
    return validCell(col, row) ? cells_[size_t(col)][size_t(row)] : kEmpty;
}

void StringGrid::SetCell(int col, int row, std::string text) {
    if (!validCell(col, row)) return;
    cells_[size_t(col)][size_t(row)] = std::move(text);
    Changed();
}

void StringGrid::SetRow(int row) {
    row_ = std::clamp(row, 1, RowCount() - 1);
}

void StringGrid::SetCol(int col) {
    col_ = std::clamp(col, 1, ColCount() - 1);
}

void StringGrid::MoveRow(int from, int to) {
    const int last = RowCount() - 1;
    if (from < 1 || from > last || to < 1 || to > last || from == to) return;
    for (auto& column : cells_) {
        auto first = column.begin();
        if (from < to)
            std::rotate(first + from, first + from + 1, first + to + 1);
        else
            std::rotate(first + to, first + from, first + from + 1);
    }
    Changed();
}

void StringGrid::RemoveRow(int row) {
    if (row < 1 || row >= RowCount()) return;
    if (RowCount() == 2) {
        for (auto& column : cells_) column[1].clear();
    } else {
        for (auto& column : cells_) column.erase(column.begin() + row);
        row_ = std::min(row_, RowCount() - 1);
    }
    Changed();
}

void StringGrid::SetColWidth(int col, int width) {
    if (col < 0 || col >= ColCount() || widths_[size_t(col)] == width) return;
    widths_[size_t(col)] = width;
    if (OnColWidthChange) OnColWidthChange(col);
}

void StringGrid::Changed() const {
    ++revision_;
    if (updating_ > 0)
        pending_ = true;
    else if (OnChange)
        OnChange();
}

void StringGrid::EndUpdate() {
    if (updating_ > 0 && --updating_ == 0 && pending_) {
        pending_ = false;
        Changed();
    }
}
