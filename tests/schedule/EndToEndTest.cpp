// The built program left alone: a programme time interrupts the playlist with
// a fade, a chained entry follows, and the playlist goes on after the track
// that was cut; what the null output played is checked in its capture.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "CaptureAnalysis.h"
#include "ProgramRun.h"
#include "RunUntil.h"
#include "platform/win/IniFile.h"

using namespace std::chrono_literals;
using e2e::RunUntil;

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

std::vector<double> Order(const std::vector<capture::Tone>& heard) {
    std::vector<double> order;
    for (const capture::Tone& t : heard) order.push_back(t.frequency);
    return order;
}

// The same tone encoded beside it: ext is "ogg" or "wma".
std::string Encoded(const std::string& wav, const std::string& ext) {
    const std::string out = wav.substr(0, wav.rfind('.')) + "." + ext;
    const std::string command = ext == "ogg" ? "oggenc -Q '" + wav + "' -o '" + out + "'"
                                             : "ffmpeg -hide_banner -loglevel error -y -i '" + wav +
                                                   "' -c:a wmav2 '" + out + "'";
    return !wav.empty() && std::system(command.c_str()) == 0 ? out : "";
}

// The first sample at or after the given second louder than the level.
double Onset(const capture::Sound& sound, double from, float level = 0.05f) {
    for (size_t i = size_t(std::max(0.0, from) * sound.rate); i < sound.samples.size(); ++i)
        if (std::fabs(sound.samples[i]) > level) return double(i) / sound.rate;
    return -1;
}

// Playlist tracks in Ogg Vorbis and WMA, one after the other: each starts on
// the sample after the previous one's last, so between the first sound of
// the playlist and its last there is no digital silence (but for the lone
// zero where a wave crosses it).
TEST(EndToEndTest, ConsecutiveOggAndWmaTracksJoinWithoutASilentSample) {
    e2e::ProgramRun run;
    const std::uint32_t now = e2e::LocalTimeOfDayMs();
    if (now > 86'340'000u) GTEST_SKIP() << "too close to midnight for a run of programme times";
    const std::uint32_t kickAt = (now / 1000 + 3) * 1000;
    const std::vector<std::string> tracks = {Encoded(run.Tone("a.wav", 1.5, kTrackA), "ogg"),
                                             Encoded(run.Tone("b.wav", 1.0, kTrackB), "wma"),
                                             Encoded(run.Tone("c.wav", 1.25, kTrackC), "ogg"),
                                             Encoded(run.Tone("d.wav", 1.0, kTrackA), "ogg"),
                                             Encoded(run.Tone("e.wav", 1.0, kTrackB), "wma")};
    for (const std::string& t : tracks) ASSERT_FALSE(t.empty()) << "encoding failed";
    const std::string kick = run.Tone("kick.wav", 0.5, kKick);
    std::vector<std::string> playlist = {"#EXTM3U"};
    playlist.insert(playlist.end(), tracks.begin(), tracks.end());
    run.WriteLines("pl.m3u", playlist);
    run.WriteLines("prgm.m3u", {"#EXTM3U", "#KAVINF:" + e2e::TimeText(kickAt), kick});
    const int device = run.NullDevice();
    ASSERT_GT(device, 0);
    run.WriteLines("kav.ini", {"[varios]", "dev=" + std::to_string(device), "pln=0", "volume=255",
                               "repetepl=0", "autobaralhar=0"});
    capture::Sound sound;
    RunUntil(run, kickAt + 500 + 5750 + 1500, sound);
    if (HasFatalFailure()) return;

    const std::vector<capture::Tone> heard = Heard(capture::Frames(sound));
    std::vector<double> order;
    for (const capture::Tone& t : heard) order.push_back(t.frequency);
    ASSERT_EQ(order, (std::vector<double>{kKick, kTrackA, kTrackB, kTrackC, kTrackA, kTrackB}));
    // From inside the first track: the programme item before it is not
    // opened ahead, only the track after a playing track is.
    const size_t first = size_t((heard[1].start + 0.02) * sound.rate);
    size_t last = sound.samples.size();
    while (last > first && sound.samples[last - 1] == 0) --last;
    EXPECT_NEAR(double(last - first) / sound.rate, 5.73, 0.1) << "the playlist's length";
    size_t silent = 0, firstSilent = 0;
    for (size_t i = first + 1; i + 1 < last; ++i) {
        if (sound.samples[i] != 0) continue;
        const bool crossing = (sound.samples[i - 1] < 0) != (sound.samples[i + 1] < 0);
        if (crossing && sound.samples[i + 1] != 0) continue;
        if (silent++ == 0) firstSilent = i;
    }
    for (const capture::Tone& t : heard) std::cout << t.frequency << " from " << t.start << "\n";
    EXPECT_EQ(silent, 0u) << "the first at " << double(firstSilent) / sound.rate << " s";
}

