#include "platform/win/Clock.h"
#include "platform/win/Messages.h"
#include "platform/win/Timer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

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

// Started half-way between two tenths of a second, an aligned timer still
// fires on them: its firings' phase within the tenth is the lateness of the
// loop alone, whereas an unaligned timer keeps the phase it was started at.
TEST(Timer, AnAlignedTimerFiresWhenTheClockReachesAMultipleOfItsInterval) {
    for (const bool aligned : {true, false}) {
        Timer timer;
        std::vector<std::uint32_t> phases;
        timer.OnTimer = [&] { phases.push_back(TimeOfDayMs() % 100); };
        timer.SetInterval(100);
        timer.SetAlignedToClock(aligned);
        while (TimeOfDayMs() % 100 != 50)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        timer.SetEnabled(true);
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (phases.size() < 8 && std::chrono::steady_clock::now() < end) WaitForMessages(5);
        timer.SetEnabled(false);
        ASSERT_EQ(phases.size(), 8u);
        const std::uint32_t earliest = *std::min_element(phases.begin(), phases.end());
        if (aligned)
            EXPECT_LE(earliest, 10u) << "aligned";
        else
            EXPECT_GE(earliest, 45u) << "unaligned: the phase it was started at";
    }
}

TEST(Timer, StartOnceFiresOnceAndAnAlignedTimerStoppedInsideItsHandlerStaysStopped) {
    Timer once;
    int fired = 0;
    once.OnTimer = [&] { ++fired; };
    once.StartOnce(5);
    EXPECT_TRUE(once.Enabled());
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (fired == 0 && std::chrono::steady_clock::now() < end) WaitForMessages(5);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    ProcessMessages();
    EXPECT_EQ(fired, 1);
    EXPECT_FALSE(once.Enabled());

    Timer aligned;
    int ticks = 0;
    aligned.SetInterval(10);
    aligned.SetAlignedToClock(true);
    aligned.OnTimer = [&] {
        if (++ticks == 2) aligned.SetEnabled(false);
    };
    aligned.SetEnabled(true);
    end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (ticks < 2 && std::chrono::steady_clock::now() < end) WaitForMessages(5);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ProcessMessages();
    EXPECT_EQ(ticks, 2);
    EXPECT_FALSE(aligned.Enabled());
}
