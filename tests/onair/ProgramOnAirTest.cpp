// The built program with two stream outputs in its kav.ini (MP3 and Opus, to
// two mounts of Debian's icecast2 on 127.0.0.1), playing tagged files in
// order on the null output: listeners of the test's own hear on each mount
// the tones the capture holds, in its order and lengths, and every title as
// the window shows it, accents included, within 3 s of its change; kav.ini
// is kept private while it holds their password. A server that goes away for
// 10 s, or a relay in between that freezes: both outputs come back by
// themselves within 32 s, and the program's own sound never stops meanwhile.
// A wrong password and a missing server: one line each, nothing waits.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <optional>
#include <thread>

#include "tests/net/FreezableProxy.h"
#include "tests/net/Icecast.h"
#include "tests/net/KavProgram.h"
#include "tests/net/MountListener.h"
#include "tests/net/RadioServer.h"
#include "tests/support/TempDir.h"
#include "tests/support/ToneRuns.h"

using namespace std::chrono_literals;
using nettest::Icecast;
using nettest::MountListener;
using Clock = std::chrono::steady_clock;

namespace {

struct Song {
    int freq;
    double seconds;
    std::string artist, title;
    std::string text() const { return artist + " - " + title; }
};

// An Ogg Vorbis file: the tone between short silences, tagged.
std::string taggedTone(const nettest::KavProgram& kav, const Song& s, int n) {
    const std::string wav = kav.file("t" + std::to_string(n) + ".wav");
    const std::string ogg = kav.file("t" + std::to_string(n) + ".ogg");
    const std::string make = "sox -n -r 44100 -c 2 -b 16 '" + wav + "' synth " +
                             std::to_string(s.seconds) + " sine " + std::to_string(s.freq) +
                             " vol 0.5 pad 0.4 0.4 && ffmpeg -loglevel error -y -i '" + wav +
                             "' -c:a libvorbis -q:a 6 -metadata 'ARTIST=" + s.artist +
                             "' -metadata 'TITLE=" + s.title + "' '" + ogg + "'";
    return std::system(make.c_str()) == 0 ? ogg : std::string();
}

std::string outputSection(int n, int port, const std::string& mount, const char* format, int kbps) {
    return "[transmissao" + std::to_string(n) +
           "]\nservidor=127.0.0.1\nporta=" + std::to_string(port) + "\nponto=" + mount +
           "\nsenha=" + Icecast::password() + "\nformato=" + format +
           "\nkbps=" + std::to_string(kbps) + "\n";
}

// When each tone of the capture began, on the test's clock: the capture is
// read as it grows, its end taken as the moment it was read.
class ToneClock {
  public:
    explicit ToneClock(const nettest::KavProgram& kav) : kav_(kav) {}
    void look() {
        bass_test::Capture c;
        const auto now = Clock::now();
        if (!kav_.capture(c) || c.rate == 0) return;
        const double length = c.seconds(c.frames());
        for (const nettest::ToneRun& r : nettest::toneRuns(c))
            if (std::none_of(starts_.begin(), starts_.end(),
                             [&](const auto& s) { return std::abs(s.first - r.start) < 0.2; }))
                starts_.push_back(
                    {r.start, now - std::chrono::milliseconds(int((length - r.start) * 1000))});
    }
    // When each of the runs of frequency freq began.
    std::vector<Clock::time_point> startsOf(const std::vector<nettest::ToneRun>& runs,
                                            int freq) const {
        std::vector<Clock::time_point> out;
        for (const auto& r : runs)
            for (const auto& s : starts_)
                if (r.freq == freq && std::abs(s.first - r.start) < 0.2) out.push_back(s.second);
        return out;
    }

  private:
    const nettest::KavProgram& kav_;
    std::vector<std::pair<double, Clock::time_point>> starts_;
};

}  // namespace

