// The built program on the plug-in path, timed from its capture: tracks that
// follow one another without a silent sample, a track
// cut by a time entry that stops when its fade ends, and an entry that comes
// due while a track is being started, which waits for it and fades it.
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

using namespace std::chrono_literals;
using e2e::RunUntil;

namespace {

constexpr int kKick = 1500, kTrackA = 400, kTrackB = 600, kTrackC = 800, kFirst = 1000;
constexpr int kFadeMs = 800;

// The tone as a file of the given extension: "wav" as sox wrote it, "mp3"
// encoded beside it.
std::string AsFile(e2e::ProgramRun& run, const std::string& name, double seconds, int frequency,
                   const std::string& ext) {
    const std::string wav = run.Tone(name + ".wav", seconds, frequency);
    if (wav.empty() || ext == "wav") return wav;
    const std::string mp3 = (run.Dir() / (name + ".mp3")).string();
    const std::string command = "lame --quiet -b 192 '" + wav + "' '" + mp3 + "'";
    return std::system(command.c_str()) == 0 ? mp3 : "";
}

// The settings on the null output, the lists, and the kick (a tone of
// kickSeconds from the programme list) that starts the playlist at its
// first row at the start of the second after next.
std::uint32_t KickOff(e2e::ProgramRun& run, const std::vector<std::string>& playlist,
                      std::vector<std::string> programme, double kickSeconds = 0.5) {
    const std::uint32_t kickAt = (e2e::LocalTimeOfDayMs() / 1000 + 2) * 1000;
    std::vector<std::string> list = {"#EXTM3U"};
    list.insert(list.end(), playlist.begin(), playlist.end());
    run.WriteLines("pl.m3u", list);
    programme.insert(programme.begin(), {"#EXTM3U", "#KAVINF:" + e2e::TimeText(kickAt),
                                         run.Tone("kick.wav", kickSeconds, kKick)});
    run.WriteLines("prgm.m3u", programme);
    run.WriteLines("kav.ini",
                   {"[varios]", "dev=" + std::to_string(run.NullDevice()), "pln=0", "volume=255",
                    "repetepl=0", "autobaralhar=0", "tfade=" + std::to_string(kFadeMs)});
    return kickAt;
}

// The tones heard, in order, without the slivers where one gives way to the
// next.
std::vector<capture::Tone> Heard(const capture::Sound& sound) {
    std::vector<capture::Tone> heard;
    for (const capture::Tone& t :
         capture::Tones(capture::Frames(sound), {kKick, kTrackA, kTrackB, kTrackC, kFirst}))
        if (t.Length() >= 0.06) heard.push_back(t);
    return heard;
}

std::vector<double> Order(const std::vector<capture::Tone>& heard) {
    std::vector<double> order;
    for (const capture::Tone& t : heard) order.push_back(t.frequency);
    return order;
}

// The first sample at or after `from` s louder than the level.
double Onset(const capture::Sound& sound, double from, float level = 0.05f) {
    for (size_t i = size_t(std::max(0.0, from) * sound.rate); i < sound.samples.size(); ++i)
        if (std::fabs(sound.samples[i]) > level) return double(i) / sound.rate;
    return -1;
}

// The last sample before `to` s that is not silence (a 16-bit zero).
double LastSound(const capture::Sound& sound, double to) {
    for (size_t i = std::min(sound.samples.size(), size_t(to * sound.rate)); i > 0; --i)
        if (std::fabs(sound.samples[i - 1]) > 0.5f / 32768) return double(i) / sound.rate;
    return -1;
}

// The longest run of silence, in seconds, between from and to: samples no
// louder than a thousandth of full scale, where a tone at half of it passes
// only as it crosses zero (one sample, at most two).
double LongestSilence(const capture::Sound& sound, double from, double to) {
    size_t longest = 0, run = 0;
    for (size_t i = size_t(from * sound.rate); i < size_t(to * sound.rate); ++i) {
        run = std::fabs(sound.samples[i]) <= 0.001f ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    return longest > 2 ? double(longest) / sound.rate : 0;
}

// The fade at the end of a tone: the straight line through its level (5 ms
// frames) between 80% and 20% of its full level, from where it leaves that
// level to where it reaches silence. Empty when the level does not fall so.
struct Fade {
    double start = 0, end = 0;
};
Fade FadeAtEnd(const capture::Sound& sound, const capture::Tone& tone) {
    const std::vector<capture::Frame> frames = capture::Frames(sound, 0.005);
    std::vector<double> levels;
    for (const capture::Frame& f : frames)
        if (f.start >= tone.start && f.start < tone.end) levels.push_back(f.rms);
    if (levels.empty()) return {};
    // Its full level: the fade may take most of what is heard of it.
    const auto high = levels.begin() + long(levels.size() * 9 / 10);
    std::nth_element(levels.begin(), high, levels.end());
    const double level = *high;
    double n = 0, st = 0, sr = 0, stt = 0, str = 0;
    for (const capture::Frame& f : frames) {
        if (f.start < tone.start || f.start > tone.end + 0.1) continue;
        if (f.rms >= 0.95 * level) n = st = sr = stt = str = 0;  // the fall starts after
        if (f.rms > 0.8 * level || f.rms < 0.2 * level) continue;
        const double t = f.start + 0.0025;
        n += 1, st += t, sr += f.rms, stt += t * t, str += t * f.rms;
    }
    if (n < 3) return {};
    const double slope = (n * str - st * sr) / (n * stt - st * st);
    if (slope >= 0) return {};
    const double t = st / n, r = sr / n;
    return {t + (level - r) / slope, t - r / slope};
}

// Five MP3 tracks in a row on the plug-in path, of lengths that end at
// different places of an output period, after the programme's kick: between
// the kick's first sound and the last track's last, not a silent sample, and
// not one too many. Each track's output is queued
// behind the last sample of the one before it, which drains while the next
// one's plug-in has started.
TEST(OnTimeTest, Mp3TracksOnThePluginPathJoinWithoutASilentSample) {
    e2e::ProgramRun run;
    if (e2e::LocalTimeOfDayMs() > 86'340'000u) GTEST_SKIP() << "too close to midnight";
    std::vector<std::string> tracks;
    const int pitches[] = {kTrackA, kTrackB, kTrackC, kTrackA, kTrackB};
    const double lengths[] = {1.0, 1.0031, 0.9957, 1.0068, 1.0011};
    for (int i = 0; i < 5; ++i)
        tracks.push_back(AsFile(run, "t" + std::to_string(i), lengths[i], pitches[i], "mp3"));
    for (const std::string& t : tracks) ASSERT_FALSE(t.empty()) << "encoding failed";
    const std::uint32_t kickAt = KickOff(run, tracks, {});
    capture::Sound sound;
    RunUntil(run, kickAt + 500 + 5000 + 1500, sound);
    if (HasFatalFailure()) return;

    const std::vector<capture::Tone> heard = Heard(sound);
    ASSERT_EQ(Order(heard),
              (std::vector<double>{kKick, kTrackA, kTrackB, kTrackC, kTrackA, kTrackB}));
    // The kick (a WAV, on the plug-in path too) is followed the same way.
    const double first = Onset(sound, heard[0].start - 0.03);
    const double last = LastSound(sound, sound.Seconds());
    EXPECT_NEAR(last - first, 0.5 + 5.0067, 0.002) << "the kick and the playlist's length";
    const double silence = LongestSilence(sound, first, last);
    std::cout << "longest silence between the tracks: " << silence * 1000 << " ms\n";
    EXPECT_EQ(silence, 0);
}

// A playlist track on the plug-in path cut by a time entry: its last sound
// comes within 15 ms of the end of its fade (the fade's last step is heard
// until the stop), and the entry follows.
TEST(OnTimeTest, APluginTrackCutByATimeEntryStopsWhenItsFadeEnds) {
    for (const std::string ext : {"wav", "mp3"}) {
        SCOPED_TRACE(ext);
        e2e::ProgramRun run;
        if (e2e::LocalTimeOfDayMs() > 86'340'000u) GTEST_SKIP() << "too close to midnight";
        const std::string a = AsFile(run, "a", 5, kTrackA, ext);
        const std::string first = run.Tone("first.wav", 1, kFirst);
        ASSERT_FALSE(a.empty()) << "encoding failed";
        // a plays from half a second after the kick; the entry cuts it at 2.5 s.
        const std::uint32_t entryAt = (e2e::LocalTimeOfDayMs() / 1000 + 2) * 1000 + 3000;
        const std::uint32_t kickAt =
            KickOff(run, {a}, {"#KAVINF:" + e2e::TimeText(entryAt), first});
        ASSERT_EQ(kickAt + 3000, entryAt) << "a second turned while the lists were written";
        capture::Sound sound;
        RunUntil(run, entryAt + kFadeMs + 100 + 1500, sound);
        if (HasFatalFailure()) return;

        const std::vector<capture::Tone> heard = Heard(sound);
        ASSERT_EQ(Order(heard), (std::vector<double>{kKick, kTrackA, kFirst}));
        const Fade fade = FadeAtEnd(sound, heard[1]);
        ASSERT_GT(fade.end, fade.start) << "a was not faded";
        EXPECT_NEAR(fade.end - fade.start, kFadeMs / 1000.0, 0.04);
        const double fadeEnd = fade.end;
        const double entry = Onset(sound, heard[2].start - 0.03);
        const double stop = LastSound(sound, entry - 0.005);
        std::cout << ext << ": stopped " << (stop - fadeEnd) * 1000
                  << " ms after the fade's end, the entry sounds " << (entry - stop) * 1000
                  << " ms after the stop\n";
        EXPECT_NEAR(stop, fadeEnd, 0.015);
        EXPECT_GT(entry, stop);
    }
}

// The entry comes due while the playlist's WAV track is being started (the
// kick before it ends just before the entry's time, and the plug-in's start
// waits for 200 ms of output): it waits for the start, then fades the track
// over the whole fade time; the track is not heard at full level and cut.
TEST(OnTimeTest, AnEntryDueWhileAPluginTrackStartsFadesItOnceStarted) {
    e2e::ProgramRun run;
    if (e2e::LocalTimeOfDayMs() > 86'340'000u) GTEST_SKIP() << "too close to midnight";
    const std::string a = run.Tone("a.wav", 4, kTrackA);
    const std::string first = run.Tone("first.wav", 1, kFirst);
    const std::uint32_t entryAt = (e2e::LocalTimeOfDayMs() / 1000 + 2) * 1000 + 1000;
    const std::uint32_t kickAt =
        KickOff(run, {a}, {"#KAVINF:" + e2e::TimeText(entryAt), first}, 0.92);
    ASSERT_EQ(kickAt + 1000, entryAt) << "a second turned while the lists were written";
    capture::Sound sound;
    RunUntil(run, entryAt + 500 + kFadeMs + 100 + 1500, sound);
    if (HasFatalFailure()) return;

    const std::vector<capture::Tone> heard = Heard(sound);
    ASSERT_EQ(Order(heard), (std::vector<double>{kKick, kTrackA, kFirst}));
    // a's start began shortly before the entry's time (the kick sounded
    // within milliseconds of its own), so the entry came due inside it.
    const double due = Onset(sound, heard[0].start - 0.03) + 1.0;
    std::cout << "a starts " << (heard[1].start - due) * 1000 << " ms from the entry's time\n";
    ASSERT_LT(heard[1].start, due) << "a started after the entry's time";
    ASSERT_GT(heard[1].start, due - 0.2) << "a's start was over before the entry's time";
    const Fade fade = FadeAtEnd(sound, heard[1]);
    ASSERT_GT(fade.end, fade.start) << "a was not faded";
    std::cout << "a's fade from " << fade.start << " s to " << fade.end << " s\n";
    EXPECT_NEAR(fade.end - fade.start, kFadeMs / 1000.0, 0.04);
    EXPECT_GE(fade.start, heard[1].start);
    // Faded to its last step before the stop: nothing of it ends loud.
    const double stop = LastSound(sound, Onset(sound, heard[2].start - 0.03) - 0.005);
    EXPECT_NEAR(stop, fade.end, 0.015);
}

}  // namespace
