// The platform pieces a station stands on: the data folder's choice and its
// starting copies, the lock that keeps one program per folder (released by
// the system with a killed process), and the runner of outside commands that
// nobody waits for (the alarm of the station's events).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

#include "StationEvents.h"
#include "platform/win/CommandRunner.h"
#include "platform/win/DataDir.h"
#include "platform/win/InstanceLock.h"
#include "platform/win/ProgramDir.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(DataDirTest, TheProgramDirectoryWhenWritableElseTheUsersConfigFolder) {
    const struct {
        const char* xdg;
        const char* home;
        const char* expected;
    } cases[] = {
        {"/cfg", "/home/ana", "/cfg/kav"},
        {"", "/home/ana", "/home/ana/.config/kav"},
        {"relative/cfg", "/home/ana", "/home/ana/.config/kav"},  // not absolute: ignored
        {"", "", "/opt/kav/lib/kav"},  // nowhere else: the program directory
    };
    for (const auto& c : cases)
        EXPECT_EQ(win::ChooseDataDir("/opt/kav/lib/kav", c.xdg, c.home), c.expected)
            << c.xdg << " " << c.home;

    TempDir program;
    win::SetProgramDir(program.Path().string());
    EXPECT_EQ(win::DataDir(), program.Path().string()) << "writable: today's behaviour";
    win::SetProgramDir("");
}

TEST(DataDirTest, TheStartingCopiesComeFromTheProgramDirectoryOnce) {
    TempDir program, config;
    TempDir::Write(program.File("kav.ini"), "[varios]\npln=4\n");
    TempDir::Write(program.File("pl.m3u"), "/m/a.mp3\n");
    win::SetProgramDir(program.Path().string());
    const std::string data = (config.Path() / "deep" / "kav").string();
    win::SetDataDir(data);
    EXPECT_EQ(win::DataFileToRead("pl.m3u"), program.File("pl.m3u")) << "before the copy";
    ASSERT_TRUE(win::PrepareDataDir({"kav.ini", "pl.m3u", "prgm.m3u"}));
    EXPECT_EQ(TempDir::Read(data + "/kav.ini"), "[varios]\npln=4\n");
    EXPECT_EQ(TempDir::Read(data + "/pl.m3u"), "/m/a.mp3\n");
    EXPECT_FALSE(fs::exists(data + "/prgm.m3u")) << "none in the program directory";
    EXPECT_EQ(win::DataFileToRead("pl.m3u"), data + "/pl.m3u");
    // A copy that exists is the data folder's own from then on.
    TempDir::Write(data + "/pl.m3u", "/m/mine.mp3\n");
    ASSERT_TRUE(win::PrepareDataDir({"pl.m3u"}));
    EXPECT_EQ(TempDir::Read(data + "/pl.m3u"), "/m/mine.mp3\n");
    win::SetDataDir("");
    win::SetProgramDir("");
}

// A process of its own takes the lock and waits to be killed.
pid_t LockInChild(const std::string& dir) {
    int ready[2];
    EXPECT_EQ(::pipe(ready), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::unique_ptr<win::InstanceLock> lock;
        const auto result = win::InstanceLock::Acquire(dir, lock);
        const char byte = result == win::InstanceLock::Result::Acquired ? 'y' : 'n';
        [[maybe_unused]] ssize_t n = ::write(ready[1], &byte, 1);
        ::pause();
        ::_exit(0);
    }
    char byte = 0;
    EXPECT_EQ(::read(ready[0], &byte, 1), 1);
    EXPECT_EQ(byte, 'y');
    ::close(ready[0]);
    ::close(ready[1]);
    return pid;
}

TEST(InstanceLockTest, OneHolderPerFolderAndAKilledHolderLetsGo) {
    TempDir dir;
    const pid_t holder = LockInChild(dir.Path().string());
    std::unique_ptr<win::InstanceLock> lock;
    EXPECT_EQ(win::InstanceLock::Acquire(dir.Path().string(), lock),
              win::InstanceLock::Result::HeldElsewhere);
    EXPECT_FALSE(lock);
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    EXPECT_EQ(win::InstanceLock::Acquire(dir.Path().string(), lock),
              win::InstanceLock::Result::Acquired);
    EXPECT_TRUE(lock) << "the lock file the dead holder left is no obstacle";
    std::unique_ptr<win::InstanceLock> other;
    std::string error;
    EXPECT_EQ(win::InstanceLock::Acquire((dir.Path() / "missing").string(), other, &error),
              win::InstanceLock::Result::Unavailable);
    EXPECT_FALSE(error.empty());
}

// A command's arguments, one per line, appended to a file.
std::string Recorder(const std::string& file) {
    return "printf '%s|%s\\n' >>'" + file + "'";
}

