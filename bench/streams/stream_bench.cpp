// stream_bench: how long a listener waits on network streams, measured with
// kavplay on the null output in interleaved rounds (every case once per
// round, in turn), each item a tone of its own so that its capture tells when
// it sounded:
//   - the time to first sound on an Icecast MP3 mount (Debian's icecast2 fed
//     by ffmpeg -re, joined wherever the stream is), beside mpv on the same
//     mount and beside kavplay on a local file;
//   - for each way a stream fails, the time from the start until the next
//     item (a local file) sounds, and for a source killed or the server
//     stopped, the silence between the stream and the next item.
//
//   stream_bench [ROUNDS [PART]]   run in build/bin (kavplay and the
//                                  libraries beside it); ROUNDS defaults to
//                                  5; PART: only the cases so named
#include <signal.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <thread>
#include <vector>

#include "Icecast.h"
#include "KavProgram.h"
#include "RadioServer.h"
#include "StreamAudio.h"
#include "TlsFront.h"

using namespace nettest;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

constexpr int kMountTone = 440, kNextTone = 1320;

// Watches a WAV file being written (16-bit stereo at 44.1 kHz) for the first
// kRun windows of 50 ms in a row that sound at freq (one window astride a
// tone's start can look like any frequency).
class ToneWatch {
  public:
    static constexpr int kRun = 3;
    static constexpr double kWindowSeconds = 0.05;
    ToneWatch(std::string path, int freq) : path_(std::move(path)), freq_(freq) {}
    bool heard() {
        std::ifstream in(path_, std::ios::binary);
        std::string data((std::istreambuf_iterator<char>(in)), {});
        if (dataAt_ == 0) {
            const size_t chunk = data.find("data");
            if (chunk == std::string::npos || chunk + 8 > data.size()) return false;
            dataAt_ = next_ = chunk + 8;
        }
        constexpr size_t kWindowBytes = 2205 * 4;
        for (; next_ + kWindowBytes <= data.size(); next_ += kWindowBytes) {
            run_ = sounds(data.data() + next_, kWindowBytes / 4) ? run_ + 1 : 0;
            if (run_ == kRun) return true;
        }
        return false;
    }

  private:
    bool sounds(const char* p, size_t frames) const {
        std::vector<int16_t> left(frames);
        for (size_t i = 0; i < frames; ++i) std::memcpy(&left[i], p + 4 * i, 2);
        if (bass_test::rms(left, 0, frames) < 500) return false;
        const double f = bass_test::toneFrequency(left, 0, frames, 44100);
        return std::abs(f - freq_) < 0.03 * freq_;
    }

    std::string path_;
    int freq_;
    size_t dataAt_ = 0, next_ = 0;
    int run_ = 0;
};

std::string kavplay() {
    return (fs::current_path() / "kavplay").string();
}

// Starts argv and returns the seconds until freq sounds in capture (-1 when
// it does not within limit); the process is ended then, or linger later.
double timeToTone(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                  const std::string& capture, int freq, std::chrono::seconds limit,
                  const std::function<void()>& meanwhile = {},
                  std::chrono::milliseconds linger = 0ms) {
    fs::remove(capture);
    ToneWatch watch(capture, freq);
    const auto start = Clock::now();
    Child child(argv, env, capture + ".log");
    bool heard = false;
    while (!heard && Clock::now() - start < limit) {
        std::this_thread::sleep_for(5ms);
        heard = watch.heard();
        if (meanwhile) meanwhile();
    }
    // The run began that many windows before it was seen whole.
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count() -
                           (ToneWatch::kRun - 1) * ToneWatch::kWindowSeconds;
    std::this_thread::sleep_for(linger);
    child.stop(SIGKILL, 5s);
    if (!heard || std::getenv("STREAM_BENCH_LOGS")) {
        std::ifstream log(capture + ".log");
        std::fprintf(stderr, "%s: no %d Hz within %lld s; it said:\n%s\n", argv[0].c_str(), freq,
                     static_cast<long long>(limit.count()),
                     std::string((std::istreambuf_iterator<char>(log)), {}).c_str());
    }
    return heard ? seconds : -1;
}

