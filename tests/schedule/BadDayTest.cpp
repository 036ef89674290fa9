// A bad day for the built program left alone: with repeat and shuffle on, a
// playlist of good tones with every kind of bad item between them (missing,
// unreadable, cut short, random bytes, a directory, a named pipe, a missing
// Ogg file, a closed port, a server that never answers, one that sends
// garbage) and two programme times, one pointing at a missing file. The
// station must play every good tone in two passes, play the programme tone
// on time, never fall silent for long, and end promptly on SIGTERM with its
// files whole. What each bad item cost is printed.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "CaptureAnalysis.h"
#include "ProgramRun.h"
#include "platform/win/IniFile.h"
#include "tests/support/HttpServer.h"

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

constexpr double kToneSeconds = 2.0;
constexpr int kGoodTones = 11, kFirstGood = 400, kGoodStep = 100;
constexpr int kProgrammeTone = 1800, kCutShortTone = 2300;
constexpr int kFadeMs = 500;
// The longest silence a bad item may cost: a network address may take up
// to 5 s to give up on, anything else 1 s. The track changes on either side
// of the item add a few tens of ms.
constexpr double kNetworkBound = 5.0, kFileBound = 1.0, kChanges = 0.25;

int GoodFrequency(int i) {
    return kFirstGood + i * kGoodStep;
}

// Servers on 127.0.0.1 that take connections and never send a usable reply.
class HostileServers {
  public:
    HostileServers()
        : silent_([this](testhttp::Reply& r, const testhttp::Request&) { Hold(r.fd()); }),
          garbage_([this](testhttp::Reply& r, const testhttp::Request&) { SendGarbage(r.fd()); }) {}
    ~HostileServers() { stop_ = true; }
    std::string SilentUrl() const { return silent_.url("/"); }
    std::string GarbageUrl() const { return garbage_.url("/"); }

  private:
    // Keeps the connection open, answering nothing, until the client goes.
    void Hold(int fd) const {
        char buffer[4096];
        while (!stop_) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 50) > 0 && ::recv(fd, buffer, sizeof buffer, 0) <= 0) return;
        }
    }
    // Random bytes at about 200 kB/s until the client goes.
    void SendGarbage(int fd) const {
        std::mt19937 random(unsigned(fd) * 7919u);
        std::string chunk(4096, '\0');
        while (!stop_) {
            for (char& c : chunk) c = char(random());
            if (::send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL) <= 0) return;
            std::this_thread::sleep_for(20ms);
        }
    }

    std::atomic<bool> stop_{false};
    testhttp::HttpServer silent_, garbage_;
};

// A port on 127.0.0.1 on which nothing listens.
int ClosedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

bool Shell(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

// A file that cannot be read. Permissions do not stop root, so for root it
// is a link to a file the kernel lets nobody read.
std::string Unreadable(const fs::path& dir, const std::string& mp3) {
    const fs::path path = dir / "unreadable.mp3";
    if (::geteuid() != 0) {
        fs::copy_file(mp3, path);
        fs::permissions(path, fs::perms::none);
    } else {
        fs::create_symlink("/proc/sys/vm/compact_memory", path);
    }
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd >= 0) ::close(fd);
    return fd < 0 ? path.string() : "";
}

struct Item {
    std::string name;   // as printed
    std::string entry;  // the playlist line
    int frequency = 0;  // a good tone's, else 0
    bool network = false;
    double Bound() const { return network ? kNetworkBound : kFileBound; }
};

