// dsp_bench [SECONDS]: makes a quiet (-30 LUFS) and a loud (-10 LUFS) track of
// the same music-like material (60 s each by default), runs both through
// dsp_wd.dll (from the working directory, build/bin) and through ffmpeg's
// acompressor and alimiter at their defaults, and prints for each the EBU
// R128 integrated loudness of both outputs, their spread and the highest
// sample peak; then the CPU that dsp_wd takes per minute of audio, on music
// and on silence after music.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include "tests/dsp/DspModule.h"
#include "tests/dsp/Signals.h"

namespace fs = std::filesystem;
using namespace dsptest;

namespace {

constexpr int kRate = 44100;

struct Result {
    double quiet, loud;
    int peak;
};

double PeakDb(int peak) {
    return 20 * std::log10(std::max(peak, 1) / 32768.0);
}

void Print(const char* name, const Result& r) {
    std::printf("%-22s quiet %6.1f LUFS  loud %6.1f LUFS  spread %4.1f LU  peak %5.2f dBFS\n", name,
                r.quiet, r.loud, std::abs(r.loud - r.quiet), PeakDb(r.peak));
}

double ThreadCpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + t.tv_nsec * 1e-9;
}

double ChildCpuSeconds() {
    rusage r{};
    ::getrusage(RUSAGE_CHILDREN, &r);
    return double(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
           double(r.ru_utime.tv_usec + r.ru_stime.tv_usec) * 1e-6;
}

// Reads back a 16-bit stereo WAV that ffmpeg wrote (its data chunk).
Pcm ReadWav(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return {};
    std::string bytes;
    char chunk[65536];
    while (size_t n = std::fread(chunk, 1, sizeof chunk, f)) bytes.append(chunk, n);
    std::fclose(f);
    const size_t data = bytes.find("data");
    if (data == std::string::npos) return {};
    Pcm pcm((bytes.size() - data - 8) / 2);
    std::copy_n(bytes.data() + data + 8, pcm.size() * 2, reinterpret_cast<char*>(pcm.data()));
    return pcm;
}

Pcm ThroughFfmpeg(const Pcm& in, const fs::path& dir, double& cpuSeconds) {
    const std::string from = (dir / "in.wav").string(), to = (dir / "ffmpeg.wav").string();
    WriteWav(from, in, 2, kRate);
    const double before = ChildCpuSeconds();
    const std::string command = "ffmpeg -hide_banner -loglevel error -y -i '" + from +
                                "' -af acompressor,alimiter -c:a pcm_s16le '" + to + "'";
    if (std::system(command.c_str()) != 0) std::fprintf(stderr, "failed: %s\n", command.c_str());
    cpuSeconds += ChildCpuSeconds() - before;
    return ReadWav(to);
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 60.0;
    const fs::path dir = fs::temp_directory_path() / ("dsp_bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string scratch = (dir / "measure.wav").string();

    const double reference = IntegratedLoudness(Music(seconds, kRate, -20), 2, kRate, scratch);
    const Pcm quiet = Music(seconds, kRate, -20 + (-30 - reference));
    const Pcm loud = Music(seconds, kRate, -20 + (-10 - reference));
    Print("tracks", {IntegratedLoudness(quiet, 2, kRate, scratch),
                     IntegratedLoudness(loud, 2, kRate, scratch), PeakAbs(loud)});

    DspModule probe;
    if (!probe.Ready()) {
        std::fprintf(stderr, "dsp_wd.dll not found in the working directory\n");
        return 1;
    }
    double dspCpu = 0;
    Result ours{}, theirs{};
    double ffmpegCpu = 0;
    for (const Pcm* track : {&quiet, &loud}) {
        Pcm out = *track;
        const double start = ThreadCpuSeconds();
        probe.Process(out, 2, kRate);
        dspCpu += ThreadCpuSeconds() - start;
        (track == &quiet ? ours.quiet : ours.loud) = IntegratedLoudness(out, 2, kRate, scratch);
        ours.peak = std::max(ours.peak, PeakAbs(out));
        const Pcm other = ThroughFfmpeg(*track, dir, ffmpegCpu);
        (track == &quiet ? theirs.quiet : theirs.loud) =
            IntegratedLoudness(other, 2, kRate, scratch);
        theirs.peak = std::max(theirs.peak, PeakAbs(other));
    }
    Print("dsp_wd", ours);
    Print("acompressor+alimiter", theirs);

    // CPU on silence after music: the detectors decay towards the floor.
    Pcm silence = Silence(seconds, kRate, 2);
    const double start = ThreadCpuSeconds();
    probe.Process(silence, 2, kRate);
    const double silenceCpu = ThreadCpuSeconds() - start;

    const double minutes = 2 * seconds / 60.0;
    std::printf(
        "dsp_wd CPU: %.1f ms per minute of music (%.3f%% of one core in real time), "
        "%.1f ms per minute of silence after it\n",
        1000 * dspCpu / minutes, 100 * dspCpu / (minutes * 60),
        1000 * silenceCpu / (seconds / 60.0));
    std::printf("ffmpeg (whole process, decode and encode included): %.1f ms per minute\n",
                1000 * ffmpegCpu / minutes);
    fs::remove_all(dir);
    return 0;
}