// When the capture's first sample was mixed, as a local time of day in ms:
// the null output mixes a period at a time at real-time pace, so each sample
// of the capture's growth bounds it from above, once the period in hand is
// counted; the closest bound is taken.
double CaptureStartTimeOfDay(const e2e::ProgramRun& run) {
    return run.StartTimeOfDay() + (run.CaptureStart() + 0.010) * 1000;
}

// With the punctual start the fade before a time entry begins early, so that
// the entry's first sound comes at its due time, on the plug-in path (WAV)
// and on the library's (Ogg Vorbis). Without it the entry would sound the
// fade, its pause and an open later (about a second).
TEST(EndToEndTest, APunctualTimeEntrySoundsNearItsDueTime) {
    for (const std::string ext : {"wav", "ogg"}) {
        SCOPED_TRACE(ext);
        e2e::ProgramRun run;
        const std::uint32_t now = e2e::LocalTimeOfDayMs();
        if (now > 86'340'000u) GTEST_SKIP() << "too close to midnight";
        const std::uint32_t kickAt = (now / 1000 + 3) * 1000;
        const std::uint32_t firstAt = kickAt + 3000;
        const std::string a = run.Tone("a.wav", 6, kTrackA);
        std::string kick = run.Tone("kick.wav", 0.5, kKick);
        std::string first = run.Tone("first.wav", 1, kFirst);
        if (ext == "ogg") kick = Encoded(kick, ext), first = Encoded(first, ext);
        for (const std::string& t : {a, kick, first}) ASSERT_FALSE(t.empty()) << "encoding failed";
        run.WriteLines("pl.m3u", {"#EXTM3U", a});
        run.WriteLines("prgm.m3u", {"#EXTM3U", "#KAVINF:" + e2e::TimeText(kickAt), kick,
                                    "#KAVINF:" + e2e::TimeText(firstAt), first});
        const int device = run.NullDevice();
        ASSERT_GT(device, 0);
        run.WriteLines("kav.ini", {"[varios]", "dev=" + std::to_string(device), "pln=0",
                                   "tfade=" + std::to_string(kFadeMs), "volume=255", "repetepl=0",
                                   "autobaralhar=0", "[estacao]", "pontual=1"});
        capture::Sound sound;
        RunUntil(run, firstAt + 1500, sound);
        if (HasFatalFailure()) return;

        const std::vector<capture::Tone> heard = Heard(capture::Frames(sound));
        ASSERT_EQ(Order(heard), (std::vector<double>{kKick, kTrackA, kFirst}));
        const double captureStart = CaptureStartTimeOfDay(run);
        const double kickLate = captureStart + Onset(sound, heard[0].start - 0.03) * 1000 - kickAt;
        const double entryLate =
            captureStart + Onset(sound, heard[2].start - 0.03) * 1000 - firstAt;
        std::cout << ext << ": the kick sounds " << kickLate << " ms, the entry " << entryLate
                  << " ms after its time\n";
        EXPECT_NEAR(entryLate, 0, 20);
        // The track was faded out before it, not cut.
        EXPECT_GT(heard[1].end - heard[1].start, 1.0);
    }
}

// The settings on the null output, and the kick that starts the playlist
// (the marked row is the first) three seconds from now.
std::uint32_t KickOff(e2e::ProgramRun& run, const std::vector<std::string>& playlist,
                      std::vector<std::string> programme, const std::string& more = {}) {
    const std::uint32_t kickAt = (e2e::LocalTimeOfDayMs() / 1000 + 3) * 1000;
    std::vector<std::string> list = {"#EXTM3U"};
    list.insert(list.end(), playlist.begin(), playlist.end());
    run.WriteLines("pl.m3u", list);
    programme.insert(programme.begin(), {"#EXTM3U", "#KAVINF:" + e2e::TimeText(kickAt),
                                         run.Tone("kick.wav", 0.5, kKick)});
    run.WriteLines("prgm.m3u", programme);
    std::vector<std::string> ini = {"[varios]",   "dev=" + std::to_string(run.NullDevice()),
                                    "pln=0",      "volume=255",
                                    "repetepl=0", "autobaralhar=0"};
    if (!more.empty()) ini.push_back(more);
    run.WriteLines("kav.ini", ini);
    return kickAt;
}

