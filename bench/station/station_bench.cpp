// station_bench [ROUNDS | state]: the built program as a station left alone
// (with "state", only the third part).
//  1. Exec to first sound on a resumed start: kav --headless with [estacao]
//     autoplay=1 and a saved position 30 s into an MP3 (its plug-in, the
//     muted start and the move), from the exec until the null output first
//     takes sound; beside the same start from the top of the file (no move)
//     and of a WAV file. ROUNDS runs each (5 by default), median and worst.
//  2. The dead-air reaction: 60 s of digital silence between two tones with
//     [estacao] silencio=5; the silence heard, less the 5 s asked for.
//  3. The run's state written before each item starts (estado.ini with the
//     item and its plug-in, not flushed; the engine waits for it between the
//     open and the plug-in's Play), beside the same write flushed to disk,
//     and kav.ini written when only the position changed (not flushed) and
//     otherwise (flushed), in a folder beside this program (on the build's
//     disk).
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "StationSettings.h"
#include "StationState.h"
#include "platform/bassbind/Dynamic_BASS.h"
#include "platform/win/AtomicFile.h"
#include "platform/win/IniFile.h"

extern char** environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct Stats {
    double median = 0, worst = 0;
};
Stats statsOf(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? Stats{} : Stats{v[v.size() / 2], v.back()};
}

void writeLines(const fs::path& path, const std::vector<std::string>& lines) {
    std::ofstream out(path, std::ios::binary);
    for (const std::string& line : lines) out << line << "\r\n";
}

