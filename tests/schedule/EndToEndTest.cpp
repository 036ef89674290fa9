// The built program left alone: a programme time interrupts the playlist with
// a fade, a chained entry follows, and the playlist goes on after the track
// that was cut; what the null output played is checked in its capture.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>

#include "CaptureAnalysis.h"
#include "ProgramRun.h"
#include "platform/win/IniFile.h"

using namespace std::chrono_literals;

namespace {

constexpr int kKick = 1500, kTrackA = 400, kTrackB = 600, kTrackC = 800;
constexpr int kFirst = 1000, kSecond = 1200;
constexpr int kFadeMs = 800;

// The tones heard, in order, without the slivers where one sound gives way
// to the next.
std::vector<capture::Tone> Heard(const std::vector<capture::Frame>& frames) {
    std::vector<capture::Tone> heard;
    for (const capture::Tone& t :
         capture::Tones(frames, {kKick, kTrackA, kTrackB, kTrackC, kFirst, kSecond}))
        if (t.Length() >= 0.06) heard.push_back(t);
    return heard;
}

TEST(EndToEndTest, AProgrammeTimeFadesThePlaylistOutAndThePlaylistGoesOnAfterTheCutTrack) {
    e2e::ProgramRun run;
    const std::uint32_t now = e2e::LocalTimeOfDayMs();
    if (now > 86'340'000u) GTEST_SKIP() << "too close to midnight for a run of programme times";
    // The first time starts the playlist (the track after the marked row);
    // the second interrupts it and is chained to a third.
    const std::uint32_t kickAt = (now / 1000 + 3) * 1000;
    const std::uint32_t firstAt = kickAt + 2000;
    const std::vector<std::string> tones = {
        run.Tone("a.wav", 3, kTrackA),    run.Tone("b.wav", 2, kTrackB),
        run.Tone("c.wav", 2, kTrackC),    run.Tone("kick.wav", 0.5, kKick),
        run.Tone("first.wav", 1, kFirst), run.Tone("second.wav", 1, kSecond)};
    for (const std::string& t : tones) ASSERT_FALSE(t.empty()) << "sox failed";
    run.WriteLines("pl.m3u", {"#EXTM3U", tones[0], tones[1], tones[2]});
    run.WriteLines("prgm.m3u",
                   {"#EXTM3U", "#KAVINF:" + e2e::TimeText(kickAt), tones[3],
                    "#KAVINF:" + e2e::TimeText(firstAt), tones[4], "#KAVINF:...", tones[5]});
    const int device = run.NullDevice();
    ASSERT_GT(device, 0);
    run.WriteLines("kav.ini", {"[varios]", "dev=" + std::to_string(device), "pln=0",
                               "tfade=" + std::to_string(kFadeMs), "volume=255", "repetepl=1",
                               "autobaralhar=0"});

    ASSERT_TRUE(run.Start());
    // Until b.wav has played a while after the chain.
    const std::uint32_t until = firstAt + 900 + 2000 + 1200;
    run.WaitFor(std::chrono::milliseconds(until - e2e::LocalTimeOfDayMs()));
    ASSERT_TRUE(run.Running()) << "the program ended by itself";
    int status = 0;
    ASSERT_TRUE(run.Terminate(10s, status)) << "no end within 10 s of SIGTERM";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;

    // The settings keep the row of the track that played last.
    win::IniFile ini((run.Dir() / "kav.ini").string());
    EXPECT_EQ(ini.ReadInteger("varios", "pln", -1), 2);

    capture::Sound sound;
    std::string error;
    ASSERT_TRUE(capture::ReadWav(run.Capture(), sound, error)) << error;
    const std::vector<capture::Frame> frames = capture::Frames(sound);
    const std::vector<capture::Tone> heard = Heard(frames);
    std::vector<double> order;
    for (const capture::Tone& t : heard) order.push_back(t.frequency);
    ASSERT_EQ(order, (std::vector<double>{kKick, kTrackA, kFirst, kSecond, kTrackB}));

    // a.wav falls in a straight line over the fade time: 95% to 5% of its
    // level takes 90% of it.
    const capture::Fall fall = capture::FadeAtEnd(frames, heard[1]);
    EXPECT_NEAR(fall.end - fall.start, 0.9 * kFadeMs / 1000.0, 0.06);
    EXPECT_LT(fall.worstDeviation, 0.1);
    // Cut at about 1.5 s of its 3 s: the fade did not wait for its end.
    EXPECT_LT(heard[1].Length(), 2.6);
    EXPECT_GT(heard[1].Length(), 1.6);
    // The programme items play whole, one right after the other.
    EXPECT_NEAR(heard[2].Length(), 1.0, 0.06);
    EXPECT_NEAR(heard[3].Length(), 1.0, 0.06);
    EXPECT_LT(heard[2].start - fall.end, 0.5);
    EXPECT_LT(heard[3].start - heard[2].end, 0.3);
    EXPECT_LT(heard[4].start - heard[3].end, 0.3);
}

}  // namespace
