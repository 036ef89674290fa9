#include "KavProgram.h"

#include <signal.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <sstream>
#include <thread>

#include "tests/support/BinDir.h"
#include "tests/support/Pcm.h"

namespace nettest {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

constexpr double kWindow = 0.05;  // seconds looked at together
constexpr double kLoud = 500;     // rms above which a window sounds

bool near(double a, double b) {
    return std::abs(a - b) <= std::max(15.0, 0.03 * b);
}

// The null output's number in the library's device list, as basstool tells it.
int nullDevice() {
    static const int device = [] {
        const std::string cmd = (TestBinDir() / "basstool").string() + " devices";
        FILE* p = ::popen(cmd.c_str(), "r");
        int found = 0;
        char line[512];
        while (p && std::fgets(line, sizeof line, p))
            if (std::string(line).find("null") != std::string::npos) found = std::atoi(line);
        if (p) ::pclose(p);
        return found;
    }();
    return device;
}

std::string timeInSeconds(int seconds) {
    std::time_t t = std::time(nullptr) + seconds;
    std::tm local{};
    ::localtime_r(&t, &local);
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

}  // namespace

std::vector<Heard> heardTones(const bass_test::Capture& c, double minGap) {
    struct Run {
        Heard h;
        double sum = 0;
        int windows = 0;
        double freq() const { return sum / windows; }
    };
    std::vector<Run> runs;
    if (c.rate == 0) return {};
    // Runs of loud windows one after another, of one frequency.
    const auto w = static_cast<size_t>(kWindow * c.rate);
    for (size_t at = 0; at + w <= c.frames(); at += w) {
        if (bass_test::rms(c.left, at, at + w) < kLoud) continue;
        const double f = bass_test::toneFrequency(c.left, at, at + w, c.rate);
        const double t = c.seconds(at);
        Run* last = runs.empty() ? nullptr : &runs.back();
        if (last && t - last->h.end < kWindow / 2 && near(f, last->freq())) {
            last->h.end = t + kWindow;
            last->sum += f;
            ++last->windows;
        } else {
            runs.push_back({{t, t + kWindow, 0}, f, 1});
        }
    }
    // A window astride two tones, or a tone and silence, is neither.
    std::erase_if(runs, [](const Run& r) { return r.windows < 3; });
    std::vector<Run> merged;
    for (const Run& r : runs) {
        Run* last = merged.empty() ? nullptr : &merged.back();
        if (last && r.h.start - last->h.end < minGap && near(r.freq(), last->freq())) {
            last->h.end = r.h.end;
            last->sum += r.sum;
            last->windows += r.windows;
        } else {
            merged.push_back(r);
        }
    }
    std::vector<Heard> out;
    for (Run& r : merged) {
        r.h.freq = static_cast<int>(std::lround(r.freq() / 10) * 10);
        out.push_back(r.h);
    }
    return out;
}

std::string describe(const std::vector<Heard>& tones) {
    std::ostringstream out;
    out.precision(2);
    out << std::fixed;
    for (const Heard& h : tones) out << h.freq << " Hz " << h.start << "-" << h.end << " s; ";
    return out.str();
}

std::string toneWav(const std::string& path, double seconds, int freq) {
    const std::string cmd = testsound::soxToneCommand(path, {seconds, double(freq)});
    return std::system(cmd.c_str()) == 0 ? path : std::string();
}

bool waitUntil(const std::function<bool()>& pred, std::chrono::milliseconds limit) {
    for (const auto end = Clock::now() + limit; Clock::now() < end;
         std::this_thread::sleep_for(50ms))
        if (pred()) return true;
    return pred();
}

KavProgram::KavProgram()
    : scope_("kav-net-" + std::to_string(::getpid()) + "-" +
             std::to_string(Clock::now().time_since_epoch().count())) {
    const fs::path bin = TestBinDir();
    for (const char* name :
         {"kav", "bass.dll", "basswma.dll", "in_mp3.dll", "in_wave.dll", "dsp_wd.dll"})
        if (fs::exists(bin / name)) fs::copy_file(bin / name, dir_.Path() / name);
}

KavProgram::~KavProgram() {
    if (kav_) kav_->stop(SIGKILL, 5s);
    if (vis_) vis_->stop(SIGKILL, 5s);
}

void KavProgram::playInOrder(const std::vector<std::string>& rows) {
    const std::string start = toneWav(file("start.wav"), 0.4, kStartTone);
    std::string list = start + "\n";  // the row the programme entry counts as played
    for (const std::string& row : rows) list += row + "\n";
    TempDir::Write(file("pl.m3u"), list);
    TempDir::Write(file("prgm.m3u"), "#KAVINF:" + timeInSeconds(3) + "\n" + start + "\n");
    TempDir::Write(file("kav.ini"), "[varios]\ndev=" + std::to_string(nullDevice()) +
                                        "\npln=1\nrepetepl=0\nvolume=255\n");
}

void KavProgram::start(const std::vector<std::string>& env) {
    std::vector<std::string> all = {"QT_QPA_PLATFORM=offscreen", "KAV_IPC_SCOPE=" + scope_,
                                    "KAV_CAPTURE_WAV=" + file("capture.wav")};
    all.insert(all.end(), env.begin(), env.end());
    vis_ = std::make_unique<Child>(
        std::vector<std::string>{(TestBinDir() / "kavvis").string(), "--dump", "1000000"}, all,
        file("vis.txt"));
    kav_ = std::make_unique<Child>(std::vector<std::string>{file("kav")}, all, file("stderr.txt"));
}

int KavProgram::stop() {
    const int status = kav_ ? kav_->stop(SIGTERM, 20s) : -1;
    if (vis_) vis_->stop(SIGTERM, 5s);
    return status;
}

std::string KavProgram::errors() const {
    return TempDir::Read(file("stderr.txt"));
}

bool KavProgram::capture(bass_test::Capture& heard) const {
    return heard.load(file("capture.wav"));
}

std::vector<Heard> KavProgram::tones() const {
    bass_test::Capture heard;
    return capture(heard) ? heardTones(heard) : std::vector<Heard>{};
}

std::vector<std::string> KavProgram::streamRecords() const {
    std::vector<std::string> records;
    std::istringstream in(TempDir::Read(file("vis.txt")));
    for (std::string line; std::getline(in, line);)
        if (line.rfind("record 2 ", 0) == 0) records.push_back(line);
    return records;
}

}  // namespace nettest
