// nowplaying_bench [SECONDS [ROUNDS]]: what telling what plays costs.
//  1. The built program playing by itself (kav --headless --play, the null
//     output at real-time pace) through a playlist of 10 s tracks, that is
//     360 changes an hour, far more than a station's 15 to 20: with the
//     as-run log, the now-playing files and MPRIS on a private session bus
//     ([estacao] registo, agora, mpris = 1), and with all three off; a second
//     run without them measures the noise. The CPU time of the process over
//     SECONDS (40 by default) after its start-up, scaled to an hour, and its
//     resident memory then; medians over ROUNDS rounds (3), the order
//     rotating.
//  2. In one process: the notifier, the log's line, the now-playing texts
//     and the writer's thread writing both, per item (CPU time of the whole
//     process over 20,000 items, in a folder beside this program).
//  3. kavreport over a made-up month (30 files, about 10,000 lines): wall
//     time, median of 5.
// Runs itself again under dbus-run-session when there is no session bus.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "FileListeners.h"
#include "FileWriter.h"
#include "Notifier.h"
#include "platform/bassbind/Dynamic_BASS.h"
#include "tests/nowplaying/MonthOfLogs.h"

extern char** environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

void writeLines(const fs::path& path, const std::vector<std::string>& lines) {
    std::ofstream out(path, std::ios::binary);
    for (const std::string& line : lines) out << line << "\r\n";
}

bool sh(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

// utime + stime of a live process, in seconds.
double cpuOf(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), {});
    const size_t paren = text.rfind(')');
    if (paren == std::string::npos) return -1;
    std::vector<std::string> fields;
    for (size_t at = paren + 2, end; at < text.size(); at = end + 1) {
        end = text.find(' ', at);
        if (end == std::string::npos) end = text.size();
        fields.push_back(text.substr(at, end - at));
    }
    // Fields 14 and 15 of the line; the first after the name is field 3.
    return fields.size() > 13
               ? double(std::stoull(fields[11]) + std::stoull(fields[12])) / sysconf(_SC_CLK_TCK)
               : -1;
}

double rssMbOf(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    return -1;
}

pid_t spawnKav(const fs::path& dir) {
    std::vector<std::string> env = {"QT_QPA_PLATFORM=offscreen"};
    for (char** e = environ; *e; ++e)
        if (std::string(*e).rfind("KAV_", 0) != 0) env.push_back(*e);
    std::vector<char*> envp;
    for (std::string& s : env) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::string exe = (dir / "kav").string(), headless = "--headless", play = "--play";
    char* argv[] = {exe.data(), headless.data(), play.data(), nullptr};
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawn(&pid, exe.c_str(), &quiet, nullptr, argv, envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&quiet);
    return pid;
}

