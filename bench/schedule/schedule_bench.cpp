// Two figures of the running program, from what its null output captured:
// how late a programme time's sound starts after that time, and the silence
// between two playlist tracks that follow each other.
//
//   schedule_bench [program directory]   (default: KAV_BIN_DIR, else ".")
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "CaptureAnalysis.h"
#include "ProgramRun.h"

using namespace std::chrono_literals;

namespace {

struct Figures {
    double median = 0, worst = 0;
    size_t count = 0;
};

Figures Summarise(std::vector<double> values) {
    Figures f;
    f.count = values.size();
    if (values.empty()) return f;
    std::sort(values.begin(), values.end());
    f.median = values[values.size() / 2];
    f.worst = values.back();
    return f;
}

bool Capture(e2e::ProgramRun& run, std::vector<capture::Frame>& frames) {
    int status = 0;
    if (!run.Terminate(10s, status)) return std::fprintf(stderr, "no end after SIGTERM\n"), false;
    capture::Sound sound;
    std::string error;
    if (!capture::ReadWav(run.Capture(), sound, error))
        return std::fprintf(stderr, "%s\n", error.c_str()), false;
    frames = capture::Frames(sound, 0.01);
    return true;
}

// Five entries 2 s apart, each a 0.3 s tone, nothing else playing. The
// program is started `phase` ms after a whole second: the tick's place within
// the second decides how late a whole-second time is seen.
bool EntryLateness(unsigned phase, std::vector<double>& late) {
    while (e2e::LocalTimeOfDayMs() % 1000 != phase) std::this_thread::sleep_for(200us);
    e2e::ProgramRun run;
    const std::string tone = run.Tone("entry.wav", 0.3, 1000);
    const int device = run.NullDevice();
    const std::uint32_t first = (e2e::LocalTimeOfDayMs() / 1000 + 3) * 1000;
    if (first + 20'000 > 86'400'000u) return std::fprintf(stderr, "too near midnight\n"), false;
    std::vector<std::string> list = {"#EXTM3U"};
    std::vector<std::uint32_t> due;
    for (int i = 0; i < 5; ++i) {
        due.push_back(first + std::uint32_t(i) * 2000);
        list.push_back("#KAVINF:" + e2e::TimeText(due.back()));
        list.push_back(tone);
    }
    run.WriteLines("prgm.m3u", list);
    run.WriteLines("kav.ini", {"[varios]", "dev=" + std::to_string(device), "tfade=500"});
    if (!run.Start()) return false;
    run.WaitFor(std::chrono::milliseconds(due.back() + 1000 - e2e::LocalTimeOfDayMs()));
    std::vector<capture::Frame> frames;
    if (!Capture(run, frames)) return false;
    const auto tones = capture::Tones(frames, {1000});
    if (tones.size() != due.size())
        return std::fprintf(stderr, "heard %zu entries of %zu\n", tones.size(), due.size()), false;
    const double captureStart = run.CaptureStart();
    for (size_t i = 0; i < due.size(); ++i) {
        const double dueSinceStart = (double(due[i]) - run.StartTimeOfDay()) / 1000.0;
        late.push_back((captureStart + tones[i].start - dueSinceStart) * 1000.0);
    }
    return true;
}

// Six 1 s tracks of alternating tones, left to follow each other; a first
// programme time starts the playlist.
bool TrackGap(Figures& out, const std::string& ext) {
    e2e::ProgramRun run;
    std::vector<std::string> list = {"#EXTM3U"};
    for (int i = 0; i < 6; ++i) {
        std::string path = run.Tone("t" + std::to_string(i) + ".wav", 1, i % 2 ? 600 : 400);
        if (ext == "mp3") {
            const std::string mp3 = path.substr(0, path.size() - 3) + "mp3";
            if (std::system(("lame --quiet -b 128 '" + path + "' '" + mp3 + "'").c_str()) != 0)
                return false;
            path = mp3;
        }
        list.push_back(path);
    }
    run.WriteLines("pl.m3u", list);
    const std::string kick = run.Tone("kick.wav", 0.2, 1500);
    const std::uint32_t at = (e2e::LocalTimeOfDayMs() / 1000 + 3) * 1000;
    run.WriteLines("prgm.m3u", {"#EXTM3U", "#KAVINF:" + e2e::TimeText(at), kick});
    run.WriteLines("kav.ini",
                   {"[varios]", "dev=" + std::to_string(run.NullDevice()), "pln=0", "repetepl=0"});
    if (!run.Start()) return false;
    run.WaitFor(std::chrono::milliseconds(at + 7500 - e2e::LocalTimeOfDayMs()));
    std::vector<capture::Frame> frames;
    if (!Capture(run, frames)) return false;
    std::vector<capture::Tone> tracks;
    for (const capture::Tone& t : capture::Tones(frames, {400, 600}))
        if (t.Length() > 0.5) tracks.push_back(t);
    if (tracks.size() != 6)
        return std::fprintf(stderr, "heard %zu tracks of 6\n", tracks.size()), false;
    std::vector<double> gaps;
    for (size_t i = 1; i < tracks.size(); ++i)
        gaps.push_back((tracks[i].start - tracks[i - 1].end) * 1000.0);
    out = Summarise(gaps);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) setenv("KAV_BIN_DIR", argv[1], 1);
    Figures wavGap, mp3Gap;
    std::vector<double> lateness;
    for (unsigned phase : {0u, 25u, 50u, 75u})
        if (!EntryLateness(phase, lateness)) return 1;
    const Figures late = Summarise(lateness);
    std::printf("programme time to sound: median %.0f ms, worst %.0f ms (%zu entries)\n",
                late.median, late.worst, late.count);
    if (!TrackGap(wavGap, "wav")) return 1;
    std::printf("silence between WAV tracks: median %.0f ms, worst %.0f ms (%zu gaps)\n",
                wavGap.median, wavGap.worst, wavGap.count);
    if (!TrackGap(mp3Gap, "mp3")) return 1;
    std::printf("silence between MP3 tracks: median %.0f ms, worst %.0f ms (%zu gaps)\n",
                mp3Gap.median, mp3Gap.worst, mp3Gap.count);
    std::fflush(nullptr);
    std::_Exit(0);
}