TEST(OnAirProgram, ListenersHearWhatTheProgramPlaysWithItsTitles) {
    Icecast ice;
    ASSERT_TRUE(ice.ok()) << ice.logs();
    nettest::KavProgram kav;
    const std::vector<Song> songs = {{440, 2.0, "Zé Ninguém", "Canção à Noite"},
                                     {660, 1.5, "Ana Ñúñez", "Ação – Ré"},
                                     {880, 2.5, "Groß", "Über «Ô»"}};
    std::vector<std::string> rows;
    for (int round = 0; round < 2; ++round)
        for (size_t i = 0; i < songs.size(); ++i) {
            rows.push_back(taggedTone(kav, songs[i], int(round * 3 + i)));
            ASSERT_FALSE(rows.back().empty());
        }
    kav.playInOrder(rows);
    {
        std::ofstream ini(kav.file("kav.ini"), std::ios::app);
        ini << outputSection(1, ice.port(), "/a.mp3", "mp3", 128)
            << outputSection(2, ice.port(), "/b.opus", "opus", 96);
    }
    TempDir dir;
    const std::string mounts[] = {"/a.mp3", "/b.opus"};
    std::vector<std::unique_ptr<MountListener>> listeners;
    for (const std::string& m : mounts)
        listeners.push_back(std::make_unique<MountListener>(ice.port(), m, dir.File(m.substr(1))));
    kav.start();
    ToneClock clock(kav);
    // The start tone and both rounds of songs, then a little for the last to
    // leave the encoders.
    const bool played = nettest::waitUntil(
        [&] {
            clock.look();
            return kav.tones().size() >= 1 + rows.size();
        },
        60s);
    std::this_thread::sleep_for(3s);
    clock.look();
    for (auto& l : listeners) l->stop();
    EXPECT_EQ(kav.stop(), 0);
    ASSERT_TRUE(played) << nettest::describe(kav.tones()) << kav.errors();

    bass_test::Capture captured;
    ASSERT_TRUE(kav.capture(captured));
    const std::vector<nettest::ToneRun> sent = nettest::toneRuns(captured);
    for (size_t i = 0; i < listeners.size(); ++i) {
        SCOPED_TRACE(mounts[i]);
        EXPECT_GT(listeners[i]->connections(), 0);
        const std::string file = dir.File(mounts[i].substr(1)), wav = file + ".wav";
        ASSERT_TRUE(nettest::decodeToWav(file, wav)) << kav.errors();
        bass_test::Capture heard;
        ASSERT_TRUE(heard.load(wav));
        const std::vector<nettest::ToneRun> got = nettest::toneRuns(heard);
        EXPECT_GE(got.size(), rows.size()) << nettest::describe(got);
        EXPECT_EQ(nettest::sameTones(sent, got, 0.020), "");
        // Each song's title reached the listener within 3 s of its tone's start
        // (told a little before it sounds: the engine starts it ahead).
        const auto titles = listeners[i]->titles();
        for (const Song& s : songs) {
            const auto starts = clock.startsOf(sent, s.freq);
            EXPECT_EQ(starts.size(), 2u) << s.text() << ": " << nettest::describe(sent);
            for (const Clock::time_point start : starts) {
                const bool came = std::any_of(titles.begin(), titles.end(), [&](const auto& t) {
                    return t.text == s.text() && t.at >= start - 2s && t.at <= start + 3s;
                });
                std::string all;
                for (const auto& t : titles) all += " \"" + t.text + "\"";
                EXPECT_TRUE(came) << s.text() << "; heard:" << all;
            }
        }
    }
    EXPECT_EQ(kav.errors().find("transmissao"), std::string::npos) << kav.errors();
    // kav.ini keeps the outputs, and is the user's alone while it holds a password.
    struct stat st {};
    ASSERT_EQ(::stat(kav.file("kav.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const std::string ini = TempDir::Read(kav.file("kav.ini"));
    EXPECT_NE(ini.find("senha=" + std::string(Icecast::password())), std::string::npos) << ini;
    EXPECT_NE(ini.find("formato=opus"), std::string::npos) << ini;
}

namespace {

// The longest stretch where the capture is quiet (5 ms windows) between
// from and to seconds into it.
double longestGapIn(const bass_test::Capture& c, double from, double to) {
    const std::size_t w = c.rate / 200;
    double quiet = 0, longest = 0;
    for (auto at = std::size_t(from * c.rate); at + w <= std::size_t(to * c.rate); at += w) {
        if (at + w > c.frames()) break;
        quiet = bass_test::rms(c.left, at, at + w) < 500 ? quiet + 0.005 : 0;
        longest = std::max(longest, quiet);
    }
    return longest;
}

// How many seconds the capture holds now.
double capturedSeconds(const nettest::KavProgram& kav) {
    bass_test::Capture c;
    return kav.capture(c) && c.rate ? c.seconds(c.frames()) : 0;
}

// How many lines of the program's standard error speak of an output
// ("transmissao1 (").
std::size_t linesAbout(const std::string& errors, const std::string& output) {
    std::size_t lines = 0;
    for (std::size_t at = errors.find(output); at != std::string::npos;
         at = errors.find(output, at + 1))
        ++lines;
    return lines;
}

// The way the outputs lose their server for a while.
enum class Outage {
    ServerAway,  // the server stops for 10 s and starts again
    Frozen,      // a relay in between stops passing anything (SIGSTOP)
};

// Both outputs come back by themselves within 32 s of the server's return,
// listeners hear the station again, and the program's own sound has no gap
// longer than 10 ms meanwhile.
void BothOutputsComeBackAfter(Outage outage) {
    Icecast ice;
    ASSERT_TRUE(ice.ok()) << ice.logs();
    std::optional<nettest::FreezableProxy> relay;
    if (outage == Outage::Frozen) relay.emplace(ice.port());
    const int port = relay ? relay->port() : ice.port();
    nettest::KavProgram kav;
    const std::string tone = nettest::toneWav(kav.file("long.wav"), 100, 440);
    ASSERT_FALSE(tone.empty());
    kav.playInOrder({tone});
    {
        std::ofstream ini(kav.file("kav.ini"), std::ios::app);
        ini << outputSection(1, port, "/a.mp3", "mp3", 128)
            << outputSection(2, port, "/b.opus", "opus", 96);
    }
    kav.start();
    const auto bothServed = [&] { return ice.serves("/a.mp3") && ice.serves("/b.opus"); };
    ASSERT_TRUE(nettest::waitUntil(bothServed, 20s)) << kav.errors() << ice.logs();
    ASSERT_TRUE(nettest::waitUntil(
        [&] {
            const auto t = kav.tones();
            return !t.empty() && t.back().freq == 440;
        },
        20s))
        << nettest::describe(kav.tones());

    const double outageFrom = capturedSeconds(kav);
    if (outage == Outage::ServerAway) {
        ice.stop();
        std::this_thread::sleep_for(10s);
        ASSERT_TRUE(ice.start()) << ice.logs();
    } else {
        relay->freeze();
        const bool seen = nettest::waitUntil(
            [&] {
                const std::string errors = kav.errors();
                return linesAbout(errors, "transmissao1 (") == 1 &&
                       linesAbout(errors, "transmissao2 (") == 1;
            },
            30s);
        relay->thaw();
        ASSERT_TRUE(seen) << kav.errors();
    }
    const auto up = Clock::now();
    EXPECT_TRUE(nettest::waitUntil(bothServed, 32s)) << kav.errors() << ice.logs();
    const double outageTo = capturedSeconds(kav);
    ::testing::Test::RecordProperty(
        "back_after_ms",
        int(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - up).count()));
    TempDir dir;
    for (const std::string mount : {"/a.mp3", "/b.opus"}) {
        MountListener listener(ice.port(), mount, dir.File(mount.substr(1)));
        EXPECT_TRUE(nettest::waitUntil([&] { return listener.audioBytes() > 20000; }, 5s)) << mount;
    }
    EXPECT_EQ(kav.stop(), 0);

    bass_test::Capture captured;
    ASSERT_TRUE(kav.capture(captured));
    // The tone sounds all through the outage, without a gap.
    ASSERT_GT(outageTo - outageFrom, 5.0);
    EXPECT_LE(longestGapIn(captured, outageFrom, outageTo), 0.010)
        << "from " << outageFrom << " s to " << outageTo << " s; "
        << nettest::describe(nettest::toneRuns(captured));
    // Each output told of the outage once, and of its end.
    const std::string errors = kav.errors();
    for (const char* output : {"transmissao1 (", "transmissao2 ("})
        EXPECT_EQ(linesAbout(errors, output), 2u) << errors;
}

}  // namespace

TEST(OnAirProgram, BothOutputsComeBackAfterTheServerWasAwayAndTheSoundNeverStops) {
    BothOutputsComeBackAfter(Outage::ServerAway);
}

TEST(OnAirProgram, BothOutputsComeBackAfterAFrozenConnectionAndTheSoundNeverStops) {
    BothOutputsComeBackAfter(Outage::Frozen);
}

// A wrong password and a server that is not there: the program says so once
// for each output on its standard error (not once per try), waits for no one
// (the playlist goes on to its next row, the sound has no gap) and ends
// cleanly when asked.
TEST(OnAirProgram, AWrongPasswordAndAMissingServerAreOneLineEach) {
    Icecast ice;
    ASSERT_TRUE(ice.ok()) << ice.logs();
    nettest::KavProgram kav;
    const std::string first = nettest::toneWav(kav.file("first.wav"), 14, 440);
    const std::string second = nettest::toneWav(kav.file("second.wav"), 30, 660);
    ASSERT_FALSE(first.empty());
    ASSERT_FALSE(second.empty());
    kav.playInOrder({first, second});
    {
        std::string wrong = outputSection(1, ice.port(), "/a.mp3", "mp3", 128);
        wrong.replace(wrong.find(Icecast::password()), std::string(Icecast::password()).size(),
                      "errada");
        std::ofstream ini(kav.file("kav.ini"), std::ios::app);
        ini << wrong << outputSection(2, nettest::closedPort(), "/b.opus", "opus", 96);
    }
    kav.start();
    // The second row sounds, and several tries of the missing server (1, 2,
    // 4, 8 s apart) have passed by then.
    ASSERT_TRUE(nettest::waitUntil(
        [&] {
            const auto t = kav.tones();
            return !t.empty() && t.back().freq == 660 && t.back().end - t.back().start > 4;
        },
        60s))
        << nettest::describe(kav.tones()) << kav.errors();
    EXPECT_EQ(kav.stop(), 0);

    const std::string errors = kav.errors();
    EXPECT_EQ(linesAbout(errors, "transmissao1 ("), 1u) << errors;
    EXPECT_EQ(linesAbout(errors, "transmissao2 ("), 1u) << errors;
    EXPECT_NE(errors.find("HTTP 401"), std::string::npos) << errors;
    EXPECT_FALSE(ice.serves("/a.mp3"));
    bass_test::Capture captured;
    ASSERT_TRUE(kav.capture(captured));
    // Each row as one tone, without a gap inside.
    const auto tones = nettest::heardTones(captured);
    for (const int freq : {440, 660}) {
        std::vector<nettest::Heard> rows;
        std::copy_if(tones.begin(), tones.end(), std::back_inserter(rows),
                     [&](const nettest::Heard& h) { return h.freq == freq; });
        ASSERT_EQ(rows.size(), 1u) << freq << " Hz: " << nettest::describe(tones);
        EXPECT_LE(longestGapIn(captured, rows[0].start + 0.05, rows[0].end - 0.05), 0.010)
            << freq << " Hz: " << nettest::describe(tones);
    }
}
