// The GUI thread's one wait: what ends it, what it dispatches meanwhile, on
// which clock it counts, and how waits nest.
#include "platform/win/Pump.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/win/Clock.h"
#include "platform/win/Messages.h"

using namespace win;

namespace {

class PumpTest : public testing::Test {
  protected:
    void SetUp() override {
        window = CreateMessageWindow([this](const Message& m) -> LRESULT {
            ++handled;
            if (onMessage) onMessage(m);
            return 0;
        });
        ProcessMessages();
    }
    void TearDown() override {
        DestroyMessageWindow(window);
        SetClock(nullptr);
    }

    HWND window = 0;
    int handled = 0;
    std::function<void(const Message&)> onMessage;
};

using Clock = std::chrono::steady_clock;

TEST_F(PumpTest, AMessagePostedFromAnotherThreadEndsTheWaitAsItComes) {
    std::thread poster([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        PostMessage(window, WM_USER + 1);
    });
    const auto start = Clock::now();
    const bool ended = PumpWhile([&] { return handled == 0; },
                                 PumpLimit::Within(30'000, 30'000, Rest::UntilPosted));
    poster.join();
    EXPECT_TRUE(ended);
    EXPECT_EQ(handled, 1);
    // Not the 30 s rest: the post cut it short.
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
}

// Whatever the rest, a message posted on the GUI thread is dispatched at the
// first rest, and the condition that watches for it ends the wait.
TEST_F(PumpTest, EachRestDispatchesWhatIsPending) {
    ManualClock manual;
    SetClock(&manual);
    for (Rest rest : {Rest::UntilPosted, Rest::Real, Rest::Clock}) {
        SCOPED_TRACE(static_cast<int>(rest));
        handled = 0;
        int looks = 0;
        ASSERT_TRUE(PostMessage(window, WM_USER + 2));
        EXPECT_TRUE(
            PumpWhile([&] { return ++looks, handled == 0; }, PumpLimit::Rounds(1000, 5, rest)));
        EXPECT_EQ(handled, 1);
        EXPECT_EQ(looks, 2);  // before the first rest, and after it
    }
}

TEST_F(PumpTest, AConditionThatHoldsNoLongerEndsTheWaitBeforeAnythingIsDispatched) {
    ASSERT_TRUE(PostMessage(window, WM_USER + 3));
    EXPECT_TRUE(PumpWhile([] { return false; }, PumpLimit::Within(5000, 10, Rest::Real)));
    EXPECT_EQ(handled, 0);
    ProcessMessages();
    EXPECT_EQ(handled, 1);
}

// The limits, on the clock of the rest: a test clock moves only by the rests
// of a Clock wait, so the counts are exact there.
TEST_F(PumpTest, TheLimitEndsAWaitWhoseConditionStillHolds) {
    ManualClock manual;
    SetClock(&manual);
    struct Case {
        PumpLimit limit;
        int looks;              // times the condition is asked
        std::uint32_t movedMs;  // the test clock's advance
    };
    const Case cases[] = {
        {PumpLimit::Within(100, 10, Rest::Clock), 11, 100},
        {PumpLimit::Within(95, 10, Rest::Clock), 11, 100},  // the last rest is taken whole
        {PumpLimit::Rounds(4, 25, Rest::Clock), 5, 100},
        {PumpLimit::Rounds(3, 1, Rest::Real), 4, 0},
        {PumpLimit::Rounds(2, 1, Rest::UntilPosted), 3, 0},
        {PumpLimit{0, 0, 10, Rest::Clock}, 1, 0},  // no limit: no wait
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.limit.ms << " ms, " << c.limit.rounds << " rounds");
        int looks = 0;
        const std::uint32_t before = manual.TickCount();
        EXPECT_FALSE(PumpWhile([&] { return ++looks, true; }, c.limit));
        EXPECT_EQ(looks, c.looks);
        EXPECT_EQ(manual.TickCount() - before, c.movedMs);
    }
}

TEST_F(PumpTest, ARealTimeLimitIsKeptOnRealTimeWhateverTheProgramsClock) {
    ManualClock manual;  // does not move: only real time can end the wait
    SetClock(&manual);
    const std::uint32_t tick = manual.TickCount();
    const auto start = Clock::now();
    EXPECT_FALSE(PumpWhile([] { return true; }, PumpLimit::Within(60, 10, Rest::Real)));
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(60));
    EXPECT_EQ(manual.TickCount(), tick);
}

// A handler the outer wait dispatches waits in turn: the inner wait runs to
// its own end first, and the outer one's limit counts the time it took.
TEST_F(PumpTest, AWaitInsideAHandlerRunsToItsOwnEndAndCountsInTheOuterOnesLimit) {
    ManualClock manual;
    SetClock(&manual);
    bool innerEndedByLimit = false;
    int innerLooks = 0;
    onMessage = [&](const Message&) {
        innerEndedByLimit =
            !PumpWhile([&] { return ++innerLooks, true; }, PumpLimit::Within(200, 10, Rest::Clock));
    };
    ASSERT_TRUE(PostMessage(window, WM_USER + 4));
    int outerLooks = 0;
    const std::uint32_t before = manual.TickCount();
    EXPECT_FALSE(
        PumpWhile([&] { return ++outerLooks, true; }, PumpLimit::Within(100, 10, Rest::Clock)));
    EXPECT_TRUE(innerEndedByLimit);
    EXPECT_EQ(innerLooks, 21);
    // One rest of its own after the inner wait's 200 ms: past its 100 ms.
    EXPECT_EQ(outerLooks, 2);
    EXPECT_EQ(manual.TickCount() - before, 210u);
}

// An inner wait may end the outer one's: both watch what a message changes.
TEST_F(PumpTest, AMessageAnInnerWaitDispatchesEndsTheOuterWaitToo) {
    bool done = false;
    onMessage = [&](const Message& m) {
        if (m.msg == WM_USER + 5) {
            PostMessage(window, WM_USER + 6);
            PumpWhile([&] { return !done; }, PumpLimit::Within(30'000, 50, Rest::UntilPosted));
        } else {
            done = true;
        }
    };
    ASSERT_TRUE(PostMessage(window, WM_USER + 5));
    const auto start = Clock::now();
    EXPECT_TRUE(PumpWhile([&] { return !done; }, PumpLimit::Within(30'000, 50, Rest::UntilPosted)));
    EXPECT_EQ(handled, 2);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
}

// On another thread the wait only rests: the GUI thread's messages stay
// queued for it.
TEST_F(PumpTest, OffTheGuiThreadItRestsWithoutDispatching) {
    ASSERT_TRUE(PostMessage(window, WM_USER + 7));
    bool ended = true;
    int looks = 0;
    std::thread other([&] {
        EXPECT_FALSE(OnGuiThread());
        ended =
            PumpWhile([&] { return ++looks, true; }, PumpLimit::Rounds(3, 1, Rest::UntilPosted));
    });
    other.join();
    EXPECT_FALSE(ended);
    EXPECT_EQ(looks, 4);
    EXPECT_EQ(handled, 0);
    EXPECT_TRUE(OnGuiThread());
    ProcessMessages();
    EXPECT_EQ(handled, 1);
}

}  // namespace
