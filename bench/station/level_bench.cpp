// level_bench [ROUNDS]: what measuring the output's level costs.
//  1. The meter alone: feeding it a minute of 44.1 kHz stereo in the blocks
//     the outputs use (10 ms for the null output, 1024 frames for a device).
//  2. The same playback with it and without it: a 5-minute MP3 through bass.dll
//     to the null output running as fast as it is fed (KAV_NULL_PACE=0),
//     each in a process of its own, the meter armed (read every 100 ms of
//     audio, as the program does) or never armed; the CPU time of the whole
//     process, in a rotating order over ROUNDS rounds (9 by default), with a
//     second run without the meter as the measure of the noise; medians.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "LevelMeter.h"
#include "platform/bassbind/Dynamic_BASS.h"

namespace fs = std::filesystem;

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Microseconds to feed one minute of audio in blocks of `block` frames.
double meterMicrosPerMinute(size_t block) {
    std::vector<int16_t> audio(block * 2);
    for (size_t i = 0; i < audio.size(); ++i) audio[i] = int16_t(8000 * std::sin(0.01 * double(i)));
    kavbass::LevelMeter meter;
    meter.read();  // armed
    const size_t blocks = 60 * 44100 / block;
    std::vector<double> runs;
    for (int round = 0; round < 15; ++round) {
        const auto t0 = std::chrono::steady_clock::now();
        for (size_t b = 0; b < blocks; ++b) {
            meter.feed(audio.data(), block);
            if (b % 10 == 9) meter.read();
        }
        runs.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0)
                .count());
    }
    return median(runs);
}

double cpuSeconds(const rusage& u) {
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// In the child: plays the file to its end; prints nothing. Exit status 0 when it played.
int playOnce(const std::string& dir, const std::string& file, bool metered) {
    ::setenv("KAV_NULL_PACE", "0", 1);
    ::unsetenv("KAV_CAPTURE_WAV");
    if (!Load_BASSDLL(dir + "/bass.dll")) return 2;
    int device = 0;
    for (int i = 1; BASS_GetDeviceDescription(i); ++i) device = i;  // the null output is last
    if (!BASS_Init(device, 44100, 0, nullptr, nullptr)) return 3;
    const DWORD h = BASS_StreamCreateFile(FALSE, file.c_str(), 0, 0, 0);
    if (!h || !BASS_StreamPlay(h, FALSE, 0)) return 4;
    BASS_OUTPUTLEVEL level{};
    double lastRead = -1;
    while (BASS_ChannelIsActive(h) == BASS_ACTIVE_PLAYING) {
        const double at = BASS_ChannelBytes2Seconds(h, BASS_ChannelGetPosition(h));
        if (metered && at - lastRead >= 0.1) {
            BASS_GetOutputLevel(&level);
            lastRead = at;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    Unload_BASSDLL();
    return 0;
}

// CPU seconds of a child process that plays the file.
double playInChild(const std::string& self, const std::string& dir, const std::string& file,
                   bool metered) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execl(self.c_str(), self.c_str(), "--play", dir.c_str(), file.c_str(),
                metered ? "1" : "0", nullptr);
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return cpuSeconds(usage);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::string(argv[1]) == "--play")
        return playOnce(argv[2], argv[3], std::string(argv[4]) == "1");
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    const std::string bin = fs::path(self).parent_path().string();

    std::printf("The level meter alone, per minute of 44.1 kHz stereo:\n");
    for (size_t block : {size_t(441), size_t(1024)})
        std::printf("  blocks of %4zu frames: %8.1f us\n", block, meterMicrosPerMinute(block));

    const fs::path dir = fs::temp_directory_path() / ("kav-level-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string wav = (dir / "tone.wav").string(), mp3 = (dir / "tone.mp3").string();
    const std::string make = "sox -n -r 44100 -c 2 -b 16 '" + wav +
                             "' synth 300 sine 220-880 vol 0.5 >/dev/null 2>&1 && "
                             "lame --quiet -b 128 '" +
                             wav + "' '" + mp3 + "'";
    if (std::system(make.c_str()) != 0) {
        std::fprintf(stderr, "cannot make the MP3 (sox, lame)\n");
        return 1;
    }
    // Each round plays it three times, in a rotating order: without the
    // meter, with it, and without it again, whose difference from the first
    // shows how much the machine's own noise moves such a measurement.
    std::vector<double> plain, metered, added, noise;
    for (int r = 0; r < rounds; ++r) {
        double t[3];
        for (int k = 0; k < 3; ++k) {
            const int which = (k + r) % 3;
            t[which] = playInChild(self, bin, mp3, which == 1);
        }
        if (std::min({t[0], t[1], t[2]}) < 0) {
            std::fprintf(stderr, "a playback failed\n");
            return 1;
        }
        plain.push_back(t[0]);
        metered.push_back(t[1]);
        added.push_back(t[1] - t[0]);
        noise.push_back(t[2] - t[0]);
    }
    fs::remove_all(dir);
    const double minutes = 5;
    std::printf(
        "5 minutes of MP3 through bass.dll to the null output, whole process, "
        "per minute of audio, median of %d rounds:\n",
        rounds);
    std::printf("  without the meter:       %7.1f ms CPU\n", 1000 * median(plain) / minutes);
    std::printf("  with the meter:          %7.1f ms CPU\n", 1000 * median(metered) / minutes);
    std::printf("  with it less without it: %+7.1f ms CPU (%+.2f %%)\n",
                1000 * median(added) / minutes, 100 * median(added) / median(plain));
    std::printf("  without it, twice:       %+7.1f ms CPU (the noise of this measurement)\n",
                1000 * median(noise) / minutes);
    // The least disturbed run of each: other processes only ever add to CPU time.
    const double least = *std::min_element(plain.begin(), plain.end()),
                 leastMetered = *std::min_element(metered.begin(), metered.end());
    std::printf("  least of each:           %7.1f and %.1f ms CPU (%+.1f ms)\n",
                1000 * least / minutes, 1000 * leastMetered / minutes,
                1000 * (leastMetered - least) / minutes);
    return 0;
}
