// How the running program keeps time, from what its null output captured, for
// one or more program directories in the same run (e.g. an older build's bin
// folder beside the current one), on the library path (Ogg) and on the
// plug-in path (MP3):
//
//  a) time entries that interrupt playing music: how late each entry's first
//     sound is beyond due time + fade + the 100 ms pause after the stop, over
//     runs started at random offsets within the second;
//  b) the same with [estacao] pontual=1 (only for builds that know the key):
//     first sound against the due time itself;
//  c) the silence at each join of many short playlist tracks, sample by sample.
//
//   schedule_bench [--runs N] [--entries N] [--tracks N] [--lengths N] [--only a|b|c]
//                  [--values] DIR...
//
// Every tone is a sine on the left and a cosine on the right, so no sample of
// a track is quiet on both channels (each frame has one channel above 0.35 of
// full scale): a sample quiet on both is silence, never a quiet stretch of
// music. A captured sample is taken as heard when the output mixed the 10 ms
// period that holds it (as a device without latency plays it); when the
// capture began is found from its growth, which the bench watches every
// millisecond.
#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "CaptureAnalysis.h"
#include "ProgramRun.h"

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using SysClock = std::chrono::system_clock;

namespace {

constexpr std::uint32_t kRate = 44100;
// Both channels at or below this: no sound (the tones never come below 11,000).
constexpr int kSilent = 64;
constexpr int kMusicA = 400, kMusicB = 600, kEntry = 1000, kKick = 1500;
constexpr int kFadeMs = 500;
constexpr int kPauseMs = 100;  // between the stop after a fade and the next start
constexpr int kEntryEveryMs = 3000;

struct Options {
    bool values = false;  // every value, in the order measured, runs apart
    int runs = 8;
    int entries = 6;
    int tracks = 101;
    // c): distinct track lengths, from 1 s up to one output period longer, so
    // that tracks end at as many places of a period (1: every track 1 s).
    int lengths = 1;
    std::string only;
    std::vector<std::string> dirs;
};

// --- the captured sound, both channels -------------------------------------

struct Stereo {
    std::vector<std::int16_t> lr;
    size_t Frames() const { return lr.size() / 2; }
    bool Silent(size_t i) const {
        return std::abs(int(lr[2 * i])) <= kSilent && std::abs(int(lr[2 * i + 1])) <= kSilent;
    }
};

bool ReadStereo(const std::string& path, Stereo& out) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() < 44 || std::memcmp(bytes.data(), "RIFF", 4) != 0) return false;
    std::uint16_t channels = 0, bits = 0;
    std::memcpy(&channels, &bytes[22], 2);
    std::memcpy(&bits, &bytes[34], 2);
    if (channels != 2 || bits != 16) return false;
    // Our capture writes a 44-byte header; the data size there may lag behind
    // what was written, so everything after it is read.
    out.lr.resize((bytes.size() - 44) / 4 * 2);
    std::memcpy(out.lr.data(), &bytes[44], out.lr.size() * 2);
    return true;
}

std::vector<capture::Frame> MonoFrames(const Stereo& s) {
    capture::Sound mono;
    mono.rate = kRate;
    mono.samples.resize(s.Frames());
    for (size_t i = 0; i < s.Frames(); ++i)
        mono.samples[i] = (float(s.lr[2 * i]) + float(s.lr[2 * i + 1])) / 65536.0f;
    return capture::Frames(mono, 0.01);
}

// The first sample of the sound that holds `inside`, or -1 when no silence
// comes before it within `limit` samples.
long Onset(const Stereo& s, size_t inside, size_t limit) {
    while (inside < s.Frames() && s.Silent(inside)) ++inside;
    for (size_t back = 0; back < limit && back < inside; ++back)
        if (s.Silent(inside - back - 1)) return long(inside - back);
    return -1;
}

// --- figures ---------------------------------------------------------------

double Quantile(std::vector<double> v, double q) {
    if (v.empty()) return NAN;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(q * double(v.size())))];
}

struct Result {
    std::vector<double> values;
    int missed = 0;                 // expected sounds not found
    int clockSlips = 0;             // entries left out: the capture lost its pace near them
    std::vector<size_t> runStarts;  // where each run's values begin
    std::string note;
};

// --- the program's time ----------------------------------------------------

