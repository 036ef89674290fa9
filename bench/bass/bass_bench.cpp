// bass_bench [ROUNDS]: the CPU an MP3 costs per extra minute of audio, each
// side measured the same way, as whole processes: this program plays the file
// through bass.dll to the unpaced null output (and, in another process,
// through the engine with in_mp3.dll preferred, as the program starts), and
// `ffmpeg -f null` and `mpg123 -t` decode it. Each runs on a 60 s and a 300 s
// file made with sox and lame; the difference over the four extra minutes
// takes every start-up out. Rounds are interleaved, the medians printed with
// the ratios to ffmpeg and mpg123.
#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "engine/BASSPlayer.h"
#include "platform/bassbind/Dynamic_BASS.h"
#include "platform/win/Messages.h"
#include "platform/win/ProgramDir.h"

namespace {

double cpuSeconds(const rusage& r) {
    return double(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
           double(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

double selfCpu() {
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return cpuSeconds(r);
}

std::atomic<bool> ended{false};
void onEnd(HSYNC, DWORD, DWORD_PTR, void*) {
    ended.store(true);
    ended.notify_all();
}

struct Measure {
    double cpu = 0, audio = 0, wall = 0;
    double perMinute() const { return cpu * 60.0 / audio; }
};

// Loads bass.dll for the unpaced, uncaptured null output; its device number.
int loadForNullOutput() {
    ::setenv("KAV_NULL_PACE", "0", 1);
    ::unsetenv("KAV_CAPTURE_WAV");
    if (!Load_BASSDLL(win::ProgramDir() + "/bass.dll")) return 0;
    int nullDevice = 1;
    while (BASS_GetDeviceDescription(nullDevice + 1)) ++nullDevice;
    return nullDevice;
}

// CPU seconds and audio seconds of playing path through the library.
bool measureLibrary(const std::string& path, Measure& m) {
    const int nullDevice = loadForNullOutput();
    if (!nullDevice || !BASS_Init(nullDevice, 44100, 0, nullptr, nullptr)) return false;
    const double cpu0 = selfCpu();
    const auto wall0 = std::chrono::steady_clock::now();
    HSTREAM h = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, 0);
    if (!h) return false;
    m.audio = BASS_ChannelBytes2Seconds(h, BASS_StreamGetLength(h));
    BASS_ChannelSetSync(h, BASS_SYNC_END, 0, onEnd, nullptr);
    if (!BASS_StreamPlay(h, FALSE, 0)) return false;
    ended.wait(false);  // both sides wait for the end without polling
    m.cpu = selfCpu() - cpu0;
    m.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    BASS_StreamFree(h);
    Unload_BASSDLL();
    return true;
}

// Runs the event loop, as the program does, until ended or the limit; false
// on the limit.
bool runUntil(const bool& ended, QEventLoop& loop, std::chrono::seconds limit) {
    QTimer::singleShot(limit, &loop, &QEventLoop::quit);
    if (!ended) loop.exec();
    return ended;
}

// CPU seconds and audio seconds of the engine playing path through in_mp3.dll,
// set up as the program starts: the plug-ins loaded, PluginFirst set.
bool measurePlugin(const std::string& path, Measure& m) {
    StartupDevice = static_cast<uint8_t>(loadForNullOutput());
    if (!StartupDevice) return false;
    TBASSPlayer player;
    if (!player.PlayerReady()) return false;
    for (const char* name : {"in_mp3.dll", "in_wave.dll"})
        if (LoadWinampPlugin(name) != PLUGIN_OK) std::fprintf(stderr, "%s not loaded\n", name);
    player.SetPluginFirst(true);
    bool ended = false;
    QEventLoop loop;
    player.OnPlayEnd = [&](TBASSPlayer*) {
        ended = true;
        loop.quit();
    };
    const double cpu0 = selfCpu();
    const auto wall0 = std::chrono::steady_clock::now();
    if (!player.OpenStream(path) || player.ChannelKind() != CHANNEL_PLUGIN) return false;
    if (GetPluginInfo(player.PluginIndex()).Name != "in_mp3.dll") return false;
    m.audio = player.LengthMs() / 1000.0;
    player.StartPlayback();
    if (player.PlayState() != PLAYSTATE_PLAYING) return false;
    if (!runUntil(ended, loop, std::chrono::seconds(600))) return false;
    m.cpu = selfCpu() - cpu0;
    m.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    return true;
}

// CPU seconds of a whole child process running argv, -1 when it fails.
double childCpu(const std::vector<std::string>& args) {
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        const int devNull = ::open("/dev/null", O_WRONLY);
        if (devNull >= 0) ::dup2(devNull, STDOUT_FILENO);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage r{};
    if (pid < 0 || wait4(pid, &status, 0, &r) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return cpuSeconds(r);
}

std::string makeFixture(const std::string& dir, int seconds) {
    const std::string base = dir + "/bench" + std::to_string(seconds);
    const std::string wav = base + ".wav", mp3 = base + ".mp3";
    const std::string cmd = "sox -n -r 44100 -c 2 -b 16 '" + wav + "' synth " +
                            std::to_string(seconds) +
                            " sine 220-880 sine 330-1320 vol 0.5 >/dev/null 2>&1 && "
                            "lame --quiet -b 128 '" +
                            wav + "' '" + mp3 + "' && rm -f '" + wav + "'";
    return std::system(cmd.c_str()) == 0 ? mp3 : std::string();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

// One way of decoding: the command line for a file.
struct Side {
    std::string name;
    std::function<std::vector<std::string>(const std::string&)> command;
    std::vector<double> shortCpu, longCpu;
    // CPU seconds per extra minute of audio: (long - short) over the minutes between.
    double perMinute(double extraMinutes) const {
        return (median(longCpu) - median(shortCpu)) / extraMinutes;
    }
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const std::string self = win::ProgramDir() + "/bass_bench";
    if (argc == 3) {  // one measured process: --library FILE or --plugin FILE
        Measure m;
        const std::string mode = argv[1];
        const bool ok =
            mode == "--library" ? measureLibrary(argv[2], m) : measurePlugin(argv[2], m);
        return ok && m.audio > 0 ? 0 : 1;
    }
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    char tmpl[] = "/tmp/kav-bass-bench-XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    const std::string dir = tmpl;
    constexpr int kShort = 60, kLong = 300;
    const std::string shortFile = makeFixture(dir, kShort), longFile = makeFixture(dir, kLong);
    if (shortFile.empty() || longFile.empty()) {
        std::fprintf(stderr, "cannot make the fixtures (sox, lame)\n");
        return 1;
    }
    std::vector<Side> sides = {{"bass.dll, unpaced null output",
                                [&](const std::string& f) {
                                    return std::vector<std::string>{self, "--library", f};
                                },
                                {},
                                {}},
                               {"in_mp3.dll through the engine",
                                [&](const std::string& f) {
                                    return std::vector<std::string>{self, "--plugin", f};
                                },
                                {},
                                {}},
                               {"ffmpeg -i file -f null -",
                                [](const std::string& f) {
                                    return std::vector<std::string>{
                                        "ffmpeg", "-hide_banner", "-loglevel", "error", "-i",
                                        f,        "-f",           "null",      "-"};
                                },
                                {},
                                {}},
                               {"mpg123 -t",
                                [](const std::string& f) {
                                    return std::vector<std::string>{"mpg123", "-q", "-t", f};
                                },
                                {},
                                {}}};
    for (int r = 0; r < rounds; ++r)
        for (Side& s : sides) {
            s.shortCpu.push_back(childCpu(s.command(shortFile)));
            s.longCpu.push_back(childCpu(s.command(longFile)));
        }
    std::filesystem::remove_all(dir);
    const double extra = (kLong - kShort) / 60.0;
    std::printf(
        "CPU s per extra minute of MP3 (%d s and %d s files, median of %d interleaved "
        "rounds, whole processes):\n",
        kShort, kLong, rounds);
    for (const Side& s : sides) {
        const bool failed =
            std::find(s.shortCpu.begin(), s.shortCpu.end(), -1.0) != s.shortCpu.end() ||
            std::find(s.longCpu.begin(), s.longCpu.end(), -1.0) != s.longCpu.end();
        if (failed) {
            std::printf("  %-32s failed to run\n", s.name.c_str());
            continue;
        }
        std::printf("  %-32s %.4f  (whole %d s file: %.3f CPU s)\n", s.name.c_str(),
                    s.perMinute(extra), kLong, median(s.longCpu));
    }
    for (int i = 0; i < 2; ++i)
        for (int peer = 2; peer < 4; ++peer)
            std::printf("ratio %s / %s: %.2f\n", sides[i].name.c_str(), sides[peer].name.c_str(),
                        sides[i].perMinute(extra) / sides[peer].perMinute(extra));
    return 0;
}
