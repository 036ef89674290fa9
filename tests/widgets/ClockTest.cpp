// The wall clock in the main window's form: 24-hour time with seconds.
#include <gtest/gtest.h>

#include "platform/win/Clock.h"
#include "tests/support/PumpUntil.h"
#include "widgets/RXClock.h"

namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t At(unsigned h, unsigned m, unsigned s, unsigned ms = 0) {
    return ((h * 60 + m) * 60 + s) * 1000 + ms;
}

TEST(ClockTextTest, FormatsOfTheDigitalDisplay) {
    const struct {
        std::uint32_t time;
        bool leadingZero, seconds, twelveHour;
        const char* want;
    } cases[] = {
        {At(9, 5, 7), true, true, false, "09:05:07"},
        {At(9, 5, 7), false, true, false, "9:05:07"},
        {At(9, 5, 7), true, false, false, "09:05"},
        {At(23, 59, 59, 999), true, true, false, "23:59:59"},
        {At(0, 0, 0), true, true, false, "00:00:00"},
        {At(0, 0, 0), true, true, true, "12:00:00 AM"},
        {At(12, 30, 0), true, false, true, "12:30 PM"},
        {At(13, 0, 1), false, true, true, "1:00:01 PM"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ClockText(c.time, c.leadingZero, c.seconds, c.twelveHour).toStdString(), c.want)
            << c.want;
}

class ClockTest : public testing::Test {
  protected:
    void TearDown() override { win::SetClock(nullptr); }
    win::ManualClock clock{At(23, 59, 59, 500)};
};

TEST_F(ClockTest, RunsOnItsOwnTimerAcrossMidnight) {
    win::SetClock(&clock);
    TRxClock c;
    c.resize(69, 17);
    EXPECT_EQ(c.Text(), "23:59:59");
    clock.Advance(500);
    EXPECT_TRUE(PumpUntil([&] { return c.Text() == "00:00:00"; }, 3s)) << c.Text().toStdString();
    EXPECT_EQ(c.LastRepaint(), c.rect());  // a new hour: all of it
}

TEST_F(ClockTest, RepaintsOnlyTheFieldsThatChanged) {
    clock.SetTimeOfDay(At(9, 5, 7));
    win::SetClock(&clock);
    TRxClock c;
    c.resize(69, 17);
    EXPECT_EQ(c.Text(), "09:05:07");
    clock.Advance(1000);
    c.Tick();
    const QRect seconds = c.LastRepaint();
    EXPECT_EQ(c.Text(), "09:05:08");
    clock.Advance(52'000);
    c.Tick();
    const QRect minutes = c.LastRepaint();
    EXPECT_EQ(c.Text(), "09:06:00");
    c.Tick();
    EXPECT_TRUE(c.LastRepaint().isEmpty());  // nothing changed
    // Seconds: the last two cells; minutes and seconds: five cells, same right end.
    EXPECT_FALSE(seconds.isEmpty());
    EXPECT_EQ(minutes.right(), seconds.right());
    EXPECT_EQ(minutes.width(), seconds.width() * 5 / 2);
    EXPECT_LT(minutes.width(), c.width());
}

}  // namespace