// What the capture held when: the bench looks every millisecond.
struct Watch {
    std::vector<std::pair<SysClock::time_point, std::uintmax_t>> polls;
    // Each poll's bytes were all mixed by its time, the last period of them
    // at the capture's start + their length: the earliest bound is closest.
    SysClock::time_point Start(size_t from = 0, size_t to = SIZE_MAX) const {
        auto best = SysClock::time_point::max();
        for (size_t i = from; i < std::min(to, polls.size()); ++i) {
            if (polls[i].second <= 44) continue;
            const double played = double(polls[i].second - 44) / (kRate * 4.0);
            best = std::min(best, polls[i].first - std::chrono::duration_cast<SysClock::duration>(
                                                       std::chrono::duration<double>(played)));
        }
        return best;
    }
};

void WatchUntil(e2e::ProgramRun& run, SysClock::time_point until, Watch& watch) {
    while (SysClock::now() < until && run.Running()) {
        std::error_code ec;
        const std::uintmax_t bytes = fs::file_size(run.Capture(), ec);
        if (!ec) watch.polls.push_back({SysClock::now(), bytes});
        std::this_thread::sleep_for(1ms);
    }
}

SysClock::time_point LocalMidnight(SysClock::time_point t) {
    const std::time_t tt = SysClock::to_time_t(t);
    std::tm local{};
    localtime_r(&tt, &local);
    local.tm_hour = local.tm_min = local.tm_sec = 0;
    return SysClock::from_time_t(std::mktime(&local));
}

