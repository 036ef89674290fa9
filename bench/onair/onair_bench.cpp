// onair_bench [SECONDS]: what the stream outputs cost.
//  1. CPU per minute of audio of one output (MP3 128 kbit/s, Opus 96 kbit/s)
//     sending to Debian's icecast2 on 127.0.0.1, fed in real time for SECONDS
//     (30 by default): the whole process's CPU time with the output less the
//     same time without it; against ffmpeg encoding the same PCM with the
//     same encoder to a null sink (its CPU time, per minute of audio).
//  2. The wake-ups per second one output adds: the process's context
//     switches over the same runs, with it less without it.
//  3. The output's time per period, with two taps read (as two outputs do)
//     and without: a 2-minute MP3 through bass.dll to the null output running
//     as fast as it is fed (KAV_NULL_PACE=0), each run a process of its own;
//     wall time over the number of 10 ms periods, median of 5 rounds.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/onair/BassTap.h"
#include "app/onair/OnAir.h"
#include "platform/bassbind/Dynamic_BASS.h"
#include "tests/net/Icecast.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

constexpr int kRate = 44100;

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double cpuSeconds(const rusage& u) {
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// A tone sweeping slowly, given as the clock passes (as the tap gives it).
class RealTimeTone : public onair::AudioSource {
  public:
    std::size_t Read(std::int16_t* out, std::size_t maxFrames) override {
        const auto due =
            std::size_t(std::chrono::duration<double>(Clock::now() - start_).count() * kRate);
        const std::size_t n = std::min(maxFrames, due - given_);
        for (std::size_t i = 0; i < n; ++i, ++given_) {
            const double t = double(given_) / kRate;
            const auto s = std::int16_t(8000 * std::sin(2 * M_PI * (220 + 20 * t) * t));
            out[2 * i] = out[2 * i + 1] = s;
        }
        return n;
    }
    int Rate() override { return kRate; }
    std::uint64_t Lost() override { return 0; }

  private:
    Clock::time_point start_ = Clock::now();
    std::size_t given_ = 0;
};

struct Usage {
    double cpu = 0, switches = 0;
};

Usage usageNow() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return {cpuSeconds(u), double(u.ru_nvcsw + u.ru_nivcsw)};
}

// The process's CPU and context switches over `seconds` with the output on
// (or with nothing on).
Usage runOutput(const nettest::Icecast& ice, const onair::OutputSettings* output, int seconds) {
    onair::OnAir onAir([] { return std::make_unique<RealTimeTone>(); });
    onair::AllSettings all;
    if (output) all[0] = *output;
    onAir.Apply(all);
    for (auto until = Clock::now() + 10s; output && Clock::now() < until;
         std::this_thread::sleep_for(50ms))
        if (onAir.Statuses()[0].state == onair::Status::State::OnAir) break;
    (void)ice;
    const Usage before = usageNow();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const Usage after = usageNow();
    return {after.cpu - before.cpu, after.switches - before.switches};
}

// ffmpeg's CPU seconds encoding the PCM file to a null sink.
double ffmpegCpu(const std::string& pcm, const std::string& codecArgs) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        const std::string cmd =
            "exec ffmpeg -nostdin -loglevel error -f s16le -ar 44100 -ac 2 -i '" + pcm + "' " +
            codecArgs + " -f null -";
        ::execl("/bin/sh", "sh", "-c", cmd.c_str(), nullptr);
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? cpuSeconds(usage) : -1;
}

// In the child: plays the file to its end with `taps` taps drained by a
// thread each; prints the microseconds per 10 ms period.
int playOnce(const std::string& dir, const std::string& file, int taps) {
    ::setenv("KAV_NULL_PACE", "0", 1);
    ::unsetenv("KAV_CAPTURE_WAV");
    if (!Load_BASSDLL(dir + "/bass.dll")) return 2;
    int device = 0;
    for (int i = 1; BASS_GetDeviceDescription(i); ++i) device = i;  // the null output is last
    if (!BASS_Init(device, kRate, 0, nullptr, nullptr)) return 3;
    std::atomic<bool> stop{false};
    std::vector<std::thread> readers;
    for (int i = 0; i < taps; ++i)
        readers.emplace_back([&stop] {
            auto tap = onair::BassTap::Open(3000);
            std::vector<std::int16_t> buf(8192);
            while (tap && !stop) {
                while (tap->Read(buf.data(), 4096) == 4096) {
                }
                std::this_thread::sleep_for(5ms);
            }
        });
    std::this_thread::sleep_for(100ms);
    const DWORD h = BASS_StreamCreateFile(FALSE, file.c_str(), 0, 0, 0);
    const auto t0 = Clock::now();
    if (!h || !BASS_StreamPlay(h, FALSE, 0)) return 4;
    while (BASS_ChannelIsActive(h) == BASS_ACTIVE_PLAYING) std::this_thread::sleep_for(1ms);
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    stop = true;
    for (auto& t : readers) t.join();
    std::printf("%.3f\n", 1e6 * seconds / (120.0 * 100));
    Unload_BASSDLL();
    return 0;
}