// The bad items, every one made at test time in the program's directory.
std::vector<Item> BadItems(e2e::ProgramRun& run, const HostileServers& servers) {
    const fs::path dir = run.Dir();
    std::vector<Item> bad;
    const std::string wav = (dir / "cut.wav").string(), mp3 = (dir / "whole.mp3").string();
    EXPECT_TRUE(Shell("sox -n -r 44100 -c 2 -b 16 '" + wav + "' synth 3 sine " +
                      std::to_string(kCutShortTone) + " vol 0.5 && lame --quiet '" + wav + "' '" +
                      mp3 + "'"));
    const std::string unreadable = Unreadable(dir, mp3);
    {
        // The first 40% of an MP3: it plays a while, then its data end mid-frame.
        std::ifstream in(mp3, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), {});
        std::ofstream((dir / "cut.mp3").string(), std::ios::binary)
            << bytes.substr(0, bytes.size() * 2 / 5 + 77);
        std::mt19937 random(1234);
        std::string noise(65536, '\0');
        for (char& c : noise) c = char(random());
        std::ofstream((dir / "random.mp3").string(), std::ios::binary) << noise;
    }
    fs::create_directory(dir / "x.mp3");
    EXPECT_EQ(::mkfifo((dir / "fifo.mp3").c_str(), 0644), 0);
    bad.push_back({"missing file", (dir / "missing.mp3").string()});
    bad.push_back({"silent server", servers.SilentUrl(), 0, true});
    if (!unreadable.empty())
        bad.push_back({"unreadable file", unreadable});
    else
        std::cout << "no file that cannot be read could be made: left out\n";
    bad.push_back({"truncated MP3", (dir / "cut.mp3").string()});
    bad.push_back(
        {"closed port", "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/", 0, true});
    bad.push_back({"random bytes .mp3", (dir / "random.mp3").string()});
    bad.push_back({"directory x.mp3", (dir / "x.mp3").string()});
    bad.push_back({"garbage server", servers.GarbageUrl(), 0, true});
    bad.push_back({"FIFO fifo.mp3", (dir / "fifo.mp3").string()});
    bad.push_back({"missing .ogg", (dir / "missing.ogg").string()});
    return bad;
}

bool IsGood(const capture::Tone& t) {
    return t.frequency >= kFirstGood && t.frequency < kFirstGood + kGoodTones * kGoodStep;
}

// The tones heard, in order: runs of one frequency, with a break shorter
// than a frame or two closed, and slivers left out.
std::vector<capture::Tone> Heard(const std::vector<capture::Frame>& frames) {
    std::vector<double> expected = {kProgrammeTone, kCutShortTone};
    for (int i = 0; i < kGoodTones; ++i) expected.push_back(GoodFrequency(i));
    std::vector<capture::Tone> heard;
    for (const capture::Tone& t : capture::Tones(frames, expected, 0.01, 0.03)) {
        if (!heard.empty() && heard.back().frequency == t.frequency &&
            t.start - heard.back().end < 0.15)
            heard.back().end = t.end;
        else
            heard.push_back(t);
    }
    std::erase_if(heard, [](const capture::Tone& t) { return t.Length() < 0.1; });
    // A good tone played twice in a row sounds as one run of twice its length.
    for (size_t i = 0; i < heard.size(); ++i) {
        if (IsGood(heard[i]) && heard[i].Length() > 1.5 * kToneSeconds) {
            capture::Tone second = heard[i];
            heard[i].end = second.start = heard[i].start + kToneSeconds;
            heard.insert(heard.begin() + long(i) + 1, second);
        }
    }
    return heard;
}

std::vector<capture::Frame> CapturedFrames(const e2e::ProgramRun& run) {
    capture::Sound sound;
    std::string error;
    if (!capture::ReadWav(run.Capture(), sound, error)) return {};
    return capture::Frames(sound);
}

// Every good tone heard twice and the programme tone once, and a good tone
// just begun (so that the program is not inside an open when it is asked to end).
bool TwoPassesHeard(const std::vector<capture::Frame>& frames) {
    const std::vector<capture::Tone> heard = Heard(frames);
    std::map<double, int> times;
    for (const capture::Tone& t : heard) ++times[t.frequency];
    for (int i = 0; i < kGoodTones; ++i)
        if (times[GoodFrequency(i)] < 2) return false;
    if (times[kProgrammeTone] < 1 || frames.empty()) return false;
    const double end = frames.back().start;
    return IsGood(heard.back()) && end - heard.back().end < 0.1 &&
           end - heard.back().start < kToneSeconds - 0.8;
}