double Ms(SysClock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// The capture kept its pace around `when` if the start found from the growth
// seen within 2 s of it is the start found from the whole run: the output
// lets its pace go after falling 200 ms behind, which moves every later
// sample by at least that.
bool PaceHeld(const Watch& w, SysClock::time_point when) {
    const auto near = [&](SysClock::time_point at) {
        return std::lower_bound(
                   w.polls.begin(), w.polls.end(), at,
                   [](const auto& poll, SysClock::time_point t) { return poll.first < t; }) -
               w.polls.begin();
    };
    const SysClock::time_point local = w.Start(size_t(near(when - 2s)), size_t(near(when + 2s)));
    return std::abs(Ms(local - w.Start())) < 20.0;
}

// --- program runs ----------------------------------------------------------

// The null output's number, asked of each build's own library in a child, so
// that no library stays loaded here and no binding decides which one loads.
int NullDevice(const std::string& dir) {
    const pid_t child = fork();
    if (child == 0) {
        void* lib = dlopen((fs::path(dir) / "bass.dll").c_str(), RTLD_NOW | RTLD_LOCAL);
        using Describe = const char* (*)(int);
        const auto describe =
            lib ? reinterpret_cast<Describe>(dlsym(lib, "BASS_GetDeviceDescription")) : nullptr;
        int device = 0;
        for (int i = 1; describe && i < 256; ++i) {
            const char* name = describe(i);
            if (!name) break;
            device = i;
            if (std::strstr(name, "null")) break;
        }
        std::_Exit(device);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 0;
}

bool KnowsPunctual(const std::string& dir) {
    std::ifstream in(fs::path(dir) / "kav", std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return text.find("pontual") != std::string::npos;
}

// A tone in the path's format; `copies` files of it, named name0.ext...
std::vector<std::string> ToneFiles(e2e::ProgramRun& run, const std::string& name, double seconds,
                                   int frequency, const std::string& ext, int copies) {
    const std::string wav = (run.Dir() / (name + ".wav")).string();
    std::string command = "sox -n -r 44100 -c 2 -b 16 '" + wav + "' synth " +
                          std::to_string(seconds) + " sine " + std::to_string(frequency) +
                          " 0 0 sine " + std::to_string(frequency) + " 0 25 vol 0.5";
    if (std::system(command.c_str()) != 0) return {};
    std::string file = wav;
    if (ext != "wav") {
        file = (run.Dir() / (name + "." + ext)).string();
        command = ext == "ogg" ? "oggenc -Q '" + wav + "' -o '" + file + "'"
                               : "lame --quiet -b 128 '" + wav + "' '" + file + "'";
        if (std::system(command.c_str()) != 0) return {};
    }
    std::vector<std::string> files;
    for (int i = 0; i < copies; ++i) {
        const std::string copy = (run.Dir() / (name + std::to_string(i) + "." + ext)).string();
        fs::copy_file(file, copy);
        files.push_back(copy);
    }
    return files;
}

std::vector<std::string> Ini(int device, bool punctual) {
    std::vector<std::string> ini = {"[varios]",      "dev=" + std::to_string(device),
                                    "pln=0",         "tfade=" + std::to_string(kFadeMs),
                                    "volume=255",    "repetepl=0",
                                    "autobaralhar=0"};
    if (punctual) ini.insert(ini.end(), {"[estacao]", "pontual=1"});
    return ini;
}

bool Finish(e2e::ProgramRun& run, Stereo& sound) {
    int status = 0;
    if (!run.Terminate(10s, status)) {
        run.Kill();
        std::fprintf(stderr, "  the program did not end on SIGTERM\n");
    }
    if (!ReadStereo(run.Capture(), sound)) {
        std::fprintf(stderr, "  no capture: %s\n", run.Stderr().c_str());
        return false;
    }
    return true;
}

// A kick entry starts the playlist; `count` time entries follow, kEntryEveryMs
// apart, each cutting a playing track after a fade. The program starts at a
// random offset within the second. Adds each entry's first sound against its
// due time, in ms.
bool EntryRun(const std::string& dir, int device, const std::string& ext, int count, bool punctual,
              std::mt19937& random, Result& out) {
    setenv("KAV_BIN_DIR", dir.c_str(), 1);
    e2e::ProgramRun run;
    const auto music = ToneFiles(run, "m", 8, kMusicA, ext, count + 2);
    const auto entry = ToneFiles(run, "e", 0.4, kEntry, ext, 1);
    const auto kick = ToneFiles(run, "k", 0.3, kKick, ext, 1);
    if (music.empty() || entry.empty() || kick.empty()) return false;
    const unsigned phase = std::uniform_int_distribution<unsigned>(0, 999)(random);
    while (e2e::LocalTimeOfDayMs() % 1000 != phase) std::this_thread::sleep_for(100us);
    const std::uint32_t kickAt = (e2e::LocalTimeOfDayMs() / 1000 + 3) * 1000;
    if (kickAt + count * kEntryEveryMs + 10'000 > 86'400'000u) return false;
    std::vector<std::string> programme = {"#EXTM3U", "#KAVINF:" + e2e::TimeText(kickAt), kick[0]};
    std::vector<std::uint32_t> due;
    for (int i = 1; i <= count; ++i) {
        due.push_back(kickAt + std::uint32_t(i * kEntryEveryMs));
        programme.insert(programme.end(), {"#KAVINF:" + e2e::TimeText(due.back()), entry[0]});
    }
    std::vector<std::string> playlist = {"#EXTM3U"};
    playlist.insert(playlist.end(), music.begin(), music.end());
    run.WriteLines("prgm.m3u", programme);
    run.WriteLines("pl.m3u", playlist);
    run.WriteLines("kav.ini", Ini(device, punctual));
    if (!run.Start()) return false;
    const auto midnight = LocalMidnight(run.StartedAt());
    const auto at = [&](std::uint32_t ms) { return midnight + std::chrono::milliseconds(ms); };
    Watch watch;
    WatchUntil(run, at(due.back()) + 1500ms, watch);
    Stereo sound;
    if (!Finish(run, sound)) return false;

    const auto start = watch.Start() + 10ms;  // sample 0 heard
    out.runStarts.push_back(out.values.size());
    std::vector<capture::Tone> heard;
    for (const capture::Tone& t : capture::Tones(MonoFrames(sound), {double(kEntry)}))
        if (t.Length() > 0.2) heard.push_back(t);
    for (std::uint32_t d : due) {
        if (!PaceHeld(watch, at(d))) {
            ++out.clockSlips;
            continue;
        }
        const double dueAt = Ms(at(d) - start) / 1000.0;  // in the capture, s
        const auto found = std::find_if(heard.begin(), heard.end(), [&](const capture::Tone& t) {
            return t.start > dueAt - 1.5 && t.start < dueAt + 1.5;
        });
        if (found == heard.end()) {
            ++out.missed;
            continue;
        }
        const long onset = Onset(sound, size_t((found->start + 0.015) * kRate), kRate / 5);
        if (onset < 0) {
            ++out.missed;
            std::fprintf(stderr, "  an entry followed sound without silence\n");
            continue;
        }
        // Without the option the entry may sound only after the fade and
        // the pause that follows the stop.
        const double ms = (double(onset) / kRate - dueAt) * 1000.0;
        out.values.push_back(punctual ? ms : ms - kFadeMs - kPauseMs);
    }
    return true;
}

// The files of one pitch for the join run: `copies` of each of `lengths`
// lengths between 1 s and one output period (10 ms) more, length by length.
std::vector<std::vector<std::string>> JoinFiles(e2e::ProgramRun& run, const std::string& name,
                                                int frequency, const std::string& ext, int lengths,
                                                int copies) {
    std::vector<std::vector<std::string>> files;
    for (int k = 0; k < lengths; ++k) {
        const double seconds = 1.0 + 0.010 * k / lengths;
        files.push_back(
            ToneFiles(run, name + std::to_string(k) + "_", seconds, frequency, ext, copies));
        if (files.back().empty()) return {};
    }
    return files;
}

// `tracks` tracks of alternating pitch and about 1 s (`lengths` lengths in
// turn), started by a kick entry and left to follow each other. Adds, per
// join, the silent samples between the middle of one track and the middle of
// the next.
bool JoinRun(const std::string& dir, int device, const std::string& ext, int tracks, int lengths,
             Result& out) {
    setenv("KAV_BIN_DIR", dir.c_str(), 1);
    e2e::ProgramRun run;
    const int copies = (tracks + 1) / 2 / lengths + 1;
    const auto a = JoinFiles(run, "a", kMusicA, ext, lengths, copies);
    const auto b = JoinFiles(run, "b", kMusicB, ext, lengths, copies);
    const auto kick = ToneFiles(run, "k", 0.3, kKick, ext, 1);
    if (a.empty() || b.empty() || kick.empty()) return false;
    std::vector<std::string> playlist = {"#EXTM3U"};
    for (int i = 0; i < tracks; ++i) {
        const size_t pair = size_t(i / 2), length = pair % size_t(lengths);
        playlist.push_back((i % 2 ? b : a)[length][pair / size_t(lengths)]);
    }
    const std::uint32_t kickAt = (e2e::LocalTimeOfDayMs() / 1000 + 3) * 1000;
    run.WriteLines("prgm.m3u", {"#EXTM3U", "#KAVINF:" + e2e::TimeText(kickAt), kick[0]});
    run.WriteLines("pl.m3u", playlist);
    run.WriteLines("kav.ini", Ini(device, false));
    if (!run.Start()) return false;
    // Room for a tenth of a second of silence at every join.
    const auto end = LocalMidnight(run.StartedAt()) + std::chrono::milliseconds(kickAt) +
                     std::chrono::milliseconds(1100 * tracks + 3000);
    Watch watch;
    WatchUntil(run, end, watch);
    Stereo sound;
    if (!Finish(run, sound)) return false;

    std::vector<capture::Tone> heard;
    for (const capture::Tone& t : capture::Tones(MonoFrames(sound), {kMusicA, kMusicB}))
        if (t.Length() > 0.5) heard.push_back(t);
    out.missed += tracks - int(heard.size());
    for (size_t i = 1; i < heard.size(); ++i) {
        if (heard[i].frequency == heard[i - 1].frequency) continue;  // a track was lost
        const size_t from = size_t((heard[i - 1].start + heard[i - 1].end) / 2 * kRate);
        const size_t to =
            std::min(sound.Frames(), size_t((heard[i].start + heard[i].end) / 2 * kRate));
        size_t silent = 0;
        for (size_t s = from; s < to; ++s) silent += sound.Silent(s);
        out.values.push_back(double(silent));
    }
    return true;
}

// --- the report --------------------------------------------------------------

std::string Cell(const char* format, double a, double b, double c) {
    char text[96];
    std::snprintf(text, sizeof text, format, a, b, c);
    return text;
}

void PrintRow(const std::string& label, const std::vector<std::string>& cells) {
    std::printf("%-44s", label.c_str());
    for (const std::string& c : cells) std::printf(" | %-34s", c.c_str());
    std::printf("\n");
}

std::string Counts(const Result& r) {
    std::string text = "n=" + std::to_string(r.values.size());
    if (r.missed) text += ", missed " + std::to_string(r.missed);
    if (r.clockSlips)
        text += ", left out " + std::to_string(r.clockSlips) + " (capture lost its pace)";
    return text;
}

std::string Lateness(const Result& r) {
    if (r.values.empty()) return "-";
    return Cell("%.1f / %.1f / %.1f ms", Quantile(r.values, 0.5), Quantile(r.values, 0.9),
                Quantile(r.values, 1.0));
}

std::string Distance(const Result& r) {
    if (r.values.empty()) return "-";
    return Cell("%+.1f / %+.1f / %+.1f ms", Quantile(r.values, 0.0), Quantile(r.values, 0.5),
                Quantile(r.values, 1.0));
}

std::string Joins(const Result& r) {
    if (r.values.empty()) return "-";
    const double zero = double(std::count(r.values.begin(), r.values.end(), 0.0));
    const double med = Quantile(r.values, 0.5), worst = Quantile(r.values, 1.0);
    char text[96];
    std::snprintf(text, sizeof text, "%.0f/%.0f smp (%.1f/%.1f ms), %.0f at 0", med, worst,
                  med * 1000 / kRate, worst * 1000 / kRate, zero);
    return text;
}

void PrintValues(const std::map<std::string, std::vector<Result>>& figures) {
    for (const auto& [key, results] : figures) {
        for (size_t d = 0; d < results.size(); ++d) {
            const Result& r = results[d];
            if (r.values.empty()) continue;
            std::printf("\n%s [%zu]:", key.c_str(), d + 1);
            for (size_t i = 0; i < r.values.size(); ++i) {
                if (std::find(r.runStarts.begin(), r.runStarts.end(), i) != r.runStarts.end())
                    std::printf(" |");
                std::printf(" %.1f", r.values[i]);
            }
        }
    }
    std::printf("\n");
}

Options Parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--runs" && hasValue)
            o.runs = std::atoi(argv[++i]);
        else if (arg == "--entries" && hasValue)
            o.entries = std::atoi(argv[++i]);
        else if (arg == "--tracks" && hasValue)
            o.tracks = std::atoi(argv[++i]);
        else if (arg == "--lengths" && hasValue)
            o.lengths = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--values")
            o.values = true;
        else if (arg == "--only" && hasValue)
            o.only = argv[++i];
        else
            o.dirs.push_back(fs::absolute(arg).string());
    }
    if (o.dirs.empty()) {
        const char* dir = std::getenv("KAV_BIN_DIR");
        o.dirs.push_back(dir && *dir ? dir : fs::current_path().string());
    }
    return o;
}

std::string Uptime() {
    std::ifstream in("/proc/loadavg");
    std::string a, b, c;
    in >> a >> b >> c;
    return a + " " + b + " " + c;
}

}  // namespace

int main(int argc, char** argv) {
    const Options o = Parse(argc, argv);
    std::mt19937 random(std::random_device{}());
    const std::vector<std::pair<std::string, std::string>> paths = {{"library", "ogg"},
                                                                    {"plug-in", "mp3"}};
    // Figures by (part, path), one Result per directory.
    std::map<std::string, std::vector<Result>> figures;
    std::printf("load before: %s\n", Uptime().c_str());
    for (size_t d = 0; d < o.dirs.size(); ++d) {
        const std::string& dir = o.dirs[d];
        const int device = NullDevice(dir);
        if (device <= 0) return std::fprintf(stderr, "%s: no null output\n", dir.c_str()), 1;
        std::printf("[%zu] %s (null output %d)\n", d + 1, dir.c_str(), device);
        std::fflush(stdout);
        for (const auto& [path, ext] : paths) {
            for (const bool punctual : {false, true}) {
                const std::string part = punctual ? "b" : "a";
                if (!o.only.empty() && o.only != part) continue;
                Result& r = figures[part + " " + path].emplace_back();
                if (punctual && !KnowsPunctual(dir)) {
                    r.note = "no such option";
                    continue;
                }
                for (int i = 0; i < o.runs; ++i)
                    if (!EntryRun(dir, device, ext, o.entries, punctual, random, r))
                        std::fprintf(stderr, "  an entry run failed\n");
                std::printf("  %s %s: %s\n", part.c_str(), path.c_str(), Counts(r).c_str());
                std::fflush(stdout);
            }
            if (!o.only.empty() && o.only != "c") continue;
            Result& r = figures["c " + path].emplace_back();
            if (!JoinRun(dir, device, ext, o.tracks, o.lengths, r))
                std::fprintf(stderr, "  join run failed\n");
            std::printf("  c %s: %s\n", path.c_str(), Counts(r).c_str());
            std::fflush(stdout);
        }
    }
    std::printf("load after: %s\n\n", Uptime().c_str());

    std::vector<std::string> header;
    for (size_t d = 0; d < o.dirs.size(); ++d) header.push_back("[" + std::to_string(d + 1) + "]");
    PrintRow("", header);
    for (const auto& [path, ext] : paths) {
        const auto row = [&](const std::string& key, const std::string& label, auto format) {
            const auto found = figures.find(key + " " + path);
            if (found == figures.end()) return;
            std::vector<std::string> cells, counts;
            for (const Result& r : found->second) {
                cells.push_back(r.note.empty() ? format(r) : r.note);
                counts.push_back(r.note.empty() ? Counts(r) : "");
            }
            PrintRow(label + ", " + path + " (" + ext + ")", cells);
            PrintRow("", counts);
        };
        row("a", "a) past due+fade+100 med/p90/worst", Lateness);
        row("b", "b) pontual=1 vs due min/med/max", Distance);
        row("c", "c) join silence med/worst", Joins);
    }
    if (o.values) PrintValues(figures);
    std::fflush(nullptr);
    std::_Exit(0);
}
