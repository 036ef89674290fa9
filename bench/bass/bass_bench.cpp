// bass_bench [file.mp3]: plays an MP3 (by default a 60-second one made with sox
// and lame) through bass.dll to the unpaced null output, and decodes the same
// file with `ffmpeg -f null -`; prints the CPU seconds each spends per minute
// of audio and their ratio.
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

#include "engine/Dynamic_BASS.h"
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

// CPU seconds and audio seconds of playing path through the library.
bool measureLibrary(const std::string& path, double& cpu, double& audio, double& wall) {
    ::setenv("KAV_NULL_PACE", "0", 1);
    ::unsetenv("KAV_CAPTURE_WAV");
    if (!Load_BASSDLL(win::ProgramDir() + "/bass.dll")) return false;
    int nullDevice = 1;
    while (BASS_GetDeviceDescription(nullDevice + 1)) ++nullDevice;
    if (!BASS_Init(nullDevice, 44100, 0, nullptr, nullptr)) return false;
    const double cpu0 = selfCpu();
    const auto wall0 = std::chrono::steady_clock::now();
    HSTREAM h = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, 0);
    if (!h) return false;
    audio = BASS_ChannelBytes2Seconds(h, BASS_StreamGetLength(h));
    BASS_ChannelSetSync(h, BASS_SYNC_END, 0, onEnd, nullptr);
    if (!BASS_StreamPlay(h, FALSE, 0)) return false;
    while (!ended.load()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    cpu = selfCpu() - cpu0;
    wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    BASS_StreamFree(h);
    Unload_BASSDLL();
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

}  // namespace

int main(int argc, char** argv) {
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
    double cpu = 0, audio = 0, wall = 0;
    if (!measureLibrary(path, cpu, audio, wall) || audio <= 0) {
        std::fprintf(stderr, "bass.dll could not play %s\n", path.c_str());
        return 1;
    }
    const double peer = measureFfmpeg(path);
    if (!dir.empty()) std::filesystem::remove_all(dir);
    const double perMinute = cpu * 60.0 / audio;
    std::printf("file: %s (%.1f s of audio)\n", path.c_str(), audio);
    std::printf("bass.dll, unpaced null output: %.3f CPU s per minute of audio (%.2f s wall)\n",
                perMinute, wall);
    if (peer < 0) {
        std::printf("ffmpeg -f null: failed to run\n");
        return 1;
    }
    const double peerPerMinute = peer * 60.0 / audio;
    std::printf("ffmpeg -i file -f null -:      %.3f CPU s per minute of audio\n", peerPerMinute);
    std::printf("ratio bass.dll / ffmpeg: %.2f\n", perMinute / peerPerMinute);
    return 0;
}