// The tones of the given pitches, however short, that start before `until`.
size_t HeardBefore(const capture::Sound& sound, int frequency, double until) {
    size_t count = 0;
    for (const capture::Tone& t : capture::Tones(capture::Frames(sound, 0.01), {double(frequency)}))
        if (t.start < until) ++count;
    return count;
}

// No mix of the other tones in one frame reads as the prepared track's pitch.
constexpr int kPrepared = 2400;

// A time entry comes due in the last second of a track, when the track after
// it is already queued to start at its last sample: the track fades, the
// entry plays, and the prepared track is not heard before the entry has
// played; the playlist then goes on with it, the track after the cut one.
TEST(EndToEndTest, ATimeEntryDropsThePreparedNextTrackAndPlaysAfterItsFade) {
    e2e::ProgramRun run;
    if (e2e::LocalTimeOfDayMs() > 86'340'000u) GTEST_SKIP() << "too close to midnight";
    const std::string a = Encoded(run.Tone("a.wav", 4, kTrackA), "ogg");
    const std::string b = Encoded(run.Tone("b.wav", 1.5, kPrepared), "ogg");
    const std::string first = run.Tone("first.wav", 1, kFirst);
    for (const std::string& t : {a, b, first}) ASSERT_FALSE(t.empty()) << "encoding failed";
    // a.ogg plays from half a second after the kick; the entry cuts it 0.2 s
    // before its end.
    std::uint32_t entryAt = (e2e::LocalTimeOfDayMs() / 1000 + 3) * 1000 + 4000;
    const std::uint32_t kickAt =
        KickOff(run, {a, b}, {"#KAVINF:" + e2e::TimeText(entryAt), first}, "tfade=300");
    ASSERT_EQ(kickAt + 4000, entryAt) << "a second turned while the lists were written";
    capture::Sound sound;
    RunUntil(run, entryAt + 300 + 1000 + 2000, sound);
    if (HasFatalFailure()) return;

    const std::vector<capture::Tone> heard = Heard(capture::Frames(sound));
    ASSERT_EQ(Order(heard), (std::vector<double>{kKick, kTrackA, kFirst}));
    const capture::Fall fall = capture::FadeAtEnd(capture::Frames(sound), heard[1]);
    EXPECT_GT(fall.end, fall.start) << "a.ogg was not faded";
    EXPECT_LT(heard[1].Length(), 3.9) << "a.ogg was not cut";
    EXPECT_GE(heard[2].start + 0.02, fall.end);
    EXPECT_EQ(HeardBefore(sound, kPrepared, heard[2].end), 0u);
    EXPECT_EQ(HeardBefore(sound, kPrepared, sound.Seconds()), 1u) << "b.ogg did not follow";
}

