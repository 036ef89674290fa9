#include "platform/win/Clock.h"
#include "platform/win/Messages.h"
#include "platform/win/Timer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace win;

TEST(ManualClock, SleepAdvancesTimeAndTickAndRunsTheHook) {
    ManualClock clock(23 * 3'600'000u + 59 * 60'000u + 59'500u, 0xFFFFFF00u);
    std::uint32_t hookTotal = 0;
    clock.SetSleepHook([&](std::uint32_t ms) { hookTotal += ms; });
    SetClock(&clock);
    Sleep(1000);
    EXPECT_EQ(TimeOfDayMs(), 500u) << "time of day wraps at midnight";
    EXPECT_EQ(GetTickCount(), 0xFFFFFF00u + 1000u) << "32-bit tick wraps";
    EXPECT_EQ(CurrentHour(), 0u);
    EXPECT_EQ(hookTotal, 1000u);
    SetClock(nullptr);
}

TEST(RealClock, ReadingsMoveForward) {
    RealClock clock;
    std::uint32_t t0 = clock.TickCount();
    std::uint64_t c0 = clock.PerformanceCounter();
    clock.Sleep(20);
    std::uint32_t elapsed = clock.TickCount() - t0;
    EXPECT_GE(elapsed, 19u);
    EXPECT_GT(clock.PerformanceCounter(), c0);
    EXPECT_LT(clock.TimeOfDayMs(), 86'400'000u);
}

TEST(Timer, FiresWhileEnabledOnlyAndInsideProcessMessages) {
    Timer timer;
    int ticks = 0;
    timer.OnTimer = [&] { ++ticks; };
    timer.SetInterval(5);
    timer.SetEnabled(true);
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (ticks < 3 && std::chrono::steady_clock::now() < end) {
        ProcessMessages();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_GE(ticks, 3);
    timer.SetEnabled(false);
    EXPECT_FALSE(timer.Enabled());
    int stoppedAt = ticks;
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    ProcessMessages();
    EXPECT_EQ(ticks, stoppedAt);
}