bool sh(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

pid_t spawnKav(const fs::path& dir, const std::string& capture) {
    std::vector<std::string> env = {"KAV_CAPTURE_WAV=" + capture};
    for (char** e = environ; *e; ++e)
        if (std::string(*e).rfind("KAV_", 0) != 0) env.push_back(*e);
    std::vector<char*> envp;
    for (std::string& s : env) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::string exe = (dir / "kav").string(), headless = "--headless";
    char* argv[] = {exe.data(), headless.data(), nullptr};
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawn(&pid, exe.c_str(), &quiet, nullptr, argv, envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&quiet);
    return pid;
}

void stop(pid_t pid) {
    kill(pid, SIGTERM);
    for (int i = 0; i < 200; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

// Watches a capture as it is written: the wall time its first sample louder
// than `level` arrived.
double firstSound(const std::string& capture, Clock::time_point start, double limit, int level) {
    std::size_t checked = 44;
    while (std::chrono::duration<double>(Clock::now() - start).count() < limit) {
        std::ifstream in(capture, std::ios::binary);
        in.seekg(std::streamoff(checked));
        std::vector<char> bytes(1 << 20);
        in.read(bytes.data(), std::streamsize(bytes.size()));
        const std::size_t n = std::size_t(in.gcount()) & ~std::size_t(1);
        for (std::size_t i = 0; i + 1 < n; i += 2) {
            const int16_t s = int16_t(uint8_t(bytes[i]) | uint8_t(bytes[i + 1]) << 8);
            if (std::abs(int(s)) > level)
                return std::chrono::duration<double>(Clock::now() - start).count();
        }
        checked += n;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return -1;
}

// Lengths of the silent stretches (below `level`) between sounds in a capture.
std::vector<double> silencesBetweenSounds(const std::string& capture, int level) {
    std::ifstream in(capture, std::ios::binary);
    std::vector<char> data((std::istreambuf_iterator<char>(in)), {});
    std::vector<double> gaps;
    long quietSince = -1;
    bool heard = false;
    for (std::size_t i = 44, frame = 0; i + 3 < data.size(); i += 4, ++frame) {
        const int16_t s = int16_t(uint8_t(data[i]) | uint8_t(data[i + 1]) << 8);
        if (std::abs(int(s)) > level) {
            if (heard && quietSince >= 0 && frame - std::size_t(quietSince) > 4410)
                gaps.push_back(double(frame - std::size_t(quietSince)) / 44100.0);
            heard = true;
            quietSince = -1;
        } else if (quietSince < 0) {
            quietSince = long(frame);
        }
    }
    return gaps;
}

struct Station {
    fs::path dir;
    int device = 0;
    std::vector<std::string> settings(const std::vector<std::string>& estacao, int pln) const {
        std::vector<std::string> lines = {"[varios]",
                                          "dev=" + std::to_string(device),
                                          "pln=" + std::to_string(pln),
                                          "volume=255",
                                          "repetepl=0",
                                          "autobaralhar=0",
                                          "[estacao]"};
        lines.insert(lines.end(), estacao.begin(), estacao.end());
        return lines;
    }
};

void resumedStarts(const Station& st, int rounds) {
    const std::string mp3 = (st.dir / "song.mp3").string(), wav = (st.dir / "song.wav").string();
    struct Case {
        const char* what;
        std::string file;
        int positionMs;
    } cases[] = {{"MP3 resumed 30 s in", mp3, 30000},
                 {"MP3 from its start", mp3, 0},
                 {"WAV resumed 30 s in", wav, 30000}};
    std::printf("Exec to first sound, kav --headless playing by itself, %d runs:\n", rounds);
    for (const Case& c : cases) {
        std::vector<double> times;
        for (int r = 0; r < rounds; ++r) {
            writeLines(st.dir / "pl.m3u", {c.file});
            writeLines(st.dir / "kav.ini", st.settings({"autoplay=1", "ficheiro=" + c.file,
                                                        "posicao=" + std::to_string(c.positionMs)},
                                                       1));
            writeLines(st.dir / "estado.ini", {"[estado]", "limpo=1"});
            const std::string capture = (st.dir / "capture.wav").string();
            fs::remove(capture);
            const auto start = Clock::now();
            const pid_t pid = spawnKav(st.dir, capture);
            const double t = firstSound(capture, start, 20, 300);
            stop(pid);
            if (t > 0) times.push_back(t);
        }
        const Stats s = statsOf(times);
        std::printf("  %-22s median %6.0f ms, worst %6.0f ms (%zu of %d heard)\n", c.what,
                    1000 * s.median, 1000 * s.worst, times.size(), rounds);
    }
}

void deadAir(const Station& st, int rounds) {
    const std::string a = (st.dir / "a.wav").string(), b = (st.dir / "b.wav").string(),
                      silence = (st.dir / "silence.wav").string();
    std::vector<double> reactions;
    for (int r = 0; r < rounds; ++r) {
        writeLines(st.dir / "pl.m3u", {a, silence, b});
        writeLines(st.dir / "kav.ini", st.settings({"autoplay=1", "silencio=5"}, 0));
        writeLines(st.dir / "estado.ini", {"[estado]", "limpo=1"});
        const std::string capture = (st.dir / "capture.wav").string();
        fs::remove(capture);
        const pid_t pid = spawnKav(st.dir, capture);
        std::this_thread::sleep_for(std::chrono::seconds(10));
        stop(pid);
        const std::vector<double> gaps = silencesBetweenSounds(capture, 300);
        if (!gaps.empty()) reactions.push_back(gaps.front() - 5.0);
    }
    const Stats s = statsOf(reactions);
    std::printf(
        "Dead air with silencio=5: the silence heard lasts 5 s and %.0f ms (median), "
        "%.0f ms (worst), %zu runs\n",
        1000 * s.median, 1000 * s.worst, reactions.size());
}

template <class F>
Stats timeEach(int times, F&& write) {
    std::vector<double> us;
    for (int i = 0; i < times; ++i) {
        const auto t0 = Clock::now();
        write(i);
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    std::sort(us.begin(), us.end());
    return {us[us.size() / 2], us[us.size() * 99 / 100]};
}

void stateWrites(const fs::path& folder) {
    fs::create_directories(folder);
    const std::string path = (folder / "estado.ini").string();
    station::StateFile state(path);
    state.Begin();
    const auto item = [](int i) {
        return station::PlayingItem{"playlist", unsigned(i % 500 + 1),
                                    "/srv/musica/artista " + std::to_string(i) + "/faixa.mp3"};
    };
    // As the window writes it: the item's plug-in set first.
    const Stats unflushed = timeEach(2000, [&](int i) {
        state.SetValue(station::kPluginKey, i % 2 ? "in_mp3.dll" : "");
        state.ItemStarting(item(i));
    });
    std::string text;
    win::ReadWholeFile(path, text);
    const Stats flushed = timeEach(200, [&](int) { win::WriteFileAtomic(path, text); });
    std::printf("estado.ini before each item (on %s), median / 99th percentile:\n", folder.c_str());
    std::printf("  as written (not flushed): %7.0f / %7.0f us\n", unflushed.median,
                unflushed.worst);
    std::printf("  the same text flushed:    %7.0f / %7.0f us\n", flushed.median, flushed.worst);

    win::IniFile ini((folder / "kav.ini").string());
    std::vector<win::IniValue> values;
    for (int i = 0; i < 12; ++i) values.push_back({"varios", "k" + std::to_string(i), "1"});
    ini.WriteValues(values);
    const Stats position = timeEach(500, [&](int i) {
        ini.WriteValues(station::KeptValues(true, std::uint32_t(i * 1000), "/m/a.mp3"), nullptr,
                        false);
    });
    const Stats settings = timeEach(100, [&](int i) {
        ini.WriteValues(station::KeptValues(true, std::uint32_t(i * 1000), "/m/a.mp3"));
    });
    std::printf(
        "kav.ini each second while playing: position only %.0f / %.0f us, "
        "other settings (flushed) %.0f / %.0f us\n",
        position.median, position.worst, settings.median, settings.worst);
    fs::remove_all(folder);
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path bin = fs::read_symlink("/proc/self/exe").parent_path();
    const fs::path stateFolder = bin.parent_path() / ("station-bench-" + std::to_string(getpid()));
    if (argc > 1 && std::string(argv[1]) == "state") {
        stateWrites(stateFolder);
        return 0;
    }
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    Station st;
    st.dir = fs::temp_directory_path() / ("kav-station-" + std::to_string(getpid()));
    fs::create_directories(st.dir);
    for (const auto& e : fs::directory_iterator(bin)) {
        const std::string name = e.path().filename().string();
        if (e.is_regular_file() && (name == "kav" || name.ends_with(".dll")))
            fs::copy_file(e.path(), st.dir / name);
    }
    if (!Load_BASSDLL((st.dir / "bass.dll").string())) return 1;
    for (int i = 1; BASS_GetDeviceDescription(i); ++i) st.device = i;  // the null output is last
    const std::string d = "'" + st.dir.string() + "/";
    if (!sh("sox -n -r 44100 -c 2 -b 16 " + d +
            "song.wav' synth 90 sine 300-900 vol 0.5 && "
            "lame --quiet -b 128 " +
            d + "song.wav' " + d +
            "song.mp3' && "
            "sox -n -r 44100 -c 2 -b 16 " +
            d +
            "a.wav' synth 2 sine 500 vol 0.5 && "
            "sox -n -r 44100 -c 2 -b 16 " +
            d +
            "b.wav' synth 2 sine 700 vol 0.5 && "
            "sox -n -r 44100 -c 2 -b 16 " +
            d + "silence.wav' trim 0 60")) {
        std::fprintf(stderr, "cannot make the sounds (sox, lame)\n");
        return 1;
    }
    resumedStarts(st, rounds);
    deadAir(st, rounds);
    stateWrites(stateFolder);
    fs::remove_all(st.dir);
    return 0;
}