TEST(CommandRunnerTest, RunsWithTheArgumentsAsGivenAndNobodyWaits) {
    TempDir dir;
    const std::string out = dir.File("out.txt");
    win::CommandRunner runner;
    const auto before = std::chrono::steady_clock::now();
    runner.Run("sleep 0.3; " + Recorder(out), {"silencio", "it's \"quoted\"; $(not run)"});
    runner.Run(Recorder(out), {"falha", "second"});
    EXPECT_LT(std::chrono::steady_clock::now() - before, 100ms) << "Run only queues";
    ASSERT_TRUE(runner.WaitIdle(10s));
    std::string text = TempDir::Read(out);
    EXPECT_NE(text.find("silencio|it's \"quoted\"; $(not run)\n"), std::string::npos) << text;
    EXPECT_NE(text.find("falha|second\n"), std::string::npos) << text;
    EXPECT_EQ(runner.counts().finished, 2u);
    runner.Run("", {"x"});  // no command: nothing
    EXPECT_EQ(runner.counts().started, 2u);
}

TEST(CommandRunnerTest, ACommandPastItsLimitIsKilledWithWhatItStarted) {
    TempDir dir;
    const std::string pidFile = dir.File("child.pid");
    win::CommandRunner runner(300ms);
    const auto before = std::chrono::steady_clock::now();
    runner.Run("sleep 30 & echo $! >'" + pidFile + "'; wait");
    ASSERT_TRUE(runner.WaitIdle(10s));
    EXPECT_LT(std::chrono::steady_clock::now() - before, 5s);
    EXPECT_EQ(runner.counts().killed, 1u);
    const pid_t child = pid_t(std::stol(TempDir::Read(pidFile)));
    // The shell's own child went with it (it may linger as a zombie of init's).
    bool gone = false;
    for (int i = 0; i < 100 && !gone; ++i) {
        const std::string status = TempDir::Read("/proc/" + std::to_string(child) + "/status");
        gone = status.empty() || status.find("State:\tZ") != std::string::npos;
        if (!gone) std::this_thread::sleep_for(20ms);
    }
    EXPECT_TRUE(gone);
}

// A burst of events is not a burst of processes: a few run at once, a
// bounded queue waits, and what does not fit is dropped and counted.
TEST(CommandRunnerTest, AFewRunAtOnceAndTheQueueIsBounded) {
    TempDir dir;
    const std::string marks = dir.File("marks.txt");
    win::CommandRunner runner;
    constexpr unsigned kBurst = 100;
    for (unsigned i = 0; i < kBurst; ++i)
        runner.Run("printf + >>'" + marks + "'; sleep 0.05; printf - >>'" + marks + "'");
    ASSERT_TRUE(runner.WaitIdle(60s));
    const win::CommandRunner::Counts counts = runner.counts();
    EXPECT_EQ(counts.started + counts.dropped, kBurst);
    EXPECT_GE(counts.started, win::CommandRunner::kMaxQueued);
    EXPECT_GT(counts.dropped, 0u);
    int running = 0, most = 0;
    for (char c : TempDir::Read(marks)) {
        running += c == '+' ? 1 : -1;
        most = std::max(most, running);
    }
    EXPECT_EQ(running, 0);
    EXPECT_LE(most, int(win::CommandRunner::kMaxRunning));
    EXPECT_GT(most, 1) << "they do run side by side";
}

TEST(CommandRunnerTest, TheEndKillsWhatStillRunsAfterAShortGrace) {
    const auto before = std::chrono::steady_clock::now();
    {
        win::CommandRunner runner(10s, 200ms);
        runner.Run("sleep 30");
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - before, 5s);
}

TEST(StationEventsTest, OneLineWithTheTimeAndTheAlarmWithNameAndText) {
    TempDir dir;
    const std::string out = dir.File("alarm.txt");
    win::CommandRunner runner;
    station::Events events(runner);
    std::vector<std::string> lines;
    events.SetSink([&](const std::string& line) { lines.push_back(line); });
    events.Report(station::event::kFailure, "no alarm set");
    events.SetAlarm(Recorder(out));
    events.Report(station::event::kSilence, "silêncio há 20 s:\n/m/b.mp3");
    ASSERT_TRUE(runner.WaitIdle(10s));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[1].find(" [estacao] silencio: silêncio há 20 s: /m/b.mp3"), std::string::npos)
        << lines[1];
    EXPECT_EQ(lines[1].size(),
              std::string("2025-01-01 00:00:00").size() +
                  std::string(" [estacao] silencio: silêncio há 20 s: /m/b.mp3").size());
    EXPECT_EQ(TempDir::Read(out), "silencio|silêncio há 20 s: /m/b.mp3\n");
    EXPECT_EQ(station::EventLine(0, "arranque", "x").find("[estacao] arranque: x"), 20u);
}

}  // namespace
