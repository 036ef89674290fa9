// The null output's capture file stays readable when the process is killed.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <thread>

#include "Fixtures.h"
#include "Session.h"
#include "tests/support/Capture.h"

using namespace bass_test;
using namespace std::chrono_literals;

namespace {

long long fileSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

uint32_t le32At(const std::string& path, std::streamoff at) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(at);
    unsigned char b[4] = {};
    in.read(reinterpret_cast<char*>(b), 4);
    return b[0] | b[1] << 8 | b[2] << 16 | uint32_t(b[3]) << 24;
}

}  // namespace

TEST(Capture, KilledProcessLeavesAReadableFile) {
    const std::string wav = makeToneWav("kill.wav", 5.0, 440);
    const std::string capture = workDir() + "/killed.wav";
    const std::string tool = binDir() + "/basstool";
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::setenv("KAV_CAPTURE_WAV", capture.c_str(), 1);
        ::execl(tool.c_str(), "basstool", "-d", "0", "play", wav.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // Half a second of sound, then no chance to finish the file.
    const bool grew = waitFor([&] { return fileSize(capture) > 44 + 88200; }, 5000ms);
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(grew);
    ASSERT_TRUE(WIFSIGNALED(status));

    const long long size = fileSize(capture);
    const uint32_t data = le32At(capture, 40);
    // The header trails the data by at most the one block being written.
    EXPECT_LE(data, size - 44);
    EXPECT_GE(data, size - 44 - 1764);
    EXPECT_EQ(le32At(capture, 4), data + 36);
    Capture c;
    ASSERT_TRUE(c.load(capture));
    EXPECT_EQ(c.rate, 44100u);
    auto segs = segments(c.left, 1000, 441);
    ASSERT_FALSE(segs.empty());
    EXPECT_NEAR(toneFrequency(c.left, segs[0].begin, segs[0].end, c.rate), 440, 5);
}