std::vector<std::string> Lines(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// The items in the order of a pass, by their playlist lines; empty when the
// lines are not the playlist's.
std::vector<Item> InOrder(const std::vector<std::string>& lines, const std::vector<Item>& items) {
    std::vector<Item> order;
    for (const std::string& line : lines) {
        if (line == "#EXTM3U") continue;
        auto it = std::find_if(items.begin(), items.end(),
                               [&](const Item& i) { return i.entry == line; });
        if (it == items.end()) return {};
        order.push_back(*it);
    }
    return order.size() == items.size() ? order : std::vector<Item>{};
}

struct Segment {
    std::vector<Item> bad;  // the bad items tried between two good tones
    double longest = 0;     // the longest silence between them
    bool open = false;      // still silent when the run ended
};

double LongestSilence(const std::vector<capture::Silence>& silences, double from, double to) {
    double longest = 0;
    for (const capture::Silence& q : silences)
        longest = std::max(longest, std::min(q.end, to) - std::max(q.start, from));
    return longest;
}

// Where the next good tone heard lies in the order after position `from`:
// at the next good item, or at the one after it when a programme item cut
// that one at its very start. npos when the order does not fit.
size_t NextHeard(const std::vector<Item>& order, size_t from, double frequency) {
    int passedOver = 0;
    for (size_t i = from + 1; i < order.size(); ++i) {
        if (order[i].frequency == 0) continue;
        if (order[i].frequency == frequency) return i;
        if (++passedOver == 2) break;
    }
    return std::string::npos;
}

// Walks the good tones heard against the passes' orders: between each two,
// the bad items of the order that lie between them, and the longest silence.
// With an open end (a run that did not get through; negative for none), the
// bad items after the last good tone are charged with the silence up to it.
std::vector<Segment> Segments(const std::vector<capture::Tone>& heard,
                              const std::vector<capture::Silence>& silences,
                              const std::vector<Item>& order, double openEnd) {
    std::vector<const capture::Tone*> good;
    for (const capture::Tone& t : heard)
        if (IsGood(t)) good.push_back(&t);
    std::vector<Segment> segments;
    if (good.empty() || order.empty() || order[0].frequency != good[0]->frequency) return {};
    for (size_t g = 0, at = 0; g < good.size(); ++g) {
        const bool last = g + 1 == good.size();
        if (last && openEnd < 0) break;
        size_t next = last ? order.size() : NextHeard(order, at, good[g + 1]->frequency);
        if (next == std::string::npos) break;  // not the order played
        Segment s;
        for (size_t i = at + 1; i < next && !(last && order[i].frequency != 0); ++i)
            if (order[i].frequency == 0) s.bad.push_back(order[i]);
        s.longest = LongestSilence(silences, good[g]->end, last ? openEnd : good[g + 1]->start);
        s.open = last;
        segments.push_back(s);
        at = next;
    }
    return segments;
}

TEST(BadDayTest, EveryGoodToneAndTheProgrammeTonePlayAndNoBadItemSilencesTheStationForLong) {
    e2e::ProgramRun run;
    const std::uint32_t now = e2e::LocalTimeOfDayMs();
    if (now > 86'400'000u - 240'000u) GTEST_SKIP() << "too close to midnight for the run";
    HostileServers servers;

    // The pass as listed: good and bad alternate, so that in the first pass
    // each silence belongs to one bad item.
    const std::vector<Item> bad = BadItems(run, servers);
    std::vector<Item> items;
    for (int i = 0; i < kGoodTones; ++i) {
        const std::string tone =
            run.Tone("good" + std::to_string(i) + ".wav", kToneSeconds, GoodFrequency(i));
        ASSERT_FALSE(tone.empty()) << "sox failed";
        items.push_back(
            {"tone " + std::to_string(GoodFrequency(i)) + " Hz", tone, GoodFrequency(i)});
        if (size_t(i) < bad.size()) items.push_back(bad[size_t(i)]);
    }
    std::vector<std::string> playlist = {"#EXTM3U"};
    for (const Item& i : items) playlist.push_back(i.entry);
    run.WriteLines("pl.m3u", playlist);

    // The missing programme file lets the playlist start; the tone comes later.
    const std::uint32_t missingAt = (now / 1000 + 4) * 1000, toneAt = missingAt + 9000;
    const std::string programmeTone = run.Tone("programme.wav", 1.0, kProgrammeTone);
    const std::vector<std::string> programme = {"#EXTM3U", "#KAVINF:" + e2e::TimeText(missingAt),
                                                (run.Dir() / "news.mp3").string(),
                                                "#KAVINF:" + e2e::TimeText(toneAt), programmeTone};
    run.WriteLines("prgm.m3u", programme);
    const int device = run.NullDevice();
    ASSERT_GT(device, 0);
    run.WriteLines("kav.ini", {"[varios]", "dev=" + std::to_string(device), "pln=0",
                               "tfade=" + std::to_string(kFadeMs), "volume=255", "repetepl=1",
                               "autobaralhar=1"});

    ASSERT_TRUE(run.Start());
    const auto deadline = std::chrono::steady_clock::now() + 130s;
    bool heardTwice = false;
    while (!heardTwice && run.Running() && std::chrono::steady_clock::now() < deadline) {
        run.WaitFor(200ms);
        heardTwice = TwoPassesHeard(CapturedFrames(run));
    }
    ASSERT_TRUE(run.Running()) << "the program ended by itself";
    int status = 0;
    const bool ended = run.Terminate(2s, status);
    EXPECT_TRUE(ended) << "no end within 2 s of SIGTERM";
    if (ended) {
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    }

    const std::vector<capture::Frame> frames = CapturedFrames(run);
    const std::vector<capture::Tone> heard = Heard(frames);
    std::string order;
    for (const capture::Tone& t : heard) order += " " + std::to_string(int(t.frequency));
    std::cout << "heard:" << order << "\n";
    EXPECT_TRUE(heardTwice) << "not every good tone played twice and the programme tone once";

    // The failed programme entry started the playlist at once; the good one
    // played on time, later only by what held the program when it came due.
    const double captureStart = run.CaptureStart();
    auto localMs = [&](double t) {
        return double(run.StartTimeOfDay()) + (captureStart + t) * 1000.0;
    };
    auto programmeHeard = std::find_if(heard.begin(), heard.end(), [](const capture::Tone& t) {
        return t.frequency == kProgrammeTone;
    });
    if (!heard.empty()) {
        EXPECT_EQ(heard.front().frequency, GoodFrequency(0));
        EXPECT_LT(localMs(heard.front().start) - missingAt, 1000 + kChanges * 1000)
            << "the playlist did not start when the missing programme file failed";
    }
    EXPECT_NE(programmeHeard, heard.end()) << "the programme tone never played";
    if (programmeHeard != heard.end()) {
        const double late = localMs(programmeHeard->start) - toneAt;
        const double dueAt = (toneAt - run.StartTimeOfDay()) / 1000.0 - captureStart;
        const bool duringTone = std::any_of(heard.begin(), heard.end(), [&](const auto& t) {
            return t.start <= dueAt && dueAt < t.end;
        });
        std::cout << "programme tone " << late << " ms after its time"
                  << (duringTone ? "" : " (it came due between sounds)") << "\n";
        EXPECT_GT(late, -300.0);
        EXPECT_LT(late, kFadeMs + 1000 + (duringTone ? 0 : kNetworkBound * 1000));
    }

    // Files whole: the settings with every key, both lists with every entry.
    if (ended) {
        win::IniFile ini((run.Dir() / "kav.ini").string());
        for (const char* key :
             {"dev", "pln", "volume", "tfade", "repetepl", "autobaralhar", "compressor"})
            EXPECT_NE(ini.ReadString("varios", key, "?"), "?") << key;
        for (const char* key : {"plc1", "plc2", "prgmlc1", "prgmlc2", "prgmlc3"})
            EXPECT_NE(ini.ReadString("tamanhos", key, "?"), "?") << key;
        EXPECT_EQ(Lines(run.Dir() / "prgm.m3u"), programme);
    }
    const std::vector<std::string> saved = Lines(run.Dir() / "pl.m3u");
    std::vector<std::string> sortedSaved = saved, sortedWritten = playlist;
    std::sort(sortedSaved.begin(), sortedSaved.end());
    std::sort(sortedWritten.begin(), sortedWritten.end());
    EXPECT_EQ(sortedSaved, sortedWritten) << "pl.m3u lost or changed entries";

    // The first pass plays in the listed order, the second in the order
    // saved at the end (it was still playing); each silence between two good
    // tones is charged to the bad items between them.
    std::vector<Item> passes = items;
    const std::vector<Item> second = InOrder(saved, items);
    passes.insert(passes.end(), second.begin(), second.end());
    const double openEnd = heardTwice || frames.empty() ? -1 : frames.back().start;
    const std::vector<Segment> segments =
        Segments(heard, capture::Silences(frames), passes, openEnd);
    std::map<std::string, double> cost;
    std::set<std::string> stillSilent;
    for (const Segment& s : segments) {
        double bound = kChanges;
        std::string names;
        for (const Item& i : s.bad) {
            bound += i.Bound();
            names += " [" + i.name + "]";
        }
        EXPECT_LE(s.longest, bound) << "silence of " << s.longest << " s for" << names;
        if (s.bad.size() == 1) {
            cost[s.bad[0].name] = std::max(cost[s.bad[0].name], s.longest);
            if (s.open) stillSilent.insert(s.bad[0].name);
        }
    }
    EXPECT_GE(segments.size(), size_t(kGoodTones) - 1) << "the passes did not play in order";
    for (const Item& i : bad) {
        std::cout << "longest silence for the " << i.name << ": ";
        if (cost.count(i.name))
            std::cout << std::fixed << std::setprecision(2) << cost[i.name] << " s"
                      << (stillSilent.count(i.name) ? " and still silent at the end" : "") << "\n";
        else
            std::cout << "not measured\n";
    }
}

}  // namespace
