// The library's taps (BASS_TapCreate and its kin) as a reader outside the
// library uses them: exactly what the null output took, the capture's
// samples one for one; a tap that outlives BASS_Free; an idle output that
// runs on for a tap; a reader that falls behind loses audio, counted.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "Fixtures.h"
#include "Session.h"
#include "tests/support/Capture.h"

using namespace bass_test;
using namespace std::chrono_literals;

namespace {

// Everything the tap holds now, interleaved.
std::vector<int16_t> ReadAll(HTAP tap) {
    std::vector<int16_t> all, piece(4096 * 2);
    for (DWORD got; (got = BASS_TapRead(tap, piece.data(), DWORD(piece.size() * 2))) > 0;) {
        EXPECT_NE(got, 0xFFFFFFFFu);
        if (got == 0xFFFFFFFFu) break;
        all.insert(all.end(), piece.begin(), piece.begin() + got / 2);
    }
    return all;
}

size_t FirstLoud(const std::vector<int16_t>& x, size_t step) {
    for (size_t i = 0; i < x.size(); i += step)
        if (std::abs(x[i]) > 1000) return i / step;
    return x.size();
}

void PlayTone(const std::string& name, double seconds) {
    const std::string wav = makeToneWav(name, seconds, 660);
    const DWORD h = BASS_StreamCreateFile(FALSE, wav.c_str(), 0, 0, 0);
    ASSERT_NE(h, 0u);
    ASSERT_TRUE(BASS_StreamPlay(h, FALSE, 0));
    ASSERT_TRUE(waitFor([&] { return BASS_ChannelIsActive(h) == BASS_ACTIVE_STOPPED; }, 5000ms));
    BASS_StreamFree(h);
}

TEST(OutputTap, GivesWhatTheOutputTookSampleForSample) {
    ASSERT_TRUE(bindLibraries());
    EXPECT_EQ(BASS_TapCreate(50), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLPARAM);
    Session s("tap");
    ASSERT_TRUE(s.ok());
    const HTAP tap = BASS_TapCreate(5000);
    ASSERT_NE(tap, 0u);
    PlayTone("tap.wav", 1.0);
    s.close();

    const std::vector<int16_t> tapped = ReadAll(tap);
    Capture c;
    ASSERT_TRUE(c.load(s.capturePath()));
    // The capture began before the tap: the tap is its last stretch exactly.
    const size_t frames = tapped.size() / 2;
    ASSERT_GT(frames, 44100u);
    ASSERT_LE(frames, c.frames());
    const size_t offset = c.frames() - frames;
    for (size_t i = 0; i < frames; ++i) {
        ASSERT_EQ(tapped[2 * i], c.left[offset + i]) << "frame " << i;
        ASSERT_EQ(tapped[2 * i + 1], c.right[offset + i]) << "frame " << i;
    }
    EXPECT_LT(FirstLoud(tapped, 2), frames) << "the tone is in it";
    BASS_TAPINFO info{};
    ASSERT_TRUE(BASS_TapGetInfo(tap, &info));
    EXPECT_EQ(info.freq, 44100u);
    EXPECT_EQ(info.chans, 2u);
    EXPECT_EQ(info.lost, 0u);

    // The tap outlives the device: a new one feeds it again.
    Session again("tap-again");
    ASSERT_TRUE(again.ok());
    PlayTone("tap2.wav", 0.3);
    again.close();
    EXPECT_GT(ReadAll(tap).size() / 2, 0.3 * 44100);

    EXPECT_TRUE(BASS_TapFree(tap));
    int16_t one[2];
    EXPECT_EQ(BASS_TapRead(tap, one, 4), 0xFFFFFFFFu);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
    EXPECT_FALSE(BASS_TapFree(tap));
}

// Without a capture an idle null output sleeps; a tap wants the silence
// too (a stream goes on while nothing plays), at real-time pace. A reader
// that does not keep up loses what does not fit, and the count says so.
TEST(OutputTap, AnIdleOutputRunsOnForATapAndASlowReaderLosesAudio) {
    ASSERT_TRUE(bindLibraries());
    ASSERT_TRUE(BASS_Init(nullDevice(), 44100, 0, nullptr, nullptr));
    std::this_thread::sleep_for(100ms);  // idle by now
    const HTAP tap = BASS_TapCreate(200);
    ASSERT_NE(tap, 0u);
    std::this_thread::sleep_for(150ms);
    ReadAll(tap);
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(100ms);
    const std::vector<int16_t> silence = ReadAll(tap);
    const double seconds = secondsSince(start);
    EXPECT_NEAR(silence.size() / 2.0, seconds * 44100, 0.05 * 44100) << "real-time pace";
    EXPECT_TRUE(std::all_of(silence.begin(), silence.end(), [](int16_t v) { return v == 0; }));

    std::this_thread::sleep_for(700ms);  // far more than the tap holds
    const size_t kept = ReadAll(tap).size() / 2;
    BASS_TAPINFO info{};
    ASSERT_TRUE(BASS_TapGetInfo(tap, &info));
    EXPECT_LE(kept, 16384u);  // 200 ms, rounded up to a power of two
    EXPECT_GT(info.lost, 0.3 * 44100);
    EXPECT_TRUE(BASS_TapFree(tap));
    BASS_Free();
}

}  // namespace
