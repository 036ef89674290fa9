#include "StringGrid.h"

#include <algorithm>
#include <utility>

namespace {
const std::string kEmpty;
}

StringGrid::StringGrid(std::vector<int> widths)
    : cells_(widths.size(), std::vector<std::string>(2)), widths_(std::move(widths)) {
    ids_ = {0, nextId_++};
}

void StringGrid::SetRowCount(int rows) {
    rows = std::max(rows, 2);
    const int before = RowCount();
    if (rows == before) return;
    for (auto& column : cells_) column.resize(size_t(rows));
    ids_.resize(size_t(rows));
    for (int r = before; r < rows; ++r) ids_[size_t(r)] = nextId_++;
    row_ = std::min(row_, rows - 1);
    changed(std::min(before, rows), std::max(before, rows) - 1);
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
    changed(row, row);
}

std::uint64_t StringGrid::RowId(int row) const {
    return row >= 0 && row < RowCount() ? ids_[size_t(row)] : 0;
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
    auto move = [&](auto& column) {
        auto first = column.begin();
        if (from < to)
            std::rotate(first + from, first + from + 1, first + to + 1);
        else
            std::rotate(first + to, first + from, first + from + 1);
    };
    for (auto& column : cells_) move(column);
    move(ids_);
    changed(std::min(from, to), std::max(from, to));
}

void StringGrid::RemoveRow(int row) {
    if (row < 1 || row >= RowCount()) return;
    const int last = RowCount() - 1;
    if (RowCount() == 2) {
        for (auto& column : cells_) column[1].clear();
        ids_[1] = nextId_++;  // an empty row is a new entry
    } else {
        for (auto& column : cells_) column.erase(column.begin() + row);
        ids_.erase(ids_.begin() + row);
        row_ = std::min(row_, RowCount() - 1);
    }
    changed(row, last);
}

void StringGrid::ReorderRows(const std::vector<int>& order) {
    const int rows = DataRows();
    if (int(order.size()) != rows) return;
    std::vector<bool> named(size_t(rows) + 1);
    for (int from : order) {
        if (from < 1 || from > rows || named[size_t(from)]) return;
        named[size_t(from)] = true;
    }
    // Each cycle of the order is walked once, moving every row along it, so
    // that no column is copied or allocated again.
    std::vector<int> cycleStarts;
    std::vector<bool> placed(size_t(rows) + 1);
    for (int start = 1; start <= rows; ++start) {
        if (placed[size_t(start)]) continue;
        cycleStarts.push_back(start);
        for (int r = start; !placed[size_t(r)]; r = order[size_t(r) - 1]) placed[size_t(r)] = true;
    }
    auto reorder = [&](auto& column) {
        for (int start : cycleStarts) {
            auto first = std::move(column[size_t(start)]);
            int to = start;
            for (int from = order[size_t(to) - 1]; from != start; from = order[size_t(to) - 1]) {
                column[size_t(to)] = std::move(column[size_t(from)]);
                to = from;
            }
            column[size_t(to)] = std::move(first);
        }
    };
    for (auto& column : cells_) reorder(column);
    reorder(ids_);
    changed(1, rows);
}

void StringGrid::SetColWidth(int col, int width) {
    if (col < 0 || col >= ColCount() || widths_[size_t(col)] == width) return;
    widths_[size_t(col)] = width;
    if (OnColWidthChange) OnColWidthChange(col);
}

void StringGrid::changed(int firstRow, int lastRow) {
    ++revision_;
    if (pending_.Empty()) {
        pending_ = {firstRow, lastRow};
    } else {
        pending_.firstRow = std::min(pending_.firstRow, firstRow);
        pending_.lastRow = std::max(pending_.lastRow, lastRow);
    }
    if (updating_ == 0) tellView();
}

void StringGrid::tellView() {
    const GridChange change = std::exchange(pending_, GridChange{});
    if (!change.Empty() && OnChange) OnChange(change);
}

void StringGrid::EndUpdate() {
    if (updating_ > 0 && --updating_ == 0) tellView();
}
