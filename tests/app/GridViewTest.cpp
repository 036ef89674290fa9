// The Qt view of a grid shows what the grid holds after every kind of change,
// told row by row rather than by resetting the whole view.
#include "GridView.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QHeaderView>

#include "ListFiles.h"
#include "Markers.h"
#include "Playback.h"

namespace {

// Every row of the model against the grid: row count, cells and markers.
void ExpectShows(TStringGridView& view, const StringGrid& grid, const std::string& after) {
    QApplication::processEvents();
    GridModel& model = view.Model();
    ASSERT_EQ(model.rowCount(), grid.DataRows()) << after;
    ASSERT_EQ(view.verticalHeader()->count(), grid.DataRows()) << after;
    for (int r = 1; r <= grid.DataRows(); ++r) {
        for (int c = 1; c < grid.ColCount(); ++c)
            ASSERT_EQ(model.data(model.index(r - 1, c - 1), Qt::DisplayRole).toString(),
                      QString::fromStdString(grid.Cell(c, r)))
                << after << ", row " << r << ", column " << c;
        ASSERT_EQ(model.headerData(r - 1, Qt::Vertical, Qt::DisplayRole).toString(),
                  QString::fromStdString(grid.Cell(0, r)))
            << after << ", row " << r;
    }
}

TEST(GridView, ShowsTheGridAfterEveryKindOfChange) {
    StringGrid grid({25, 403, 342});
    TStringGridView view(grid);
    view.show();
    unsigned current = 0;
    using Step = std::pair<const char*, std::function<void()>>;
    const std::vector<Step> steps = {
        {"adding",
         [&] {
             for (int i = 0; i < 30; ++i) AddToPlaylist(grid, "/m/t" + std::to_string(i) + ".mp3");
         }},
        {"marking", [&] { MarkRow(grid, 7, current); }},
        {"moving down", [&] { grid.MoveRow(7, 20); }},
        {"moving up", [&] { grid.MoveRow(25, 2); }},
        {"deleting in the middle",
         [&] {
             grid.SetRow(10);
             DeleteGridRow(grid);
         }},
        {"deleting the last",
         [&] {
             grid.SetRow(grid.DataRows());
             DeleteGridRow(grid);
         }},
        {"shuffling", [&] { ShuffleRows(grid, 12345); }},
        {"marking again", [&] { MarkRow(grid, 3, current); }},
        {"clearing", [&] { ClearGrid(grid); }},
        {"adding after clearing",
         [&] {
             AddToPlaylist(grid, "/m/u.mp3");
             AddToPlaylist(grid, "/m/v.mp3");
         }},
    };
    for (const auto& [name, step] : steps) {
        step();
        ExpectShows(view, grid, name);
    }
}

// A very long cell is shown shortened (laying out all of it would cost every
// repaint), while the editor still gets the whole text.
TEST(GridView, AVeryLongCellIsShownShortenedAndEditedWhole) {
    StringGrid grid({25, 403, 342});
    TStringGridView view(grid);
    const std::string longDir = "/" + std::string(1 << 20, 'd');
    AddToPlaylist(grid, longDir + "/a.mp3");
    GridModel& model = view.Model();
    const QString shown = model.data(model.index(0, 1), Qt::DisplayRole).toString();
    EXPECT_LT(shown.size(), 2000);
    EXPECT_TRUE(QString::fromStdString(longDir).startsWith(shown.chopped(1)));
    EXPECT_EQ(model.data(model.index(0, 1), Qt::EditRole).toString().toStdString(), longDir);
    EXPECT_EQ(model.data(model.index(0, 0), Qt::DisplayRole).toString(), "a.mp3");
}

}  // namespace
