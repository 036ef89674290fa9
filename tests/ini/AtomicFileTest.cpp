#include "platform/win/AtomicFile.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "tests/support/TempDir.h"

namespace {

size_t entryCount(const std::filesystem::path& dir) {
    size_t n = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir)) ++n;
    return n;
}

TEST(AtomicFile, ReplacesTheFileAndLeavesNoTemporaryBehind) {
    TempDir dir;
    const std::string path = dir.File("pl.m3u");
    TempDir::Write(path, "old contents");
    ::chmod(path.c_str(), 0640);
    ASSERT_TRUE(win::WriteFileAtomic(path, std::string("new\0bytes", 9)));
    EXPECT_EQ(TempDir::Read(path), std::string("new\0bytes", 9));
    EXPECT_EQ(entryCount(dir.Path()), 1u);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(AtomicFile, FailedWriteKeepsThePreviousFileWhole) {
    TempDir dir;
    const std::string path = dir.File("kav.ini");
    TempDir::Write(path, "[varios]\r\npln=4\r\n");
    // A file-size limit makes the write fail part-way, as a full disk would.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 8;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string error;
    bool written = win::WriteFileAtomic(path, std::string(1000, 'x'), &error);
    ::setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_FALSE(written);
    EXPECT_NE(error.find(path), std::string::npos);
    EXPECT_EQ(TempDir::Read(path), "[varios]\r\npln=4\r\n");
    EXPECT_EQ(entryCount(dir.Path()), 1u);
}

TEST(AtomicFile, MissingDirectoryFailsWithAnError) {
    TempDir dir;
    std::string error;
    EXPECT_FALSE(win::WriteFileAtomic(dir.File("no/such/file"), "x", &error));
    EXPECT_FALSE(error.empty());
}

TEST(AtomicFile, WritingThroughASymlinkReplacesItsTarget) {
    TempDir dir;
    TempDir::Write(dir.File("real.ini"), "a");
    std::filesystem::create_symlink(dir.File("real.ini"), dir.File("link.ini"));
    ASSERT_TRUE(win::WriteFileAtomic(dir.File("link.ini"), "b"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.File("link.ini")));
    EXPECT_EQ(TempDir::Read(dir.File("real.ini")), "b");
}

TEST(ReadWholeFile, ReadsBytesAndRefusesDirectoriesAndMissingFiles) {
    TempDir dir;
    TempDir::Write(dir.File("f"), std::string("a\r\n\0b", 5));
    std::string text, error;
    ASSERT_TRUE(win::ReadWholeFile(dir.File("f"), text));
    EXPECT_EQ(text, std::string("a\r\n\0b", 5));
    EXPECT_FALSE(win::ReadWholeFile(dir.Path().string(), text, &error));
    EXPECT_FALSE(win::ReadWholeFile(dir.File("missing"), text, &error));
    EXPECT_FALSE(error.empty());
}

// Whether a write could replace the file, asked of each kind of target; the
// answer is the write's own, and the question leaves nothing behind.
TEST(CanReplaceFile, AnswersAsTheWriteWouldAndLeavesNothing) {
    TempDir dir;
    TempDir::Write(dir.File("file.ini"), "x");
    std::filesystem::create_directories(dir.File("dir.m3u/inside"));
    struct Case {
        std::string path;
        bool replaceable;
    };
    for (const Case& c : {Case{dir.File("file.ini"), true}, Case{dir.File("new.m3u"), true},
                          Case{dir.File("dir.m3u"), false}, Case{dir.File("no/such.ini"), false}}) {
        std::string error;
        EXPECT_EQ(win::CanReplaceFile(c.path, &error), c.replaceable) << c.path;
        EXPECT_EQ(win::WriteFileAtomic(c.path, "y"), c.replaceable) << c.path;
        EXPECT_TRUE(c.replaceable || error.find(c.path) != std::string::npos) << error;
    }
    EXPECT_EQ(entryCount(dir.Path()), 3u);  // file.ini, new.m3u, dir.m3u
}

// Temporary files of killed writes go; those of a copy of this program that
// still runs, and files not named as temporaries of that target, stay.
TEST(RemoveLeftoverTemporaries, RemovesOnlyWhatKilledWritesLeft) {
    TempDir dir;
    const pid_t running = ::fork();  // this same program, alive until told
    if (running == 0) {
        ::pause();
        ::_exit(0);
    }
    const std::string target = dir.File("pl.m3u");
    const std::vector<std::string> gone = {
        "pl.m3u.tmp.999999999.1",                           // no such process
        "pl.m3u.tmp.1.12",                                  // another program
        "pl.m3u.tmp." + std::to_string(::getpid()) + ".3",  // an earlier process of this number
    };
    const std::vector<std::string> kept = {
        "pl.m3u.tmp." + std::to_string(running) + ".2",  // a running copy writing now
        "pl.m3u",
        "pl.m3u.tmp.x.1",
        "pl.m3u.tmp.5",
        "pl.m3u.tmp.5.x",
        "kav.ini.tmp.999999999.1",
        "apl.m3u.tmp.999999999.1"};
    for (const auto& names : {gone, kept})
        for (const std::string& name : names) TempDir::Write(dir.File(name), "x");
    EXPECT_EQ(win::RemoveLeftoverTemporaries(target), int(gone.size()));
    ::kill(running, SIGKILL);
    ::waitpid(running, nullptr, 0);
    for (const std::string& name : gone)
        EXPECT_FALSE(std::filesystem::exists(dir.File(name))) << name;
    for (const std::string& name : kept)
        EXPECT_TRUE(std::filesystem::exists(dir.File(name))) << name;
}

}  // namespace
