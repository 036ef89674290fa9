// What must never hold the player: a path that is no regular file, an end
// that came before its sync was set, a signal to stop.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "Fixtures.h"
#include "Session.h"

using namespace bass_test;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// Opens and closes a FIFO's writing end every second, so a reader blocked
// in open() gets going again: the test stays bounded even where the library
// waits.
class FifoRescue {
  public:
    explicit FifoRescue(std::string path) : path_(std::move(path)) {
        thread_ = std::thread([this] {
            while (!waitFor([this] { return done_.load(); }, 1000ms)) {
                const int fd = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK);
                if (fd >= 0) ::close(fd);
            }
        });
    }
    ~FifoRescue() {
        done_.store(true);
        thread_.join();
    }

  private:
    std::string path_;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

long long fileSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

}  // namespace

// A FIFO named like a song and a directory: every opening call refuses them
// at once (a FIFO's open would wait for a writer that never comes).
TEST(Guards, OnlyRegularFilesAreOpened) {
    Session s("guard-files");
    ASSERT_TRUE(s.ok());
    const std::string fifo = workDir() + "/fifo.mp3";
    const std::string dir = workDir() + "/folder.mp3";
    ::unlink(fifo.c_str());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::filesystem::create_directories(dir);
    for (const std::string& path : {fifo, dir}) {
        FifoRescue rescue(fifo);
        const auto t = Clock::now();
        EXPECT_EQ(BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, 0), 0u) << path;
        EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FILEFORM) << path;
        EXPECT_EQ(BASS_WMA_StreamCreateFile(FALSE, path.c_str(), 0, 0, 0), 0u) << path;
        EXPECT_EQ(BASS_MusicLoad(FALSE, path.c_str(), 0, 0, 0, 0), 0u) << path;
        EXPECT_LT(secondsSince(t), 1.0) << path;
    }
    // A missing file is a file error, as before.
    EXPECT_EQ(BASS_StreamCreateFile(FALSE, (workDir() + "/none.mp3").c_str(), 0, 0, 0), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FILEOPEN);
}

// The gap between starting a channel and setting its end sync: a very short
// stream ends in it. The sync set afterwards fires all the same, once, and
// the sync set before does not fire again.
TEST(Guards, EndSyncSetAfterTheEndFires) {
    const std::string wav = makeToneWav("blip.wav", 0.05, 1000);
    Session s("guard-end");
    ASSERT_TRUE(s.ok());
    DWORD h = BASS_StreamCreateFile(FALSE, wav.c_str(), 0, 0, 0);
    ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
    SyncCounter before, after;
    ASSERT_NE(BASS_ChannelSetSync(h, BASS_SYNC_END, 0, SyncCounter::proc, &before), 0u);
    ASSERT_TRUE(BASS_StreamPlay(h, FALSE, 0));
    ASSERT_TRUE(waitFor([&] { return before.calls.load() > 0; }, 2000ms));
    ASSERT_EQ(BASS_ChannelIsActive(h), static_cast<DWORD>(BASS_ACTIVE_STOPPED));
    ASSERT_NE(BASS_ChannelSetSync(h, BASS_SYNC_END, 0, SyncCounter::proc, &after), 0u);
    EXPECT_TRUE(waitFor([&] { return after.calls.load() > 0; }, 1000ms));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(after.calls.load(), 1);
    EXPECT_EQ(before.calls.load(), 1);

    // Played again, it ends again: both fire once more.
    ASSERT_TRUE(BASS_StreamPlay(h, FALSE, 0));
    EXPECT_TRUE(
        waitFor([&] { return after.calls.load() == 2 && before.calls.load() == 2; }, 2000ms));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(after.calls.load(), 2);
    EXPECT_EQ(before.calls.load(), 2);
}

// The tools that play through the library end promptly on SIGTERM and
// SIGINT while a file plays (the sound system must not take the signals).
TEST(Guards, ToolsEndOnSignalsWhilePlaying) {
    const std::string wav = makeToneWav("signal.wav", 20.0, 440);
    struct Tool {
        const char* name;
        std::vector<std::string> args;
    };
    const std::vector<Tool> tools = {
        {"kavplay", {"kavplay", "--null", wav}},
        {"basstool", {"basstool", "-d", "0", "play", wav}},
    };
    for (const Tool& tool : tools) {
        for (int sig : {SIGTERM, SIGINT}) {
            const std::string capture =
                workDir() + "/sig-" + tool.name + "-" + std::to_string(sig) + ".wav";
            const std::string exe = binDir() + "/" + tool.name;
            ASSERT_EQ(::access(exe.c_str(), X_OK), 0) << exe << " is not built";
            const pid_t pid = ::fork();
            ASSERT_GE(pid, 0);
            if (pid == 0) {
                ::setenv("KAV_CAPTURE_WAV", capture.c_str(), 1);
                ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
                const int null = ::open("/dev/null", O_WRONLY);
                ::dup2(null, 1);
                std::vector<char*> argv;
                for (const auto& a : tool.args) argv.push_back(const_cast<char*>(a.c_str()));
                argv.push_back(nullptr);
                ::execv(exe.c_str(), argv.data());
                ::_exit(127);
            }
            // Playing: a fifth of a second has been heard.
            const bool playing = waitFor([&] { return fileSize(capture) > 44 + 35280; }, 5000ms);
            ::kill(pid, sig);
            const auto t = Clock::now();
            int status = 0;
            const bool ended =
                waitFor([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, 2000ms);
            if (!ended) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
            }
            EXPECT_TRUE(playing) << tool.name;
            EXPECT_TRUE(ended) << tool.name << " ignored signal " << sig << " for "
                               << secondsSince(t) << " s";
        }
    }
}
