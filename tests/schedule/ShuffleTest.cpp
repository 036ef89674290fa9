// The shuffle: its generator, how rows are drawn, and its seeding.
#include <gtest/gtest.h>

#include <map>

#include "app/Markers.h"
#include "app/Playback.h"
#include "platform/win/Clock.h"

namespace {

StringGrid Rows(const std::string& names) {
    StringGrid grid({25, 403, 342});
    grid.SetRowCount(int(names.size()) + 1);
    for (size_t i = 0; i < names.size(); ++i) {
        grid.SetCell(1, int(i) + 1, std::string(1, names[i]));
        grid.SetCell(2, int(i) + 1, "/dir" + std::string(1, names[i]));
    }
    return grid;
}

std::string Order(const StringGrid& grid) {
    std::string order;
    for (int r = 1; r <= grid.DataRows(); ++r) {
        order += grid.Cell(1, r);
        EXPECT_EQ(grid.Cell(2, r), "/dir" + grid.Cell(1, r)) << "row " << r << " was torn apart";
    }
    return order;
}

// Values worked out by hand from seed = seed * 134775813 + 1 (mod 2^32) and
// draw = (seed * m) >> 32.
TEST(ShuffleGeneratorTest, FollowsTheLinearCongruentialRecurrence) {
    ShuffleGenerator g(12345);
    EXPECT_EQ(g.Below(10), 3u);
    EXPECT_EQ(g.Seed(), 12345u * 134775813u + 1u);
    EXPECT_EQ(g.Below(10), 2u);
    EXPECT_EQ(g.Below(10), 0u);
    EXPECT_EQ(g.Below(1000), 553u);
    EXPECT_EQ(g.Below(7), 4u);
    ShuffleGenerator zero(0);
    EXPECT_EQ(zero.Below(1), 0u);
    EXPECT_EQ(zero.Seed(), 1u);
}

TEST(ShuffleRowsTest, DrawsEachRowFromTheCopiesLeft) {
    StringGrid grid = Rows("ABCDE");
    ShuffleRows(grid, 12345);
    EXPECT_EQ(Order(grid), "BCAED");
    grid = Rows("ABCDE");
    ShuffleRows(grid, 0);
    EXPECT_EQ(Order(grid), "ABECD");
    grid = Rows("ABCDE");
    ShuffleRows(grid, 0xFFFFFFFFu);
    EXPECT_EQ(Order(grid), "EACBD");
}

TEST(ShuffleRowsTest, EveryOrderOfThreeRowsIsAboutEquallyLikely) {
    std::map<std::string, int> seen;
    const int draws = 60000;
    for (std::uint32_t i = 1; i <= std::uint32_t(draws); ++i) {
        StringGrid grid = Rows("ABC");
        ShuffleRows(grid, i * 2654435761u);
        ++seen[Order(grid)];
    }
    ASSERT_EQ(seen.size(), 6u);
    for (const auto& [order, count] : seen) {
        EXPECT_GT(count, draws / 6 * 97 / 100) << order;
        EXPECT_LT(count, draws / 6 * 103 / 100) << order;
    }
}

TEST(ShuffleRowsTest, TheMarkerTravelsWithItsRowAndOneRowStaysAsItIs) {
    StringGrid grid = Rows("ABCDE");
    unsigned current = 0;
    MarkRow(grid, 2, current);  // "B"
    ShuffleRows(grid, 12345);   // gives B C A E D
    EXPECT_EQ(grid.Cell(0, 1), kRowMarker);
    EXPECT_EQ(grid.Cell(1, 1), "B");
    for (int r = 2; r <= 5; ++r) EXPECT_EQ(grid.Cell(0, r), "");
    // The remembered number is stale now; the marker finds the row again.
    EXPECT_EQ(FindCurrentRow(grid, current), 1u);

    StringGrid one = Rows("A");
    MarkRow(one, 1, current);
    ShuffleRows(one, 7);
    EXPECT_EQ(Order(one), "A");
    EXPECT_EQ(one.Cell(0, 1), kRowMarker);
    EXPECT_EQ(one.RowCount(), 2);
}

class ShuffleSeedTest : public testing::Test {
  protected:
    void SetUp() override { win::SetClock(&clock); }
    void TearDown() override { win::SetClock(nullptr); }
    win::ManualClock clock;
};

TEST_F(ShuffleSeedTest, SeedsFromThePerformanceCounterElseFromTheTickCount) {
    clock.SetPerformanceCounter(0x1234567800003039ull);  // low half 12345
    EXPECT_EQ(ShuffleSeed(), 12345u);
    clock.SetPerformanceCounter(0);
    clock.SetTickCount(777);
    EXPECT_EQ(ShuffleSeed(), 777u);
}

}  // namespace
