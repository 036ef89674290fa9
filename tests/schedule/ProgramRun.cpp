#include "ProgramRun.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <thread>

#include "platform/bassbind/Dynamic_BASS.h"
#include "tests/support/BinDir.h"

extern char** environ;

namespace fs = std::filesystem;

namespace e2e {

namespace {}  // namespace

std::uint32_t LocalTimeOfDayMs() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&t, &local);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    return std::uint32_t(((local.tm_hour * 60 + local.tm_min) * 60 + local.tm_sec) * 1000 + ms);
}

std::string TimeText(std::uint32_t ms) {
    char text[16];
    const unsigned s = ms / 1000;
    std::snprintf(text, sizeof text, "%02u:%02u:%02u", s / 3600 % 24, s / 60 % 60, s % 60);
    return text;
}

ProgramRun::ProgramRun() {
    dir_ = fs::temp_directory_path() /
           ("kav-run-" + std::to_string(getpid()) + "-" + std::to_string(std::rand()));
    fs::create_directories(dir_);
    for (const auto& entry : fs::directory_iterator(TestBinDir())) {
        const std::string name = entry.path().filename().string();
        // The program and the libraries it loads by file name.
        if (!entry.is_regular_file() || (name != "kav" && !name.ends_with(".dll"))) continue;
        fs::copy_file(entry.path(), dir_ / name);
    }
}

ProgramRun::~ProgramRun() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
}

std::string ProgramRun::Tone(const std::string& name, double seconds, int frequency) {
    const std::string path = (dir_ / name).string();
    const std::string command = "sox -n -r 44100 -c 2 -b 16 '" + path + "' synth " +
                                std::to_string(seconds) + " sine " + std::to_string(frequency) +
                                " vol 0.5";
    return std::system(command.c_str()) == 0 ? path : "";
}

void ProgramRun::WriteLines(const std::string& name, const std::vector<std::string>& lines) {
    std::ofstream out(dir_ / name, std::ios::binary);
    for (const std::string& line : lines) out << line << "\r\n";
}

// The library stays loaded: unloading it is the process end's business.
int ProgramRun::NullDevice() const {
    if (!Load_BASSDLL((dir_ / "bass.dll").string())) return 0;
    int last = 0;
    for (int i = 1; i < 256; ++i) {
        const char* name = BASS_GetDeviceDescription(i);
        if (!name) break;
        last = i;
        if (std::string(name).find("null") != std::string::npos) return i;
    }
    return last;
}

bool ProgramRun::Start() {
    return Start(Launch{});
}

bool ProgramRun::Start(const Launch& launch) {
    capture_ = launch.capture;
    stderr_ = launch.stderrFile;
    samples_.clear();
    endStatus_ = -1;
    // The launch's own variables win over the defaults, which win over ours.
    std::vector<std::string> env = launch.env;
    auto given = [&env](const std::string& var) {
        const std::string name = var.substr(0, var.find('=') + 1);
        return std::any_of(env.begin(), env.end(),
                           [&](const std::string& e) { return e.starts_with(name); });
    };
    const std::vector<std::string> defaults = {"QT_QPA_PLATFORM=offscreen",
                                               "KAV_CAPTURE_WAV=" + Capture()};
    for (const std::string& var : defaults)
        if (!given(var)) env.push_back(var);
    for (char** e = environ; *e; ++e)
        if (!given(*e)) env.push_back(*e);
    std::vector<char*> envp;
    for (std::string& var : env) envp.push_back(var.data());
    envp.push_back(nullptr);
    std::string program = (dir_ / "kav").string();
    std::vector<std::string> args = {program};
    args.insert(args.end(), launch.args.begin(), launch.args.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 2, (dir_ / stderr_).c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    started_ = std::chrono::steady_clock::now();
    startedAt_ = std::chrono::system_clock::now();
    startTimeOfDay_ = LocalTimeOfDayMs();
    const bool ok =
        posix_spawn(&pid_, program.c_str(), &files, nullptr, argv.data(), envp.data()) == 0;
    posix_spawn_file_actions_destroy(&files);
    return ok;
}

std::string ProgramRun::Stderr() const {
    std::ifstream in(dir_ / stderr_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void ProgramRun::Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, &endStatus_, 0);
    pid_ = -1;
}

bool ProgramRun::Running() {
    if (pid_ <= 0) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        endStatus_ = status;
        return false;
    }
    return true;
}

void ProgramRun::WaitFor(std::chrono::milliseconds time) {
    const auto end = std::chrono::steady_clock::now() + time;
    while (std::chrono::steady_clock::now() < end && Running()) {
        std::error_code ec;
        const std::uintmax_t bytes = fs::file_size(Capture(), ec);
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
        if (!ec) samples_.push_back({wall, bytes});
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// Each sample's bytes were written by its time at the latest, so the capture
// began no later than wall - played; the earliest such bound is the closest.
double ProgramRun::CaptureStart() const {
    double start = 1e9;
    for (const Sample& s : samples_)
        if (s.bytes > 44) start = std::min(start, s.wall - double(s.bytes - 44) / (44100.0 * 4));
    return start;
}

double ProgramRun::CaptureWall(double seconds) const {
    const std::uintmax_t bytes = 44 + std::uintmax_t(seconds * 44100.0) * 4;
    for (const Sample& s : samples_)
        if (s.bytes >= bytes) return s.wall;
    return -1;
}

bool ProgramRun::Terminate(std::chrono::milliseconds limit, int& status) {
    if (pid_ <= 0) return false;
    kill(pid_, SIGTERM);
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            endStatus_ = status;
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

}  // namespace e2e
