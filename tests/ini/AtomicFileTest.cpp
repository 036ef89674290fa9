#include "platform/win/AtomicFile.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

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

}  // namespace
