// How often the library's threads wake: with nothing playing they sleep until
// something starts; playing, they wake about as often as the output takes a
// period, not on timers of their own.
#include <dirent.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "Fixtures.h"
#include "Session.h"

using namespace bass_test;
using namespace std::chrono_literals;

namespace {

// Times any thread of this process went to sleep, all threads together.
long long voluntarySwitches() {
    long long total = 0;
    DIR* dir = ::opendir("/proc/self/task");
    if (!dir) return -1;
    while (const dirent* e = ::readdir(dir)) {
        if (e->d_name[0] == '.') continue;
        std::ifstream status(std::string("/proc/self/task/") + e->d_name + "/status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
                total += std::atoll(line.c_str() + line.find(':') + 1);
    }
    ::closedir(dir);
    return total;
}

// Wake-ups of the whole process over one second.
long long wakeupsInASecond() {
    const long long before = voluntarySwitches();
    std::this_thread::sleep_for(1000ms);
    return voluntarySwitches() - before;
}

// The null output as the program uses it: paced, nothing captured.
class Wakeups : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(bindLibraries());
        ::unsetenv("KAV_CAPTURE_WAV");
        ASSERT_TRUE(BASS_Init(nullDevice(), 44100, 0, nullptr, nullptr));
    }
    void TearDown() override { BASS_Free(); }
};

}  // namespace

TEST_F(Wakeups, IdleLibrarySleeps) {
    std::this_thread::sleep_for(200ms);
    EXPECT_LT(wakeupsInASecond(), 40);
}

// The null output takes 100 periods a second; the rest must stay well below.
TEST_F(Wakeups, PlayingWakesAboutOncePerOutputPeriod) {
    const std::string mp3 = encode(makeToneWav("wake.wav", 4, 440), "mp3");
    ASSERT_FALSE(mp3.empty());
    const DWORD h = BASS_StreamCreateFile(FALSE, mp3.c_str(), 0, 0, 0);
    ASSERT_NE(h, 0u);
    ASSERT_TRUE(BASS_StreamPlay(h, FALSE, 0));
    std::this_thread::sleep_for(300ms);
    EXPECT_LT(wakeupsInASecond(), 200);
    EXPECT_EQ(BASS_ChannelIsActive(h), static_cast<DWORD>(BASS_ACTIVE_PLAYING));
    BASS_StreamFree(h);
}
