// Shared memory, the named mutex and messages between processes on their
// own: names private to the user, a block left by a dead process reclaimed,
// one held by a live process not.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/win/IpcNames.h"
#include "platform/win/NamedMutex.h"
#include "platform/win/RemoteMessages.h"
#include "platform/win/SharedMemory.h"
#include "tests/support/PumpUntil.h"

namespace {

using Created = win::SharedMemory::Created;

class IpcTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        ::setenv("KAV_IPC_SCOPE", ("ipc-test-" + std::to_string(::getpid())).c_str(), 1);
    }
};

// A child process that creates the block and waits to be killed.
pid_t OwnerProcess(const std::string& name) {
    int ready[2];
    if (::pipe(ready) != 0) return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        Created how;
        auto block = win::SharedMemory::Create(name, 64, how);
        const char answer = how == Created::New ? 'y' : 'n';
        (void)!::write(ready[1], &answer, 1);
        for (;;) ::pause();
    }
    char answer = 0;
    (void)!::read(ready[0], &answer, 1);
    ::close(ready[0]);
    ::close(ready[1]);
    return answer == 'y' ? pid : -1;
}

TEST_F(IpcTest, ABlockIsTakenWhileItsOwnerLivesAndReclaimedAfterItDies) {
    const pid_t owner = OwnerProcess("reclaim");
    ASSERT_GT(owner, 0);
    Created how;
    EXPECT_EQ(win::SharedMemory::Create("reclaim", 64, how), nullptr);
    EXPECT_EQ(how, Created::NameTaken);
    ::kill(owner, SIGKILL);
    ::waitpid(owner, nullptr, 0);
    ASSERT_NE(win::SharedMemory::Open("reclaim", 64, true), nullptr) << "the dead owner's block";
    auto block = win::SharedMemory::Create("reclaim", 64, how);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(how, Created::New);
    // Taken again now, by this live owner.
    EXPECT_EQ(win::SharedMemory::Create("reclaim", 64, how), nullptr);
    EXPECT_EQ(how, Created::NameTaken);
}

TEST_F(IpcTest, BlockAndEndpointAreTheUsersAlone) {
    Created how;
    auto block = win::SharedMemory::Create("private", 64, how);
    ASSERT_NE(block, nullptr);
    auto mutex = win::NamedMutex::Create("private_SMMutex");
    ASSERT_NE(mutex, nullptr);
    const std::string uid = std::to_string(::getuid());
    const std::string name = win::UserScopedName("private");
    EXPECT_EQ(name.rfind("kav-" + uid + "-", 0), 0u) << name;
    struct stat st {};
    ASSERT_EQ(::stat(("/dev/shm/" + name).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(("/dev/shm/sem." + name + "_SMMutex").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    const win::HWND window = win::CreateMessageWindow([](const win::Message&) { return 0; });
    ASSERT_TRUE(win::PublishWindow(window, "Private Title"));
    const std::string endpoint = win::WindowEndpoint("Private Title");
    EXPECT_NE(endpoint.find("kav-" + uid + "-"), std::string::npos) << endpoint;
    ASSERT_EQ(::stat(endpoint.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(win::PrivateRuntimeDir().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0077, 0u);

    if (::getuid() != 0) GTEST_SKIP() << "another user's process needs root to start";
    const pid_t other = ::fork();
    if (other == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(9);
        const bool reads = win::SharedMemory::Open("private", 64, true) != nullptr;
        const bool reaches = win::FindWindowByTitle("Private Title") != 0;
        ::_exit((reads ? 1 : 0) | (reaches ? 2 : 0));
    }
    int status = 0;
    ::waitpid(other, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: read the block, 2: reached the window, 9: no setuid";
    win::UnpublishWindow(window);
    win::DestroyMessageWindow(window);
}

TEST_F(IpcTest, RegisteredMessagesArriveAsPostedMessagesAndEndWithTheirWindow) {
    const unsigned msg = win::RegisterWindowMessage("IpcTestMessage");
    std::vector<win::Message> got;
    const win::HWND window = win::CreateMessageWindow([&](const win::Message& m) {
        got.push_back(m);
        return 0;
    });
    ASSERT_TRUE(win::PublishWindow(window, "Ipc Peer"));
    EXPECT_FALSE(win::PublishWindow(window, "Ipc Peer"));
    const win::HWND remote = win::FindWindowByTitle("Ipc Peer");
    ASSERT_NE(remote, 0u);
    EXPECT_TRUE(win::IsRemoteWindow(remote));
    EXPECT_TRUE(win::PostRemoteMessage(remote, msg, 'Z', -3));
    EXPECT_FALSE(win::PostRemoteMessage(remote, 1234, 1, 1)) << "not a registered message";
    ASSERT_TRUE(PumpUntil([&] { return !got.empty(); }));
    EXPECT_EQ(got[0].msg, msg);
    EXPECT_EQ(got[0].wParam, win::WPARAM('Z'));
    EXPECT_EQ(got[0].lParam, -3);
    EXPECT_EQ(win::FindWindowByTitle("Nobody Here"), 0u);
    win::UnpublishWindow(window);
    EXPECT_TRUE(PumpUntil([&] { return !win::IsRemoteWindow(remote); }, std::chrono::seconds(2)));
    EXPECT_FALSE(win::PostRemoteMessage(remote, msg, 'Z', 1));
    win::ForgetRemoteWindow(remote);
    win::DestroyMessageWindow(window);
}

}  // namespace
