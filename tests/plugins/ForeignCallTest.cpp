// The bounded call into other people's code: a call that returns is waited
// for, one that does not is given up at its limit (sooner once the program
// is ending) and left to its thread, and the next call runs on a new one.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "platform/win/Application.h"
#include "plugins/ForeignCall.h"

using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

// A call that does not return until its gate opens.
struct Gate {
    std::atomic<bool> open{false};
    std::atomic<bool> entered{false};
    void Wait() {
        entered = true;
        while (!open) std::this_thread::sleep_for(1ms);
    }
};

double Since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

TEST(ForeignCallTest, ACallThatReturnsIsWaitedForOnOneThreadOfItsOwn) {
    std::thread::id first, second;
    EXPECT_TRUE(foreign::Call([&] { first = std::this_thread::get_id(); }, 2s));
    EXPECT_TRUE(foreign::Call([&] { second = std::this_thread::get_id(); }, 2s));
    EXPECT_NE(first, std::this_thread::get_id());
    EXPECT_EQ(first, second);  // the same call thread while no call overruns
    int result = 0;
    EXPECT_TRUE(foreign::Call([&result] { result = 42; }, 2s));
    EXPECT_EQ(result, 42);  // what it wrote is seen once it returned
}

TEST(ForeignCallTest, ACallThatOverrunsIsLeftToItsThreadAndTheNextRunsOnANewOne) {
    auto gate = std::make_shared<Gate>();
    std::thread::id stuck, next;
    const int inside = foreign::CallsStillInside();
    const auto start = Clock::now();
    EXPECT_FALSE(foreign::Call(
        [gate, &stuck] {
            stuck = std::this_thread::get_id();
            gate->Wait();
        },
        300ms));
    EXPECT_GE(Since(start), 0.29);
    EXPECT_LT(Since(start), 2.0);
    EXPECT_TRUE(gate->entered);
    EXPECT_EQ(foreign::CallsStillInside(), inside + 1);
    EXPECT_TRUE(foreign::Call([&next] { next = std::this_thread::get_id(); }, 2s));
    EXPECT_NE(next, stuck);
    gate->open = true;  // the stuck call returns and its thread ends
    const auto deadline = Clock::now() + 5s;
    while (foreign::CallsStillInside() > inside && Clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    EXPECT_EQ(foreign::CallsStillInside(), inside);
}

// Once the program is ending, a call in progress is given at most the short
// limit more, and a new call no more than that.
TEST(ForeignCallTest, EndingTheProgramCutsTheWaitShort) {
    for (const bool during : {true, false}) {
        SCOPED_TRACE(during ? "asked while waiting" : "asked before the call");
        auto gate = std::make_shared<Gate>();
        std::thread asker;
        if (during)
            asker = std::thread([gate] {
                while (!gate->entered) std::this_thread::sleep_for(1ms);
                std::this_thread::sleep_for(100ms);
                win::RequestQuit();
            });
        else
            win::RequestQuit();
        const auto start = Clock::now();
        EXPECT_FALSE(foreign::Call([gate] { gate->Wait(); }, 20s));
        const double took = Since(start);
        if (asker.joinable()) asker.join();
        win::ClearQuitRequest();
        gate->open = true;
        EXPECT_LT(took, 0.1 + std::chrono::duration<double>(foreign::kQuittingLimit).count() + 1.5);
    }
}
