// The built program with a misbehaving in_wave.dll (a faulty variant of the
// SDK-style test plug-in in its place) left alone: a playlist of good MP3
// tones with WAV files between them, and a programme time that comes while
// the first WAV is being played. Whichever way the plug-in misbehaves (it
// never writes, it never comes back from Play, it posts its end as soon as
// it starts), every good tone and the programme tone play whole, no WAV
// silences the station for more than 6 s, and SIGTERM ends the program
// within 3 s with its files saved, also while the plug-in holds it.
//
// A plug-in whose Play crashes takes the program with it: the test then
// supervises it as a service manager would, starting it again at once each
// time it dies, and it plays by itself at start ([estacao] autoplay=1, no
// programme). After two deaths in a row in that plug-in it is left out, so
// the station stops dying: the silence from the last sound before a crash to
// the first after the restarts is the one that counts.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <iostream>

#include "platform/win/IniFile.h"
#include "tests/schedule/ProgramRun.h"
#include "tests/support/BinDir.h"
#include "tests/support/CaptureAnalysis.h"

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

constexpr int kGood[] = {500, 700, 900};
constexpr double kGoodSeconds = 2.0;
constexpr int kProgrammeTone = 1100;
constexpr double kProgrammeSeconds = 8.0;  // longer than an end's drain may last
constexpr int kWaveTone = 1500;            // the WAV files, when the audio library plays them
constexpr int kPluginTone = 3000;          // what the faulty plug-in plays of any file
constexpr double kLongestSilence = 6.0;
constexpr auto kTermLimit = 3s;

constexpr int kCrashesBeforeLeftOut = 2;
constexpr std::size_t kMostStarts = 6;  // a crash loop that is not broken ends the test

