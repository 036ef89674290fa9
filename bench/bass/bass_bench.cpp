// bass_bench [file.mp3]: plays an MP3 (by default a 60-second one made with sox
// and lame) to the unpaced null output through bass.dll, then through the
// engine with in_mp3.dll loaded and preferred as the program starts, and
// decodes the same file with `ffmpeg -f null -`; prints the CPU seconds of the
// whole process per minute of audio for each and their ratios.
#include <QCoreApplication>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "engine/BASSPlayer.h"
#include "engine/Dynamic_BASS.h"
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
    while (!ended.load()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    m.cpu = selfCpu() - cpu0;
    m.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    BASS_StreamFree(h);
    Unload_BASSDLL();
    return true;
}

// Pumps the engine's messages until ended or the limit; false on the limit.
bool pumpUntil(const bool& ended, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!ended) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        win::ProcessMessages();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
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
    player.OnPlayEnd = [&](TBASSPlayer*) { ended = true; };
    const double cpu0 = selfCpu();
    const auto wall0 = std::chrono::steady_clock::now();
    if (!player.OpenStream(path) || player.ChannelKind() != CHANNEL_PLUGIN) return false;
    if (GetPluginInfo(player.PluginIndex()).Name != "in_mp3.dll") return false;
    m.audio = player.LengthMs() / 1000.0;
    player.StartPlayback();
    if (player.PlayState() != PLAYSTATE_PLAYING) return false;
    if (!pumpUntil(ended, std::chrono::seconds(600))) return false;
    m.cpu = selfCpu() - cpu0;
    m.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    return true;
}

// CPU seconds of `ffmpeg -i path -f null -`, -1 when it fails.
double measureFfmpeg(const std::string& path) {
    const pid_t pid = fork();
    if (pid == 0) {
        execlp("ffmpeg", "ffmpeg", "-hide_banner", "-loglevel", "error", "-i", path.c_str(), "-f",
               "null", "-", static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage r{};
    if (pid < 0 || wait4(pid, &status, 0, &r) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return cpuSeconds(r);
}

std::string makeFixture(const std::string& dir) {
    const std::string wav = dir + "/bench.wav", mp3 = dir + "/bench.mp3";
    const std::string cmd = "sox -n -r 44100 -c 2 -b 16 '" + wav +
                            "' synth 60 sine 220-880 sine 330-1320 vol 0.5 >/dev/null 2>&1 && "
                            "lame --quiet -b 128 '" +
                            wav + "' '" + mp3 + "'";
    return std::system(cmd.c_str()) == 0 ? mp3 : std::string();
}

void printRatio(const char* name, double perMinute, double peerPerMinute) {
    std::printf("ratio %s / ffmpeg: %.2f\n", name, perMinute / peerPerMinute);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::string dir;
    std::string path = argc > 1 ? argv[1] : "";
    if (path.empty()) {
        char tmpl[] = "/tmp/kav-bass-bench-XXXXXX";
        if (!mkdtemp(tmpl)) return 1;
        dir = tmpl;
        path = makeFixture(dir);
        if (path.empty()) {
            std::fprintf(stderr, "cannot make the fixture (sox, lame)\n");
            return 1;
        }
    }
    Measure library, plugin;
    if (!measureLibrary(path, library) || library.audio <= 0) {
        std::fprintf(stderr, "bass.dll could not play %s\n", path.c_str());
        return 1;
    }
    if (!measurePlugin(path, plugin) || plugin.audio <= 0) {
        std::fprintf(stderr, "in_mp3.dll could not play %s through the engine\n", path.c_str());
        return 1;
    }
    const double peer = measureFfmpeg(path);
    if (!dir.empty()) std::filesystem::remove_all(dir);
    std::printf("file: %s (%.1f s of audio)\n", path.c_str(), library.audio);
    std::printf("bass.dll, unpaced null output:  %.3f CPU s per minute of audio (%.2f s wall)\n",
                library.perMinute(), library.wall);
    std::printf("in_mp3.dll through the engine:  %.3f CPU s per minute of audio (%.2f s wall)\n",
                plugin.perMinute(), plugin.wall);
    if (peer < 0) {
        std::printf("ffmpeg -f null: failed to run\n");
        return 1;
    }
    const double peerPerMinute = peer * 60.0 / library.audio;
    std::printf("ffmpeg -i file -f null -:      %.3f CPU s per minute of audio\n", peerPerMinute);
    printRatio("bass.dll", library.perMinute(), peerPerMinute);
    printRatio("in_mp3.dll", plugin.perMinute(), peerPerMinute);
    return 0;
}
