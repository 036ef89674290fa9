// idle_bench [SECONDS]: the CPU and the context switches per second of the
// built kav, first idle (window shown, nothing to play), then playing one
// MP3 from a programme entry, each over SECONDS (60 by default), on the null
// output; then `mpv --no-video --ao=null` on the same file where mpv is
// installed. The program runs from a directory of its own beside a copy of
// its libraries, with its own kav.ini and lists.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/bassbind/Dynamic_BASS.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

// Seconds of CPU and context switches (voluntary and not) of a process so far.
struct Usage {
    double cpu = 0;
    long long switches = 0;
    long long wakeups = 0;  // voluntary switches: the times a thread went to sleep
};

Usage usageOf(pid_t pid) {
    Usage u;
    const std::string proc = "/proc/" + std::to_string(pid);
    std::ifstream stat(proc + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) u.cpu += std::stod(field);
        if (i == 15) u.cpu += std::stod(field);
    }
    u.cpu /= static_cast<double>(sysconf(_SC_CLK_TCK));
    for (const auto& task : fs::directory_iterator(proc + "/task")) {
        std::ifstream status(task.path() / "status");
        for (std::string line; std::getline(status, line);)
            if (line.find("ctxt_switches:") != std::string::npos) {
                const long long n = std::atoll(line.c_str() + line.find(':') + 1);
                u.switches += n;
                if (line.rfind("voluntary", 0) == 0) u.wakeups += n;
            }
    }
    return u;
}

pid_t spawn(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string var = *e;
        if (var.rfind("QT_QPA_PLATFORM=", 0) != 0 && var.rfind("KAV_", 0) != 0) env.push_back(var);
    }
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    std::vector<char*> argv, envp;
    std::vector<std::string> a = args;
    for (std::string& s : a) argv.push_back(s.data());
    argv.push_back(nullptr);
    for (std::string& s : env) envp.push_back(s.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &quiet, nullptr, argv.data(), envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&quiet);
    return pid;
}

void stop(pid_t pid) {
    kill(pid, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

// Measures pid over seconds after settle seconds; prints one line.
void measure(const char* name, pid_t pid, int settle, int seconds) {
    std::this_thread::sleep_for(std::chrono::seconds(settle));
    const Usage a = usageOf(pid);
    const auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const Usage b = usageOf(pid);
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("%-28s %6.2f %% of a core, %7.1f wake-ups/s, %7.1f context switches/s\n", name,
                100.0 * (b.cpu - a.cpu) / wall, (b.wakeups - a.wakeups) / wall,
                (b.switches - a.switches) / wall);
    std::fflush(stdout);
}

void writeLines(const fs::path& path, const std::vector<std::string>& lines) {
    std::ofstream out(path, std::ios::binary);
    for (const std::string& line : lines) out << line << "\r\n";
}

std::string clockText(std::time_t t) {
    std::tm local{};
    localtime_r(&t, &local);
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

int nullDevice(const fs::path& dir) {
    if (!Load_BASSDLL((dir / "bass.dll").string())) return 0;
    int last = 0;
    for (int i = 1; i < 256 && BASS_GetDeviceDescription(i); ++i) last = i;
    return last;  // the null output is always the last
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    const fs::path bin = fs::read_symlink("/proc/self/exe").parent_path();
    const fs::path dir = fs::temp_directory_path() / ("kav-idle-" + std::to_string(getpid()));
    fs::create_directories(dir);
    for (const auto& e : fs::directory_iterator(bin)) {
        const std::string name = e.path().filename().string();
        if (e.is_regular_file() && (name == "kav" || name.ends_with(".dll")))
            fs::copy_file(e.path(), dir / name);
    }
    const std::string wav = (dir / "tone.wav").string(), mp3 = (dir / "tone.mp3").string();
    const std::string make =
        "sox -n -r 44100 -c 2 -b 16 '" + wav + "' synth " + std::to_string(seconds + 40) +
        " sine 220-880 vol 0.5 >/dev/null 2>&1 && lame --quiet -b 128 '" + wav + "' '" + mp3 + "'";
    if (std::system(make.c_str()) != 0) {
        std::fprintf(stderr, "cannot make the MP3 (sox, lame)\n");
        return 1;
    }
    const int device = nullDevice(dir);
    std::printf("kav on the null output, %d s each:\n", seconds);
    const std::vector<std::string> env = {"QT_QPA_PLATFORM=offscreen"};
    const std::vector<std::string> ini = {"[varios]", "dev=" + std::to_string(device), "volume=255",
                                          "autobaralhar=0"};
    writeLines(dir / "kav.ini", ini);
    writeLines(dir / "pl.m3u", {"#EXTM3U"});
    writeLines(dir / "prgm.m3u", {"#EXTM3U"});
    pid_t kav = spawn({(dir / "kav").string()}, env);
    if (kav <= 0) return 1;
    measure("kav idle", kav, 5, seconds);
    stop(kav);

    // The programme entry starts a few seconds after the program.
    const std::time_t at = std::time(nullptr) + 4;
    writeLines(dir / "kav.ini", ini);
    writeLines(dir / "prgm.m3u", {"#EXTM3U", "#KAVINF:" + clockText(at), mp3});
    kav = spawn({(dir / "kav").string()}, env);
    if (kav <= 0) return 1;
    measure("kav playing one MP3", kav, 8, seconds);
    stop(kav);

    const pid_t mpv = spawn({"mpv", "--no-video", "--ao=null", "--really-quiet", mp3}, {});
    if (mpv > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        if (waitpid(mpv, nullptr, WNOHANG) == 0) {
            measure("mpv --no-video --ao=null", mpv, 2, seconds);
            stop(mpv);
        } else {
            std::printf("mpv: not installed or failed to start\n");
        }
    }
    fs::remove_all(dir);
    return 0;
}
