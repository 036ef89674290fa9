// The station's file writer on its own thread, on real files: whole lines
// with one header per day file, a file left mid-line by a kill, a disk that
// refuses or holds the writer up (lines are dropped, the producer never
// waits, each problem is told once), the now-playing files with the command
// after them, and old day files removed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "AsRun.h"
#include "FileWriter.h"
#include "NowPlayingFiles.h"
#include "platform/win/CommandRunner.h"
#include "tests/support/TempDir.h"

namespace nowplaying {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

std::string Line(int n) {
    return "2025-03-01 12:00:00.000,x," + std::to_string(n) + "\r\n";
}

TEST(FileWriterTest, LinesGoWholeToTheirDayFilesWithOneHeaderEach) {
    TempDir dir;
    const std::string log = dir.File("emissao");
    {
        FileWriter writer(log, dir.Path().string(), nullptr);
        writer.AppendLine("2025-03-01.csv", Line(1));
        writer.AppendLine("2025-03-02.csv", Line(2));
        writer.AppendLine("2025-03-01.csv", Line(3));
        ASSERT_TRUE(writer.WaitIdle(10s));
        EXPECT_EQ(writer.counts().written, 3u);
    }
    EXPECT_EQ(TempDir::Read(log + "/2025-03-01.csv"), AsRunHeader() + Line(1) + Line(3));
    EXPECT_EQ(TempDir::Read(log + "/2025-03-02.csv"), AsRunHeader() + Line(2));

    // A later run appends; a file whose last line was cut short gets a line
    // end first, so the cut line stays alone and the new one is whole.
    TempDir::Write(log + "/2025-03-03.csv", AsRunHeader() + "2025-03-03 10:00");
    {
        FileWriter writer(log, dir.Path().string(), nullptr);
        writer.AppendLine("2025-03-01.csv", Line(4));
        writer.AppendLine("2025-03-03.csv", Line(5));
    }  // the destructor writes what is queued
    EXPECT_EQ(TempDir::Read(log + "/2025-03-01.csv"), AsRunHeader() + Line(1) + Line(3) + Line(4));
    EXPECT_EQ(TempDir::Read(log + "/2025-03-03.csv"),
              AsRunHeader() + "2025-03-03 10:00\r\n" + Line(5));
}

// A day file that is a FIFO holds the writer in its open until a reader
// comes: the producer goes on, lines beyond the queue's bound are dropped and
// told once, and the rest are written once the disk moves again.
TEST(FileWriterTest, ASlowDiskCostsLinesNeverTheProducersTime) {
    TempDir dir;
    const std::string log = dir.File("emissao");
    fs::create_directories(log);
    const std::string stuck = log + "/2025-03-01.csv";
    ASSERT_EQ(::mkfifo(stuck.c_str(), 0600), 0);
    FileWriter writer(log, dir.Path().string(), nullptr);
    writer.AppendLine("2025-03-01.csv", Line(0));
    std::this_thread::sleep_for(100ms);  // the writer is in the FIFO's open
    const size_t more = FileWriter::kMaxQueuedLines + 50;
    const auto before = std::chrono::steady_clock::now();
    for (size_t i = 1; i <= more; ++i) writer.AppendLine("2025-03-02.csv", Line(int(i)));
    const double took =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - before).count();
    EXPECT_LT(took, 0.5) << "the producer waited";
    EXPECT_EQ(writer.counts().dropped, 50u);
    const std::string problem = writer.TakeProblem();
    EXPECT_NE(problem.find("lost"), std::string::npos) << problem;
    writer.AppendLine("2025-03-02.csv", Line(9999));  // full still: dropped, not told again
    EXPECT_EQ(writer.TakeProblem(), "");

    const int reader = ::open(stuck.c_str(), O_RDONLY);  // the disk moves again
    ASSERT_GE(reader, 0);
    ASSERT_TRUE(writer.WaitIdle(10s));
    char buffer[4096];
    const std::string first(buffer,
                            size_t(std::max<ssize_t>(0, ::read(reader, buffer, sizeof buffer))));
    ::close(reader);
    EXPECT_EQ(first, AsRunHeader() + Line(0));
    const std::string day2 = TempDir::Read(log + "/2025-03-02.csv");
    EXPECT_EQ(std::count(day2.begin(), day2.end(), '\n'), 1 + FileWriter::kMaxQueuedLines);
    EXPECT_EQ(writer.counts().written, 1 + FileWriter::kMaxQueuedLines);
}

TEST(FileWriterTest, AFolderThatCannotBeWrittenIsToldOnceUntilWritingWorksAgain) {
    TempDir dir;
    const std::string blocker = dir.File("blocker");
    TempDir::Write(blocker, "a file where the folder should be");
    FileWriter writer(blocker + "/emissao", blocker, nullptr);
    for (int i = 0; i < 5; ++i) writer.AppendLine("2025-03-01.csv", Line(i));
    writer.ReplaceNowPlaying("{}", "\n", "");
    ASSERT_TRUE(writer.WaitIdle(10s));
    EXPECT_EQ(writer.counts().failed, 5u);
    EXPECT_EQ(writer.counts().written, 0u);
    const std::string problem = writer.TakeProblem();
    EXPECT_NE(problem.find(blocker), std::string::npos) << problem;
    writer.AppendLine("2025-03-01.csv", Line(9));
    ASSERT_TRUE(writer.WaitIdle(10s));
    EXPECT_EQ(writer.TakeProblem(), "") << "told once";
}

// The files are replaced whole; the command gets agora.json's path after them.
TEST(FileWriterTest, TheNowPlayingFilesAreWrittenThenTheCommandRuns) {
    TempDir dir;
    win::CommandRunner runner;
    const std::string seen = dir.File("seen.txt");
    {
        FileWriter writer(dir.File("emissao"), dir.Path().string(), &runner);
        writer.ReplaceNowPlaying("{\"a\": 1}\n", "A - T\n", "cat >>'" + seen + "'");
        ASSERT_TRUE(writer.WaitIdle(10s));
        EXPECT_EQ(writer.counts().replaced, 1u);
    }
    ASSERT_TRUE(runner.WaitIdle(10s));
    EXPECT_EQ(TempDir::Read(dir.File(kJsonFileName)), "{\"a\": 1}\n");
    EXPECT_EQ(TempDir::Read(dir.File(kTextFileName)), "A - T\n");
    EXPECT_EQ(TempDir::Read(seen), "{\"a\": 1}\n");
    EXPECT_EQ(runner.counts().finished, 1u);
}

TEST(FileWriterTest, DayFilesBeforeTheDayGivenAreRemovedAndNothingElse) {
    TempDir dir;
    const std::string log = dir.File("emissao");
    fs::create_directories(log);
    for (const char* name : {"2024-01-31.csv", "2025-02-28.csv", "2025-03-01.csv", "2025-03-02.csv",
                             "notes.csv", "2025-01-01.csv.bak", "agora.json"})
        TempDir::Write(log + "/" + name, "x");
    {
        FileWriter writer(log, dir.Path().string(), nullptr);
        writer.RemoveDaysBefore("2025-03-01");
        ASSERT_TRUE(writer.WaitIdle(10s));
        EXPECT_EQ(writer.counts().removed, 2u);
    }
    std::set<std::string> left;
    for (const auto& entry : fs::directory_iterator(log)) left.insert(entry.path().filename());
    EXPECT_EQ(left, (std::set<std::string>{"2025-03-01.csv", "2025-03-02.csv", "notes.csv",
                                           "2025-01-01.csv.bak", "agora.json"}));
}

}  // namespace
}  // namespace nowplaying