struct Way {
    const char* name;
    const char* library;
    bool crashes = false;  // the program dies in the plug-in and is started again
};
const Way kWays[] = {
    {"never writes", "test_wave_never_writes.dll"},
    {"blocks in Play", "test_wave_block_in_play.dll"},
    {"ends early", "test_wave_ends_early.dll"},
    {"crashes in Play", "test_wave_crashes_in_play.dll", true},
};

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::vector<std::string> Lines(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// A run of the program in a directory of its own, with the faulty plug-in as
// its in_wave.dll and the playlist given; a programme entry for a missing
// file starts the playlist (at its first row) a few seconds after the start,
// and one for the programme tone may follow a given time after that. With a
// way that crashes the program plays by itself from its start instead, and
// each start of the supervising loop is a life with a capture of its own.
class Station {
  public:
    bool Prepare(const Way& way, const std::vector<std::string>& items,
                 std::uint32_t programmeAfterMs = 0) {
        way_ = way;
        fs::copy_file(fs::path(TestPluginDir()) / way.library, run.Dir() / "in_wave.dll",
                      fs::copy_options::overwrite_existing);
        playlist = {"#EXTM3U"};
        for (const std::string& item : items) {
            const std::string path = Make(item);
            if (path.empty()) return false;
            playlist.push_back(path);
        }
        run.WriteLines("pl.m3u", playlist);
        startsAt = (e2e::LocalTimeOfDayMs() / 1000 + 3) * 1000;
        std::vector<std::string> programme = {"#EXTM3U"};
        if (!way.crashes)
            programme.insert(programme.end(), {"#KAVINF:" + e2e::TimeText(startsAt),
                                               (run.Dir() / "missing.mp3").string()});
        if (programmeAfterMs > 0) {
            const std::string tone =
                Make(std::to_string(kProgrammeTone) + ".mp3", kProgrammeSeconds);
            if (tone.empty()) return false;
            programme.push_back("#KAVINF:" + e2e::TimeText(startsAt + programmeAfterMs));
            programme.push_back(tone);
        }
        run.WriteLines("prgm.m3u", programme);
        const int device = run.NullDevice();
        std::vector<std::string> settings = {"[varios]",      "dev=" + std::to_string(device),
                                             "pln=0",         "tfade=300",
                                             "volume=255",    "repetepl=0",
                                             "autobaralhar=0"};
        if (way.crashes) settings.insert(settings.end(), {"[estacao]", "autoplay=1"});
        run.WriteLines("kav.ini", settings);
        return device > 0 && Start();
    }

    // Seconds from now until the playlist starts.
    double UntilStart() const { return (double(startsAt) - e2e::LocalTimeOfDayMs()) / 1000.0; }

    // Waits until done() holds or the limit is up. A program that ended by
    // itself is started again at once when the way crashes, as a supervising
    // loop does; otherwise the wait ends with it.
    void Supervise(const std::function<bool()>& done, std::chrono::seconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!done() && std::chrono::steady_clock::now() < deadline) {
            if (!run.Running()) {
                if (!way_.crashes || lives_.size() >= kMostStarts) return;
                lives_.back().offset = Offset(lives_.size() - 1);
                lives_.back().status = run.EndStatus();
                if (!Start()) return;
            }
            run.WaitFor(200ms);
        }
    }

    // The lives that ended by a crash (SIGSEGV) so far.
    int Crashes() const {
        return int(std::count_if(lives_.begin(), lives_.end(), [](const Life& l) {
            return WIFSIGNALED(l.status) && WTERMSIG(l.status) == SIGSEGV;
        }));
    }

    // What was heard in every life, in seconds since the first start,
    // without the slivers where one sound gives way to the next.
    std::vector<capture::Tone> Heard() const {
        std::vector<capture::Tone> heard;
        for (std::size_t i = 0; i < lives_.size(); ++i)
            for (capture::Tone t : HeardIn(i)) {
                t.start += Offset(i);
                t.end += Offset(i);
                heard.push_back(t);
            }
        return heard;
    }

    // The longest silence between the first sound and the last: inside each
    // life, and from the last sound of a life to the first of the next life
    // that sounded (a crash and the restarts after it).
    double LongestSilence() const {
        double longest = 0, lastEnd = -1;
        for (std::size_t i = 0; i < lives_.size(); ++i) {
            const std::vector<capture::Tone> heard = HeardIn(i);
            if (heard.empty()) continue;
            if (lastEnd >= 0) {
                const double gap = Offset(i) + heard.front().start - lastEnd;
                std::cout << "  silence across a restart " << gap << " s\n";
                longest = std::max(longest, gap);
            }
            for (const capture::Silence& s : capture::Silences(Frames(i)))
                if (s.start > heard.front().start && s.end < heard.back().end)
                    longest = std::max(longest, s.Length());
            lastEnd = Offset(i) + heard.back().end;
        }
        return longest;
    }

    // SIGTERM: the program ends within the limit, in order, its files saved.
    void Terminate() {
        int status = 0;
        const auto sent = std::chrono::steady_clock::now();
        const bool ended = run.Terminate(10s, status);
        const double took = SecondsSince(sent);
        std::cout << "  ended " << took << " s after SIGTERM\n";
        ASSERT_TRUE(ended) << "still running 10 s after SIGTERM";
        EXPECT_LE(took, std::chrono::duration<double>(kTermLimit).count());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
        win::IniFile ini((run.Dir() / "kav.ini").string());
        for (const char* key : {"dev", "pln", "volume", "tfade", "repetepl", "autobaralhar"})
            EXPECT_NE(ini.ReadString("varios", key, "?"), "?") << key;
        EXPECT_EQ(Lines(run.Dir() / "pl.m3u"), playlist);
    }

    e2e::ProgramRun run;

  private:
    struct Life {
        double startedAt = 0;  // seconds since the first start
        double offset = 0;     // when its capture began, once it has ended
        int status = -1;       // how it ended
    };

    bool Start() {
        const std::string n = std::to_string(lives_.size() + 1);
        if (lives_.empty()) firstStart_ = std::chrono::steady_clock::now();
        lives_.push_back({SecondsSince(firstStart_)});
        return run.Start({.capture = "capture" + n + ".wav", .stderrFile = "stderr" + n + ".txt"});
    }

    // When life i's capture began, in seconds since the first start.
    double Offset(std::size_t i) const {
        return i + 1 < lives_.size() ? lives_[i].offset : lives_[i].startedAt + run.CaptureStart();
    }

    std::vector<capture::Frame> Frames(std::size_t life) const {
        capture::Sound sound;
        std::string error;
        const std::string wav =
            (run.Dir() / ("capture" + std::to_string(life + 1) + ".wav")).string();
        if (!capture::ReadWav(wav, sound, error)) return {};
        return capture::Frames(sound);
    }

    std::vector<capture::Tone> HeardIn(std::size_t life) const {
        std::vector<capture::Tone> heard;
        for (const capture::Tone& t :
             capture::Tones(Frames(life),
                            {kGood[0], kGood[1], kGood[2], kProgrammeTone, kWaveTone, kPluginTone},
                            0.01, 0.03))
            if (t.Length() >= 0.06) heard.push_back(t);
        return heard;
    }

    // "<frequency>.mp3" or "<frequency>.wav": a tone made in the directory.
    std::string Make(const std::string& item, double seconds = kGoodSeconds) {
        const int hz = std::stoi(item);
        const bool mp3 = item.ends_with(".mp3");
        const std::string wav = run.Tone(std::to_string(hz) + ".wav", seconds, hz);
        if (wav.empty() || !mp3) return wav;
        const std::string path = (run.Dir() / item).string();
        const std::string lame = "lame --quiet -b 128 '" + wav + "' '" + path + "'";
        return std::system(lame.c_str()) == 0 ? path : "";
    }

    Way way_{};
    std::vector<Life> lives_;
    std::chrono::steady_clock::time_point firstStart_;
    std::vector<std::string> playlist;
    std::uint32_t startsAt = 0;
};

