// The widgets' timer runs only while enabled, with a period and a handler,
// and each change takes effect at once.
#include <gtest/gtest.h>

#include "tests/support/PumpUntil.h"
#include "widgets/RxTimer.h"

namespace {

using namespace std::chrono_literals;

void Wait(std::chrono::milliseconds ms) {
    PumpUntil([] { return false; }, ms);
}

TEST(RxTimerTest, FiresOnlyWhileEnabledWithAPeriodAndAHandler) {
    TRxTimer timer;
    EXPECT_TRUE(timer.Enabled());
    EXPECT_EQ(timer.Interval(), 1000u);
    int ticks = 0;
    timer.SetInterval(20);
    Wait(100ms);  // no handler yet: nothing to run
    timer.SetOnTimer([&] { ++ticks; });
    EXPECT_TRUE(PumpUntil([&] { return ticks >= 2; }, 2s));

    const struct {
        const char* what;
        std::function<void()> stop, start;
    } cases[] = {
        {"disabled", [&] { timer.SetEnabled(false); }, [&] { timer.SetEnabled(true); }},
        {"interval 0", [&] { timer.SetInterval(0); }, [&] { timer.SetInterval(20); }},
        {"no handler", [&] { timer.SetOnTimer({}); }, [&] { timer.SetOnTimer([&] { ++ticks; }); }},
    };
    for (const auto& c : cases) {
        c.stop();
        const int stopped = ticks;
        Wait(120ms);
        EXPECT_EQ(ticks, stopped) << c.what;
        c.start();
        EXPECT_TRUE(PumpUntil([&] { return ticks >= stopped + 2; }, 2s)) << c.what;
    }
}

}  // namespace