void stop(pid_t pid) {
    kill(pid, SIGTERM);
    for (int i = 0; i < 200; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

struct Sample {
    double cpuPerHour = 0, rssMb = 0;
};

// One run: the start-up left out, then `seconds` of playing measured.
Sample playFor(const fs::path& dir, int device, bool on, double seconds) {
    const char* flag = on ? "1" : "0";
    writeLines(dir / "kav.ini",
               {"[varios]", "dev=" + std::to_string(device), "pln=0", "repetepl=1",
                "autobaralhar=0", "volume=255", "[estacao]", std::string("registo=") + flag,
                std::string("agora=") + flag, std::string("mpris=") + flag});
    fs::remove_all(dir / "emissao");
    const pid_t pid = spawnKav(dir);
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const double before = cpuOf(pid);
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    Sample s{(cpuOf(pid) - before) * 3600.0 / seconds, rssMbOf(pid)};
    stop(pid);
    return s;
}

void playback(const fs::path& bin, double seconds, int rounds) {
    const fs::path dir =
        fs::temp_directory_path() / ("kav-nowplaying-bench-" + std::to_string(getpid()));
    fs::create_directories(dir);
    for (const auto& entry : fs::directory_iterator(bin)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_regular_file() && (name == "kav" || name.ends_with(".dll")))
            fs::copy_file(entry.path(), dir / name, fs::copy_options::overwrite_existing);
    }
    std::vector<std::string> playlist;
    for (int i = 0; i < 6; ++i) {
        const std::string wav = (dir / ("t" + std::to_string(i) + ".wav")).string();
        const std::string mp3 = wav.substr(0, wav.size() - 4) + ".mp3";
        sh("sox -n -r 44100 -c 2 -b 16 '" + wav + "' synth 10 sine " +
           std::to_string(400 + 100 * i) + " vol 0.5");
        sh("lame --quiet -b 128 --tt 'Faixa " + std::to_string(i) + "' --ta 'Artista' '" + wav +
           "' '" + mp3 + "'");
        playlist.push_back(i % 2 ? wav : mp3);
    }
    writeLines(dir / "pl.m3u", playlist);
    int device = 0;
    if (Load_BASSDLL((dir / "bass.dll").string()))
        for (int i = 1; BASS_GetDeviceDescription(i); ++i) device = i;  // the null output is last

    std::vector<double> on, off, noise, rssOn, rssOff;
    for (int r = 0; r < rounds; ++r) {
        for (int k = 0; k < 3; ++k) {
            switch ((r + k) % 3) {
                case 0: {
                    const Sample s = playFor(dir, device, true, seconds);
                    on.push_back(s.cpuPerHour);
                    rssOn.push_back(s.rssMb);
                    break;
                }
                case 1: {
                    const Sample s = playFor(dir, device, false, seconds);
                    off.push_back(s.cpuPerHour);
                    rssOff.push_back(s.rssMb);
                    break;
                }
                default:
                    noise.push_back(playFor(dir, device, false, seconds).cpuPerHour);
            }
        }
    }
    std::printf("Playing 10 s tracks (360 changes an hour), %.0f s measured, %d rounds, medians:\n",
                seconds, rounds);
    std::printf("  log, now-playing files and MPRIS on: %7.1f s CPU per hour, %6.1f MB resident\n",
                median(on), median(rssOn));
    std::printf("  all three off:                       %7.1f s CPU per hour, %6.1f MB resident\n",
                median(off), median(rssOff));
    std::printf("  off again (the noise):               %7.1f s CPU per hour\n", median(noise));
    std::printf("  added: %+.1f s CPU per hour (%.3f%% of a core), %+.1f MB\n",
                median(on) - median(off), (median(on) - median(off)) / 36.0,
                median(rssOn) - median(rssOff));
    std::error_code ec;
    fs::remove_all(dir, ec);
}

double processCpu() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void perItem(const fs::path& bin) {
    const fs::path dir = bin / ("nowplaying-bench-" + std::to_string(getpid()));
    fs::create_directories(dir);
    constexpr int kItems = 20'000;
    const double before = processCpu();
    {
        nowplaying::FileWriter writer((dir / "emissao").string(), dir.string(), nullptr);
        nowplaying::AsRunLog log(writer);
        nowplaying::NowPlayingFiles files(writer, "");
        nowplaying::Notifier notifier;
        notifier.Subscribe(log);
        notifier.Subscribe(files);
        std::int64_t now = nowplaying::WallClockMs();
        for (int i = 0; i < kItems; ++i) {
            notifier.Opened({nowplaying::kPlaylist, unsigned(i % 200 + 1), "",
                             "/srv/musica/faixa " + std::to_string(i) + ".mp3"});
            notifier.Started(now, true, 230, {"Artista", "Faixa " + std::to_string(i), 180'000},
                             true);
            for (int t = 1; t <= 30; ++t) notifier.Tick(now + 100 * t, true, true, 230 + 100 * t);
            notifier.Ended(now + 180'000);
            now += 180'000;
            // A station writes a line every few minutes: here the queue is
            // kept from overflowing now and then.
            if (i % 200 == 199) writer.WaitIdle(std::chrono::seconds(10));
        }
        writer.WaitIdle(std::chrono::seconds(30));
    }
    const double cpu = processCpu() - before;
    std::printf(
        "In one process, per item (notifier, log line, now-playing files written): "
        "%.1f us CPU\n",
        cpu / kItems * 1e6);
    std::error_code ec;
    fs::remove_all(dir, ec);
}

void report(const fs::path& bin) {
    const fs::path dir = fs::temp_directory_path() / ("kav-month-" + std::to_string(getpid()));
    const month::Expected e = month::Write(dir / "emissao");
    std::vector<double> times;
    for (int i = 0; i < 5; ++i) {
        const auto start = Clock::now();
        sh("'" + (bin / "kavreport").string() + "' '" + dir.string() + "' >/dev/null 2>&1");
        times.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    }
    std::printf("kavreport over a month (30 files, %d lines, %zu damaged): %.3f s (median of 5)\n",
                e.lines, e.damaged.size(), median(times));
    std::error_code ec;
    fs::remove_all(dir, ec);
}

}  // namespace

int main(int argc, char** argv) {
    const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if ((!bus || !*bus) && !std::getenv("KAV_BENCH_NO_BUS")) {
        ::setenv("KAV_BENCH_NO_BUS", "1", 1);  // once
        std::vector<char*> args = {const_cast<char*>("dbus-run-session"), const_cast<char*>("--")};
        for (int i = 0; i < argc; ++i) args.push_back(argv[i]);
        args.push_back(nullptr);
        ::execvp("dbus-run-session", args.data());
        std::fprintf(stderr, "no session bus, and dbus-run-session did not start: MPRIS idle\n");
    }
    const double seconds = argc > 1 ? std::atof(argv[1]) : 40;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    const fs::path bin = fs::canonical("/proc/self/exe").parent_path();
    perItem(bin);
    report(bin);
    playback(bin, seconds, rounds);
    return 0;
}