// The silence in a capture between the last stretch of from and the first
// stretch of to that follows it; -1 when there is none.
double silenceBetween(const std::string& capture, int from, int to) {
    bass_test::Capture c;
    if (!c.load(capture)) return -1;
    const auto tones = heardTones(c);
    for (size_t i = 1; i < tones.size(); ++i)
        if (tones[i - 1].freq == from && tones[i].freq == to)
            return tones[i].start - tones[i - 1].end;
    return -1;
}

struct Case {
    std::string name;
    std::function<double()> measure;  // seconds, -1 when it failed
};

void report(const std::vector<Case>& cases, const std::map<std::string, std::vector<double>>& all) {
    std::printf("\n%-62s %7s %7s %7s  (s, %zu rounds)\n", "case", "median", "min", "max",
                all.begin()->second.size());
    for (const Case& c : cases) {
        std::vector<double> v = all.at(c.name);
        const bool failed = std::any_of(v.begin(), v.end(), [](double x) { return x < 0; });
        std::sort(v.begin(), v.end());
        std::printf("%-62s %7.2f %7.2f %7.2f%s\n", c.name.c_str(), v[v.size() / 2], v.front(),
                    v.back(), failed ? "  (some rounds failed: -1)" : "");
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    if (!fs::exists(kavplay())) {
        std::fprintf(stderr, "stream_bench: run it in build/bin, beside kavplay\n");
        return 2;
    }
    TempDir dir;
    const std::string capture = dir.File("heard.wav");
    const std::string next = toneWav(dir.File("next.wav"), 3, kNextTone);
    const std::vector<std::string> kavEnv = {"KAV_CAPTURE_WAV=" + capture,
                                             "SSL_CERT_FILE=" + Certificates().trustedAuthority};
    auto kav = [&](std::vector<std::string> items) {
        items.insert(items.begin(), {kavplay(), "--null", "--library"});
        return items;
    };

    // Servers of the bench: Icecast, and ones that fail as the did.
    auto ice = std::make_unique<Icecast>();
    if (!ice->ok() || !ice->startSource("/live.mp3", false, kMountTone, "")) {
        std::fprintf(stderr, "stream_bench: icecast2 did not start\n%s", ice->logs().c_str());
        return 1;
    }
    RadioServer radio;
    LiveStream late;
    late.audio = mp3Tone(550);
    late.contentType.clear();
    late.offset = 1000;
    late.burstSeconds = 1;
    radio.route("/late", [&](Reply& r, const Request& q) { serveLive(r, q, late); });
    LiveStream live;
    live.audio = mp3Tone(660);
    radio.route("/live", [&](Reply& r, const Request& q) { serveLive(r, q, live); });
    LiveStream half = live;
    half.audio = mp3Tone(kMountTone);
    half.pace = [](double) { return 0.5; };
    radio.route("/half", [&](Reply& r, const Request& q) { serveLive(r, q, half); });
    radio.answer("/moved", "HTTP/1.0 302 Found\r\nLocation: live", "");
    const std::string dead = "http://127.0.0.1:" + std::to_string(closedPort()) + "/gone";
    radio.answer("/dead-first.pls", "HTTP/1.0 200 OK\r\nContent-Type: audio/x-scpls",
                 "[playlist]\nFile1=" + dead + "\nFile2=/live\n");
    radio.answer("/all-dead.m3u", "HTTP/1.0 200 OK\r\nContent-Type: audio/x-mpegurl",
                 dead + "\n" + dead + "\n");
    RadioServer silent;
    silent.route("/live", [](Reply& r, const Request&) { r.idle(); });
    TlsFront stranger(radio.port(), Certificates().strangerCert, Certificates().strangerKey);

    const bool haveMpv = std::system("command -v mpv >/dev/null 2>&1") == 0;
    std::vector<Case> cases = {
        {"first sound: Icecast MP3 mount, kavplay",
         [&] {
             return timeToTone(kav({ice->url("/live.mp3")}), kavEnv, capture, kMountTone, 20s);
         }},
        {"first sound: local WAV file, kavplay",
         [&] { return timeToTone(kav({next}), kavEnv, capture, kNextTone, 20s); }},
        {"first sound: MP3 joined 1,000 bytes in, no type, kavplay",
         [&] { return timeToTone(kav({radio.url("/late")}), kavEnv, capture, 550, 20s); }},
        {"first sound: relative redirect, kavplay",
         [&] { return timeToTone(kav({radio.url("/moved")}), kavEnv, capture, 660, 20s); }},
        {"first sound: .pls link, first entry dead, kavplay",
         [&] {
             return timeToTone(kav({radio.url("/dead-first.pls")}), kavEnv, capture, 660, 20s);
         }},
        {"next item: https, untrusted certificate",
         [&] {
             return timeToTone(kav({stranger.url("/live"), next}), kavEnv, capture, kNextTone, 20s);
         }},
        {"next item: .m3u link, no entry alive",
         [&] {
             return timeToTone(kav({radio.url("/all-dead.m3u"), next}), kavEnv, capture, kNextTone,
                               20s);
         }},
        {"next item: server gone (port closed)",
         [&] {
             return timeToTone(kav({dead, next}), kavEnv, capture, kNextTone, 20s);
         }},
        {"next item: server accepts and says nothing",
         [&] {
             return timeToTone(kav({silent.url("/live"), next}), kavEnv, capture, kNextTone, 20s);
         }},
        {"next item: stream at half rate (from the start)",
         [&] {
             return timeToTone(kav({radio.url("/half"), next}), kavEnv, capture, kNextTone, 90s);
         }},
        {"silence: Icecast source killed, to the next item",
         [&] {
             bool killed = false;
             const auto start = Clock::now();
             timeToTone(
                 kav({ice->url("/live.mp3"), next}), kavEnv, capture, kNextTone, 40s,
                 [&] {
                     if (!killed && Clock::now() - start > 4s) {
                         ice->killSource("/live.mp3");
                         killed = true;
                     }
                 },
                 500ms);
             ice->startSource("/live.mp3", false, kMountTone, "");
             return silenceBetween(capture, kMountTone, kNextTone);
         }},
        {"silence: Icecast server stopped, to the next item",
         [&] {
             bool stopped = false;
             const auto start = Clock::now();
             timeToTone(
                 kav({ice->url("/live.mp3"), next}), kavEnv, capture, kNextTone, 40s,
                 [&] {
                     if (!stopped && Clock::now() - start > 4s) {
                         ice->stop();
                         stopped = true;
                     }
                 },
                 500ms);
             ice = std::make_unique<Icecast>();
             ice->startSource("/live.mp3", false, kMountTone, "");
             return silenceBetween(capture, kMountTone, kNextTone);
         }},
    };
    if (haveMpv)
        cases.insert(cases.begin() + 1, {"first sound: Icecast MP3 mount, mpv", [&] {
                                             const std::string pcm = capture + ".mpv.wav";
                                             return timeToTone(
                                                 {"mpv", "--no-video", "--no-terminal",
                                                  "--no-config", "--ao=pcm", "--ao-pcm-file=" + pcm,
                                                  "--audio-format=s16", "--audio-samplerate=44100",
                                                  "--audio-channels=stereo", ice->url("/live.mp3")},
                                                 {}, pcm, kMountTone, 20s);
                                         }});
    else
        std::printf("mpv: not installed, measured without it\n");

    if (argc > 2)
        std::erase_if(cases,
                      [&](const Case& c) { return c.name.find(argv[2]) == std::string::npos; });
    if (cases.empty()) return 2;
    std::map<std::string, std::vector<double>> all;
    for (int r = 1; r <= rounds; ++r) {
        std::printf("round %d/%d\n", r, rounds);
        for (const Case& c : cases) {
            const double s = c.measure();
            all[c.name].push_back(s);
            std::printf("  %-62s %6.2f s\n", c.name.c_str(), s);
            std::fflush(stdout);
        }
    }
    report(cases, all);
    return 0;
}