bool HeardWhole(const std::vector<capture::Tone>& heard, int hz, double seconds) {
    return std::any_of(heard.begin(), heard.end(), [&](const capture::Tone& t) {
        return t.frequency == hz && t.Length() >= seconds - 0.1;
    });
}

bool AllGoodHeard(const std::vector<capture::Tone>& heard) {
    return std::all_of(std::begin(kGood), std::end(kGood),
                       [&](int hz) { return HeardWhole(heard, hz, kGoodSeconds); });
}

int Count(const std::string& text, const std::string& part) {
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// The program that crashes leaves no core file behind (nor the time to write one).
void NoCoreFiles() {
    const rlimit none{0, 0};
    setrlimit(RLIMIT_CORE, &none);
}

bool TooClose() {
    return e2e::LocalTimeOfDayMs() > 86'400'000u - 120'000u;
}

}  // namespace

TEST(FaultyPluginProgramTest, EveryGoodTonePlaysAndNoFaultSilencesTheStationForLong) {
    if (TooClose()) GTEST_SKIP() << "too close to midnight for a programme time";
    NoCoreFiles();
    for (const Way& way : kWays) {
        SCOPED_TRACE(way.name);
        std::cout << way.name << "\n";
        Station station;
        // The programme time comes 1 s into the first WAV; a program that
        // dies there has none.
        ASSERT_TRUE(station.Prepare(way, {"500.mp3", "1500.wav", "700.mp3", "1501.wav", "900.mp3"},
                                    way.crashes ? 0 : uint32_t(kGoodSeconds * 1000) + 1000))
            << "the run could not be prepared";
        // Once its plug-in is left out, a WAV that crashed the program plays
        // through the audio library.
        auto allHeard = [&] {
            const auto heard = station.Heard();
            return AllGoodHeard(heard) &&
                   (way.crashes ? HeardWhole(heard, kWaveTone, kGoodSeconds)
                                : HeardWhole(heard, kProgrammeTone, kProgrammeSeconds));
        };
        station.Supervise(allHeard, 75s);
        ASSERT_TRUE(station.run.Running()) << "the program ended by itself";
        const bool blocked = std::string(way.library) == "test_wave_block_in_play.dll";
        if (blocked) std::cout << "  (its first Play is still blocked)\n";
        station.Terminate();

        const std::vector<capture::Tone> heard = station.Heard();
        std::string order;
        for (const capture::Tone& t : heard)
            order += " " + std::to_string(int(t.frequency)) + "(" +
                     std::to_string(t.Length()).substr(0, 4) + " s)";
        std::cout << "  heard:" << order << "\n";
        EXPECT_TRUE(AllGoodHeard(heard)) << "not every good tone played whole";
        if (way.crashes) {
            EXPECT_EQ(station.Crashes(), kCrashesBeforeLeftOut) << "the crash loop goes on";
            EXPECT_TRUE(HeardWhole(heard, kWaveTone, kGoodSeconds))
                << "the WAV after the crashes did not play through the audio library";
            EXPECT_EQ(Count(station.run.Stderr(), "] falha: plug-in in_wave.dll"), 1)
                << station.run.Stderr();
        } else {
            EXPECT_TRUE(HeardWhole(heard, kProgrammeTone, kProgrammeSeconds))
                << "the programme tone did not play whole";
        }
        ASSERT_FALSE(heard.empty());
        const double longest = station.LongestSilence();
        std::cout << "  longest silence " << longest << " s\n";
        EXPECT_LE(longest, kLongestSilence);
    }
}

// SIGTERM while the faulty plug-in holds the program (it waits for output
// that never comes, for a Play that never returns, or drains an end that
// came too early): the program still ends within 3 s, its files saved. One
// that crashes in Play is ended once it plays again after its restarts.
TEST(FaultyPluginProgramTest, SigtermEndsTheProgramWhileThePluginHoldsIt) {
    if (TooClose()) GTEST_SKIP() << "too close to midnight for a programme time";
    NoCoreFiles();
    for (const Way& way : kWays) {
        SCOPED_TRACE(way.name);
        std::cout << way.name << "\n";
        Station station;
        ASSERT_TRUE(station.Prepare(way, {"1500.wav", "500.mp3"}));
        if (way.crashes) {
            station.Supervise([&] { return HeardWhole(station.Heard(), kGood[0], 1.0); }, 40s);
        } else {
            const double until = station.UntilStart() + 1.5;  // the WAV's first moments
            station.run.WaitFor(std::chrono::milliseconds(int(until * 1000)));
        }
        ASSERT_TRUE(station.run.Running()) << "the program ended by itself";
        station.Terminate();
    }
}
