#include "platform/win/Messages.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

using namespace win;

namespace {

// Dispatches until pred holds or two seconds have passed.
template <class Pred>
bool pumpUntil(Pred pred) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!pred() && std::chrono::steady_clock::now() < end) {
        ProcessMessages();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return pred();
}

}  // namespace

TEST(Messages, PostsFromOtherThreadsArriveInOrderOnTheGuiThread) {
    std::vector<std::pair<unsigned, WPARAM>> seen;
    std::atomic<bool> wrongThread{false};
    QThread* gui = QCoreApplication::instance()->thread();
    HWND w = CreateMessageWindow([&](const Message& m) -> LRESULT {
        if (QThread::currentThread() != gui) wrongThread = true;
        seen.emplace_back(m.msg, m.wParam);
        return 0;
    });
    std::thread poster([w] {
        for (WPARAM i = 0; i < 500; ++i) EXPECT_TRUE(PostMessage(w, WM_USER + 7, i));
    });
    poster.join();
    ASSERT_TRUE(pumpUntil([&] { return seen.size() == 500; }));
    for (WPARAM i = 0; i < 500; ++i) {
        EXPECT_EQ(seen[i].first, WM_USER + 7);
        EXPECT_EQ(seen[i].second, i);
    }
    EXPECT_FALSE(wrongThread);
    DestroyMessageWindow(w);
}

TEST(Messages, DestroyedWindowDropsQueuedAndRefusesNewPosts) {
    int received = 0;
    HWND w = CreateMessageWindow([&](const Message&) -> LRESULT { return ++received; });
    EXPECT_TRUE(PostMessage(w, WM_USER));
    DestroyMessageWindow(w);
    EXPECT_FALSE(IsWindow(w));
    EXPECT_FALSE(PostMessage(w, WM_USER));
    EXPECT_EQ(SendMessage(w, WM_USER), 0);
    ProcessMessages();
    EXPECT_EQ(received, 0);

    HWND other = CreateMessageWindow([](const Message&) -> LRESULT { return 0; });
    EXPECT_NE(other, w) << "handles are never reused";
    DestroyMessageWindow(other);
}

TEST(Messages, HandlerMayPumpReentrantlyAndDestroyItself) {
    std::vector<int> order;
    HWND w = 0;
    w = CreateMessageWindow([&](const Message& m) -> LRESULT {
        order.push_back(static_cast<int>(m.wParam));
        if (m.wParam == 1) {
            // A wait inside a handler: later messages are dispatched meanwhile.
            pumpUntil([&] { return order.size() == 3; });
            order.push_back(10);
        }
        if (m.wParam == 3) DestroyMessageWindow(w);
        return 0;
    });
    PostMessage(w, WM_USER, 1);
    PostMessage(w, WM_USER, 2);
    PostMessage(w, WM_USER, 3);
    PostMessage(w, WM_USER, 4);  // queued before the window went: dropped
    pumpUntil([&] { return order.size() >= 4; });
    ProcessMessages();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 10}));
}

TEST(Messages, TextTravelsWithEachMessage) {
    std::vector<std::string> titles;
    HWND w = CreateMessageWindow([&](const Message& m) -> LRESULT {
        titles.push_back(m.text);
        return 0;
    });
    std::string buffer = "first";
    PostMessage(w, WM_USER, 0, 0, buffer);
    buffer = "second";  // the poster reusing its buffer changes nothing already posted
    PostMessage(w, WM_USER, 0, 0, buffer);
    ASSERT_TRUE(pumpUntil([&] { return titles.size() == 2; }));
    EXPECT_EQ(titles, (std::vector<std::string>{"first", "second"}));
    DestroyMessageWindow(w);
}

TEST(Messages, SendCallsAtOnceAndReturnsTheResult) {
    HWND w = CreateMessageWindow([](const Message& m) -> LRESULT { return m.lParam * 2; });
    EXPECT_EQ(SendMessage(w, WM_USER, 0, 21), 42);
    DestroyMessageWindow(w);
}

TEST(Messages, RegisteredNumbersAreStablePerName) {
    unsigned a = RegisterWindowMessage("WM_SendingData");
    unsigned b = RegisterWindowMessage("TaskbarCreated");
    EXPECT_EQ(a, RegisterWindowMessage("WM_SendingData"));
    EXPECT_NE(a, b);
    EXPECT_GE(a, 0xC000u);
    EXPECT_LE(b, 0xFFFFu);
}

// A wait for messages ends when one is posted from another thread, long
// before its limit, and otherwise at the limit.
TEST(Messages, WaitForMessagesEndsWhenOneIsPostedOrAtItsLimit) {
    int seen = 0;
    HWND w = CreateMessageWindow([&](const Message&) -> LRESULT { return ++seen, 0; });
    ProcessMessages();
    auto start = std::chrono::steady_clock::now();
    WaitForMessages(60);
    const auto idle = std::chrono::steady_clock::now() - start;
    EXPECT_GE(idle, std::chrono::milliseconds(59));
    EXPECT_EQ(seen, 0);
    std::thread poster([w] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        PostMessage(w, WM_USER + 1);
    });
    start = std::chrono::steady_clock::now();
    while (seen == 0 && std::chrono::steady_clock::now() - start < std::chrono::seconds(30))
        WaitForMessages(30'000);
    poster.join();
    EXPECT_EQ(seen, 1);
    // Not the 30 s limit: the post ended the wait.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    DestroyMessageWindow(w);
}