double periodInChild(const std::string& self, const std::string& dir, const std::string& file,
                     int taps) {
    const std::string cmd =
        "'" + self + "' --play '" + dir + "' '" + file + "' " + std::to_string(taps);
    FILE* p = ::popen(cmd.c_str(), "r");
    double us = -1;
    if (p && std::fscanf(p, "%lf", &us) != 1) us = -1;
    if (p && ::pclose(p) != 0) us = -1;
    return us;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::string(argv[1]) == "--play")
        return playOnce(argv[2], argv[3], std::atoi(argv[4]));
    const int seconds = argc > 1 ? std::max(5, std::atoi(argv[1])) : 30;
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    const std::string bin = fs::path(self).parent_path().string();
    const fs::path dir = fs::temp_directory_path() / ("kav-onair-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string pcm = (dir / "minute.raw").string(), wav = (dir / "tone.wav").string(),
                      mp3 = (dir / "tone.mp3").string();
    const std::string make = "sox -n -r 44100 -c 2 -b 16 -e signed -t raw '" + pcm +
                             "' synth 60 sine 220-880 vol 0.25 && sox -n -r 44100 -c 2 -b 16 '" +
                             wav + "' synth 120 sine 220-880 vol 0.5 && lame --quiet -b 128 '" +
                             wav + "' '" + mp3 + "'";
    if (std::system(make.c_str()) != 0) {
        std::fprintf(stderr, "cannot make the audio (sox, lame)\n");
        return 1;
    }

    nettest::Icecast ice;
    if (!ice.ok()) {
        std::fprintf(stderr, "icecast2 did not start:\n%s\n", ice.logs().c_str());
        return 1;
    }
    struct Case {
        const char* name;
        onair::Format format;
        int kbps;
        const char* ffmpegArgs;
    };
    const Case cases[] = {
        {"MP3 128 kbit/s", onair::Format::Mp3, 128, "-c:a libmp3lame -b:a 128k"},
        {"Opus 96 kbit/s", onair::Format::Opus, 96, "-ar 48000 -c:a libopus -b:a 96k"}};
    const double perMinute = 60.0 / seconds;
    std::printf(
        "One output fed in real time for %d s, to icecast2 on 127.0.0.1; per minute of audio:\n",
        seconds);
    for (const Case& c : cases) {
        onair::OutputSettings s;
        s.server = "127.0.0.1";
        s.port = ice.port();
        s.mount = c.format == onair::Format::Mp3 ? "/bench.mp3" : "/bench.opus";
        s.password = nettest::Icecast::password();
        s.format = c.format;
        s.kbps = c.kbps;
        const Usage idle = runOutput(ice, nullptr, seconds);
        const Usage on = runOutput(ice, &s, seconds);
        std::vector<double> ff;
        for (int r = 0; r < 3; ++r) ff.push_back(ffmpegCpu(pcm, c.ffmpegArgs));
        const double ours = (on.cpu - idle.cpu) * perMinute, theirs = median(ff);
        std::printf(
            "  %s: %7.1f ms CPU; ffmpeg to a null sink %7.1f ms (%.2f times); "
            "%+.1f wake-ups/s\n",
            c.name, 1000 * ours, 1000 * theirs, theirs > 0 ? ours / theirs : 0,
            (on.switches - idle.switches) / seconds);
    }

    std::vector<double> none, two, noise;
    for (int r = 0; r < 5; ++r) {
        double t[3];
        for (int k = 0; k < 3; ++k) {
            const int which = (k + r) % 3;
            t[which] = periodInChild(self, bin, mp3, which == 1 ? 2 : 0);
        }
        if (std::min({t[0], t[1], t[2]}) < 0) {
            std::fprintf(stderr, "a playback failed\n");
            return 1;
        }
        none.push_back(t[0]);
        two.push_back(t[1]);
        noise.push_back(t[2] - t[0]);
    }
    fs::remove_all(dir);
    std::printf("The output's time per 10 ms period, unpaced, median of 5 rounds:\n");
    std::printf("  no taps:           %7.2f us\n", median(none));
    std::printf("  two taps read:     %7.2f us (%+.2f us)\n", median(two),
                median(two) - median(none));
    std::printf("  no taps, again:    %+7.2f us (the noise of this measurement)\n", median(noise));
    return 0;
}
