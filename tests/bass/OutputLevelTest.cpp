// BASS_GetOutputLevel: the level of what the null output took, after the
// master volume, and the frames it took, read as the engine reads it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "Fixtures.h"
#include "Session.h"

using namespace bass_test;
using namespace std::chrono_literals;

namespace {

// The reading over the next stretch of play.
BASS_OUTPUTLEVEL LevelOver(std::chrono::milliseconds stretch) {
    BASS_OUTPUTLEVEL level{};
    BASS_GetOutputLevel(&level);
    std::this_thread::sleep_for(stretch);
    EXPECT_TRUE(BASS_GetOutputLevel(&level));
    return level;
}

TEST(OutputLevel, WhatTheOutputTookAfterTheVolume) {
    ASSERT_TRUE(bindLibraries());
    BASS_OUTPUTLEVEL level{};
    EXPECT_FALSE(BASS_GetOutputLevel(&level));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);

    const std::string wav = makeToneWav("level.wav", 3.0, 440);  // peak -6 dBFS
    Session s("level");
    ASSERT_TRUE(s.ok());
    EXPECT_FALSE(BASS_GetOutputLevel(nullptr));
    const BASS_OUTPUTLEVEL idle = LevelOver(300ms);
    EXPECT_EQ(idle.loudest, -200.0f) << "the capture holds the silence: measured, and silent";

    const DWORD h = BASS_StreamCreateFile(FALSE, wav.c_str(), 0, 0, 0);
    ASSERT_NE(h, 0u);
    ASSERT_TRUE(BASS_StreamPlay(h, FALSE, 0));
    ASSERT_TRUE(waitFor([&] { return positionSeconds(h) >= 0.2; }, 3000ms));
    const BASS_OUTPUTLEVEL full = LevelOver(500ms);
    EXPECT_NEAR(full.loudest, -9.0, 0.3);
    // Real-time pace: half a second is about 22050 frames, loaded machine or not.
    EXPECT_GT(full.frames, 11025u);
    EXPECT_LT(full.frames, 66150u);

    BASS_SetConfig(BASS_CONFIG_GVOL_STREAM, 26);  // about -20 dB
    LevelOver(50ms);                              // the blocks mixed before the change
    const BASS_OUTPUTLEVEL low = LevelOver(400ms);
    EXPECT_NEAR(low.loudest, -9.0 + 20 * std::log10(26.0 / 255.0), 0.5);
    BASS_ChannelStop(h);
    BASS_StreamFree(h);
}

}  // namespace

namespace {

// The output closed and opened again in the same process goes on writing the
// capture it began: nothing heard before the reopen is lost from it.
TEST(OutputLevel, ACaptureGoesOnOverAReopen) {
    ASSERT_TRUE(bindLibraries());
    const std::string capture = workDir() + "/reopened.wav";
    const std::string wav = makeToneWav("reopen.wav", 0.5, 440);
    ::setenv("KAV_CAPTURE_WAV", capture.c_str(), 1);
    std::uintmax_t before = 0;
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(BASS_Init(nullDevice(), 44100, 0, nullptr, nullptr));
        const DWORD h = BASS_StreamCreateFile(FALSE, wav.c_str(), 0, 0, 0);
        ASSERT_TRUE(BASS_StreamPlay(h, FALSE, 0));
        ASSERT_TRUE(
            waitFor([&] { return BASS_ChannelIsActive(h) != BASS_ACTIVE_PLAYING; }, 5000ms));
        BASS_Free();
        const std::uintmax_t size = std::filesystem::file_size(capture);
        EXPECT_GT(size, before + 4 * 22050) << "round " << round;
        before = size;
    }
    ::unsetenv("KAV_CAPTURE_WAV");
}

}  // namespace
