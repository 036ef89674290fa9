// The shuffle: its generator, how rows are drawn, and its seeding.
#include <gtest/gtest.h>

#include <map>

#include "app/automation/Playback.h"
#include "app/lists/Markers.h"
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

// The draws as the rule gives them: copy j is removed from a list of the
// copies left, the later ones moving down. Slow, but plainly right.
std::vector<int> DrawnFromAList(int n, std::uint32_t seed) {
    std::vector<int> copies, order;
    for (int i = 1; i <= n; ++i) copies.push_back(i);
    ShuffleGenerator generator(seed);
    while (!copies.empty()) {
        const std::uint32_t j = generator.Below(std::uint32_t(copies.size()));
        order.push_back(copies[j]);
        copies.erase(copies.begin() + j);
    }
    return order;
}

TEST(ShuffleRowsTest, LongListsDrawTheSameRowsAsRemovingCopiesFromAList) {
    for (int n : {2, 3, 8, 100, 1000, 4097}) {
        for (std::uint32_t seed : {0u, 1u, 12345u, 0x80000000u, 0xFFFFFFFFu}) {
            StringGrid grid({25, 403, 342});
            grid.SetRowCount(n + 1);
            std::vector<std::uint64_t> ids(size_t(n) + 1);
            for (int r = 1; r <= n; ++r) {
                grid.SetCell(1, r, std::to_string(r));
                grid.SetCell(2, r, "/dir" + std::to_string(r));
                ids[size_t(r)] = grid.RowId(r);
            }
            const auto revision = grid.Revision();
            ShuffleRows(grid, seed);
            std::vector<int> order;
            for (int r = 1; r <= n; ++r) {
                const int was = std::stoi(grid.Cell(1, r));
                order.push_back(was);
                EXPECT_EQ(grid.Cell(2, r), "/dir" + std::to_string(was));
                EXPECT_EQ(grid.RowId(r), ids[size_t(was)]) << "the identity stays with its row";
            }
            EXPECT_EQ(order, DrawnFromAList(n, seed)) << n << " rows, seed " << seed;
            EXPECT_GT(grid.Revision(), revision);
        }
    }
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
