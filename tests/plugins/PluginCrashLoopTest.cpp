// A plug-in whose Play brings the program down (the SDK-style test plug-in's
// CRASHES_IN_PLAY variant as in_wave.dll). The main window, started in a child
// process of the test, dies in Play with the playing item and its plug-in on
// disk; after two such ends in a row, the next start leaves the plug-in out,
// says so once without waiting, and its files play through the audio library.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "engine/BASSPlayer.h"
#include "platform/win/IniFile.h"
#include "tests/support/BinDir.h"
#include "tests/support/WindowTest.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int kLived = 3;  // the child's status when it came back from playing

int Count(const std::string& text, const std::string& part) {
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

class PluginCrashLoopTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        fs::remove(dir / "estado.ini");
        fs::copy_file(fs::path(TestPluginDir()) / "test_wave_crashes_in_play.dll",
                      dir / "in_wave.dll", fs::copy_options::overwrite_existing);
    }
    void TearDown() override {
        WindowTest::TearDown();
        fs::copy_file(TestBinDir() / "in_wave.dll", dir / "in_wave.dll",
                      fs::copy_options::overwrite_existing);
    }

    // The window in a child process, playing the playlist's row: how the
    // child ended. One that comes back leaves without an orderly end. The
    // test's process has made no window yet, so it forks with one thread.
    int PlayRowInChild(int row) {
        const pid_t pid = fork();
        if (pid == 0) {
            const rlimit noCore{0, 0};
            setrlimit(RLIMIT_CORE, &noCore);
            auto* child = new TForm1();
            child->Automation->PlaylistRowCommand(row);
            _exit(kLived);
        }
        int status = 0;
        for (auto end = std::chrono::steady_clock::now() + 60s;
             waitpid(pid, &status, WNOHANG) != pid; std::this_thread::sleep_for(10ms)) {
            if (std::chrono::steady_clock::now() < end) continue;
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            ADD_FAILURE() << "the child still ran after 60 s";
            break;
        }
        return status;
    }

    std::string State(const char* key) const {
        return win::IniFile((dir / "estado.ini").string()).ReadString("estado", key, "");
    }
};

TEST_F(PluginCrashLoopTest, APlayThatCrashesTwiceInARowLeavesItsPlugInOutOfTheNextStart) {
    const std::string first = Tone("first.wav", 3), second = Tone("second.wav", 3);
    Write("pl.m3u", first + "\r\n" + second + "\r\n");
    Settings();

    // Two runs die in the plug-in's Play, each on a file of its own, so that
    // only the plug-in is common to both.
    for (const auto& [row, file] : {std::pair{1, first}, std::pair{2, second}}) {
        SCOPED_TRACE("row " + std::to_string(row));
        const int status = PlayRowInChild(row);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGSEGV) << "status " << status;
        EXPECT_EQ(State("ficheiro"), file) << "the item was on disk before Play";
        EXPECT_EQ(State("plugin"), "in_wave.dll");
        EXPECT_EQ(State("limpo"), "0");
    }

    std::vector<std::string> boxes;
    win::SetMessageBoxHandler([&](const std::string&, const std::string& text, unsigned flags) {
        boxes.push_back(text);
        EXPECT_EQ(flags & win::MB_WAIT, 0u) << text;
        return win::IDOK;
    });
    testing::internal::CaptureStderr();
    form = std::make_unique<TForm1>();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(IsPluginRetired("in_wave.dll"));
    EXPECT_LT(GetPluginIndex("in_wave.dll"), 0) << "left unloaded";
    EXPECT_GE(GetPluginIndex("in_mp3.dll"), 0) << "the other plug-in is used as ever";
    EXPECT_EQ(Count(err, "[estacao] falha: "), 1) << err;
    EXPECT_EQ(Count(err, "in_wave.dll"), 1) << err;
    EXPECT_EQ(Count(err, "[estacao] reinicio: "), 1) << err;
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].find("in_wave.dll"), std::string::npos) << boxes[0];

    // Its files play through the audio library.
    form->Automation->PlaylistRowCommand(2);
    EXPECT_EQ(form->BASSPlayer1->PlayState(), PLAYSTATE_PLAYING);
    EXPECT_NE(form->BASSPlayer1->ChannelKind(), CHANNEL_PLUGIN);
    EXPECT_EQ(State("ficheiro"), second);
    EXPECT_EQ(State("plugin"), "") << "no plug-in plays it";
}

}  // namespace
