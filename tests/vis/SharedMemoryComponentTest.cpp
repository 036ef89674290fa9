// TfisSharedMemory on its own: the block made once per name, and where its
// notifications go: the window found by title, remembered once found, and
// the two warnings when they cannot be posted.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "platform/win/MessageBox.h"
#include "platform/win/RemoteMessages.h"
#include "plugins/zavSharedMemory.h"
#include "tests/support/PumpUntil.h"

namespace {

const std::string kNotActive =
    "The target application is not active on your system.\nThe notification message has not "
    "been sent.";
const std::string kNotSpecified =
    "The target application is not specified.\nThe notification message has not been sent.";

class SharedMemoryComponentTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        ::setenv("KAV_IPC_SCOPE", ("component-test-" + std::to_string(::getpid())).c_str(), 1);
    }
    void SetUp() override {
        win::SetMessageBoxHandler(
            [this](const std::string& caption, const std::string& text, unsigned) {
                warnings.push_back(caption + "|" + text);
                return win::IDOK;
            });
        memory.SetShareName("component");
        memory.SetSize(2316);
    }
    void TearDown() override {
        win::SetMessageBoxHandler({});
        for (win::HWND w : windows) {
            win::UnpublishWindow(w);
            win::DestroyMessageWindow(w);
        }
    }
    // A window of this process reachable under title, counting the notifications.
    win::HWND Target(const std::string& title) {
        const win::HWND w = win::CreateMessageWindow([this](const win::Message& m) {
            if (m.msg == memory.SendingDataMessage()) received.push_back(m.lParam);
            return 0;
        });
        EXPECT_TRUE(win::PublishWindow(w, title));
        windows.push_back(w);
        return w;
    }

    TfisSharedMemory memory;
    std::vector<std::string> warnings;
    std::vector<win::LPARAM> received;
    std::vector<win::HWND> windows;
};

TEST_F(SharedMemoryComponentTest, TheBlockIsMadeOncePerNameAndMappedWhole) {
    EXPECT_EQ(memory.MapSharedMemory(), nullptr);
    EXPECT_FALSE(memory.UnmapSharedMemory(nullptr));
    ASSERT_TRUE(memory.CreateSharedMemory());
    auto* view = static_cast<uint8_t*>(memory.MapSharedMemory());
    ASSERT_NE(view, nullptr);
    view[2315] = 7;
    TfisSharedMemory second;
    second.SetShareName("component");
    second.SetSize(2316);
    EXPECT_FALSE(second.CreateSharedMemory()) << "a second owner of the name";
    EXPECT_EQ(second.MapSharedMemory(), nullptr);
    EXPECT_TRUE(memory.UnmapSharedMemory(view));
    EXPECT_TRUE(memory.CloseSharedMemory());
    EXPECT_TRUE(second.CreateSharedMemory()) << "the name is free once closed";
}

TEST_F(SharedMemoryComponentTest, NotificationsReachTheTargetFoundByItsTrimmedTitle) {
    memory.SetMsgOutOnErr(true);
    Target("Vis Target");
    memory.PostToTarget(10, 2316);  // no block yet: nothing at all
    memory.SetTargetApplication("  Vis Target \t");
    EXPECT_EQ(memory.TargetApplication(), "Vis Target");
    ASSERT_TRUE(memory.CreateSharedMemory());
    memory.PostToTarget(10, 2316);
    memory.PostToTarget(80, 8);
    ASSERT_TRUE(PumpUntil([&] { return received.size() == 2; }));
    EXPECT_EQ(received, (std::vector<win::LPARAM>{2316, 8}));
    EXPECT_TRUE(warnings.empty());
}

TEST_F(SharedMemoryComponentTest, TheTwoWarningsOnlyWhenAskedFor) {
    ASSERT_TRUE(memory.CreateSharedMemory());
    memory.SetTargetApplication("Nobody Runs This");
    memory.PostToTarget(10, 2316);
    EXPECT_TRUE(warnings.empty()) << "warned without MsgOutOnErr";
    memory.SetMsgOutOnErr(true);
    memory.PostToTarget(10, 2316);
    EXPECT_EQ(warnings, std::vector<std::string>{"Warning...|" + kNotSpecified});
    warnings.clear();

    const win::HWND target = Target("Short Lived");
    memory.SetTargetApplication("Short Lived");
    win::UnpublishWindow(target);
    ASSERT_TRUE(PumpUntil([&] { return !win::IsRemoteWindow(memory.TargetWindow()); }));
    memory.PostToTarget(10, 2316);
    EXPECT_EQ(warnings, std::vector<std::string>{"Warning...|" + kNotActive});
}

TEST_F(SharedMemoryComponentTest, AWindowFoundOnceIsNotLookedUpAgainUntilTheTitleIsSet) {
    ASSERT_TRUE(memory.CreateSharedMemory());
    memory.SetTargetApplication("Restarting");  // nobody yet: looked up at the first post
    const win::HWND first = Target("Restarting");
    memory.PostToTarget(10, 1);
    ASSERT_TRUE(PumpUntil([&] { return received.size() == 1; }));
    win::UnpublishWindow(first);
    ASSERT_TRUE(PumpUntil([&] { return !win::IsRemoteWindow(memory.TargetWindow()); }));
    Target("Restarting");  // the program has started again
    memory.PostToTarget(10, 2);
    PumpUntil([] { return false; }, std::chrono::milliseconds(200));
    EXPECT_EQ(received.size(), 1u) << "looked up again without a new title";
    memory.SetTargetApplication("Restarting");
    memory.PostToTarget(10, 3);
    ASSERT_TRUE(PumpUntil([&] { return received.size() == 2; }));
    EXPECT_EQ(received.back(), 3);
}

}  // namespace