// The prepared next track's file is deleted before its turn, once while it
// is only open and once while it is queued behind the playing track: it is
// skipped as a file that fails to open, and the row after it plays.
TEST(EndToEndTest, APreparedNextTrackDeletedBeforeItsTurnIsSkipped) {
    for (const std::uint32_t deleteAfterKick : {1500u, 3000u}) {
        SCOPED_TRACE("deleted " + std::to_string(deleteAfterKick) + " ms after the kick");
        e2e::ProgramRun run;
        if (e2e::LocalTimeOfDayMs() > 86'340'000u) GTEST_SKIP() << "too close to midnight";
        const std::string a = Encoded(run.Tone("a.wav", 3, kTrackA), "ogg");
        const std::string b = Encoded(run.Tone("b.wav", 1, kPrepared), "ogg");
        const std::string c = Encoded(run.Tone("c.wav", 1, kTrackB), "ogg");
        for (const std::string& t : {a, b, c}) ASSERT_FALSE(t.empty()) << "encoding failed";
        const std::uint32_t kickAt = KickOff(run, {a, b, c}, {});
        ASSERT_TRUE(run.Start());
        // a.ogg plays from 0.5 s to 3.5 s after the kick; b.ogg is opened at
        // once, and queued in the last second.
        run.WaitFor(std::chrono::milliseconds(kickAt + deleteAfterKick - e2e::LocalTimeOfDayMs()));
        ASSERT_TRUE(std::filesystem::remove(b));
        run.WaitFor(
            std::chrono::milliseconds(kickAt + 3500 + 1000 + 1500 - e2e::LocalTimeOfDayMs()));
        ASSERT_TRUE(run.Running()) << "the program ended by itself";
        int status = 0;
        ASSERT_TRUE(run.Terminate(10s, status)) << "no end within 10 s of SIGTERM";
        capture::Sound sound;
        std::string error;
        ASSERT_TRUE(capture::ReadWav(run.Capture(), sound, error)) << error;

        const std::vector<capture::Tone> heard = Heard(capture::Frames(sound));
        EXPECT_EQ(Order(heard), (std::vector<double>{kKick, kTrackA, kTrackB}));
        EXPECT_EQ(HeardBefore(sound, kPrepared, sound.Seconds()), 0u);
        win::IniFile ini((run.Dir() / "kav.ini").string());
        EXPECT_EQ(ini.ReadInteger("varios", "pln", -1), 3);
    }
}

// A playlist track on the plug-in path that ends by itself 0.2 s into the
// fade before a time entry: nothing else starts inside the fade, the entry
// follows it, and the playlist then goes on with the next track.
TEST(EndToEndTest, ATrackEndingInsideTheFadeIsFollowedByTheEntryAlone) {
    for (const std::string ext : {"wav", "mp3"}) {
        SCOPED_TRACE(ext);
        e2e::ProgramRun run;
        if (e2e::LocalTimeOfDayMs() > 86'340'000u) GTEST_SKIP() << "too close to midnight";
        // a plays from half a second after the kick, and ends 0.2 s after
        // the entry's time.
        std::string a = run.Tone("a.wav", 3.7, kTrackA);
        if (ext == "mp3") {
            const std::string mp3 = a.substr(0, a.size() - 3) + "mp3";
            ASSERT_EQ(std::system(("lame --quiet -b 128 '" + a + "' '" + mp3 + "'").c_str()), 0);
            a = mp3;
        }
        const std::string b = run.Tone("b.wav", 1, kTrackC);
        const std::string first = run.Tone("first.wav", 1, kFirst);
        const std::uint32_t entryAt = (e2e::LocalTimeOfDayMs() / 1000 + 3) * 1000 + 4000;
        const std::uint32_t kickAt =
            KickOff(run, {a, b}, {"#KAVINF:" + e2e::TimeText(entryAt), first},
                    "tfade=" + std::to_string(kFadeMs));
        ASSERT_EQ(kickAt + 4000, entryAt) << "a second turned while the lists were written";
        capture::Sound sound;
        RunUntil(run, entryAt + kFadeMs + 1000 + 2000, sound);
        if (HasFatalFailure()) return;

        const std::vector<capture::Tone> heard = Heard(capture::Frames(sound));
        ASSERT_EQ(Order(heard), (std::vector<double>{kKick, kTrackA, kFirst, kTrackC}));
        const double kick = Onset(sound, heard[0].start - 0.03);
        const double aEnd = heard[1].end - kick, entry = Onset(sound, heard[2].start - 0.03) - kick;
        std::cout << ext << ": a ends " << aEnd - 4.0 << " s into the fade, the entry sounds "
                  << entry - 4.0 << " s after its time\n";
        EXPECT_EQ(HeardBefore(sound, kTrackC, heard[2].end), 0u);
        // Nothing at all is heard between a's end and the entry.
        for (const capture::Tone& t : capture::Tones(capture::Frames(sound, 0.01),
                                                     {kKick, kTrackA, kTrackB, kTrackC, kFirst}))
            EXPECT_FALSE(t.start > heard[1].end && t.end < heard[2].start)
                << t.frequency << " Hz at " << t.start << " s";
        EXPECT_GE(entry, 4.0 + kFadeMs / 1000.0 - 0.02) << "the entry came inside the fade";
    }
}

}  // namespace
