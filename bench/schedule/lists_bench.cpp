// What long lists cost the window: the reshuffle of a 200,000-row playlist,
// a track change in it (with a 1 MB line among the rows), and the expansion
// of nested lists that each name the next four times. The grids are shown in
// their Qt views (offscreen), and tracks are opened by the real engine on the
// null output, so each figure includes what the operator would wait for.
//
//   lists_bench [program directory [shuffle|track|nested]]
//   (directory default: KAV_BIN_DIR, else "."; all three figures by default)
#include <QApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "app/automation/Automation.h"
#include "app/automation/PlayerPort.h"
#include "app/lists/ListFiles.h"
#include "app/window/GridView.h"
#include "engine/BASSPlayer.h"
#include "platform/bassbind/Dynamic_BASS.h"
#include "platform/win/ProgramDir.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRows = 200'000;

// Wall time, with the thread's own processor time beside it: on a busy
// machine the first is what the operator waits, the second what the work costs.
class Stopwatch {
  public:
    Stopwatch() : wall_(Clock::now()), cpu_(ThreadCpuMs()) {}
    std::string Text() const {
        const double wall = std::chrono::duration<double, std::milli>(Clock::now() - wall_).count();
        char text[64];
        std::snprintf(text, sizeof text, "%8.1f ms (cpu %.1f ms)", wall, ThreadCpuMs() - cpu_);
        return text;
    }

  private:
    static double ThreadCpuMs() {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
    }
    Clock::time_point wall_;
    double cpu_;
};

// Lets the views repaint what changed, as the event loop would.
void Settle() {
    QApplication::processEvents();
}

bool IsNullOutput(int device) {
    const char* name = BASS_GetDeviceDescription(device);
    return name && std::string(name).find("null") != std::string::npos;
}

std::unique_ptr<TBASSPlayer> NullOutputEngine(const std::string& binDir) {
    win::SetProgramDir(binDir);
    StartupDevice = 1;
    auto engine = std::make_unique<TBASSPlayer>();
    if (!engine->PlayerReady()) return nullptr;
    for (int i = 2; i < 256 && BASS_GetDeviceDescription(i); ++i) {
        if (!IsNullOutput(i)) continue;
        engine.reset();
        StartupDevice = uint8_t(i);
        engine = std::make_unique<TBASSPlayer>();
        break;
    }
    return engine;
}

struct Window {
    StringGrid playlist{{25, 403, 342}};
    StringGrid prgmlist{{25, 68, 163, 249}};
    TStringGridView view{playlist};

    Window() {
        view.resize(760, 480);
        view.show();
        Settle();
    }
};

// n rows that all name the same playable tone, each by a path of its own.
void FillRows(StringGrid& grid, const fs::path& tone, int n) {
    GridUpdate update(grid);
    grid.SetRowCount(n + 1);
    for (int r = 1; r <= n; ++r) {
        grid.SetCell(1, r, tone.filename().string());
        std::string dir = tone.parent_path().string();
        for (int dots = r % 8; dots > 0; --dots) dir += "/.";
        grid.SetCell(2, r, dir);
    }
}

void Shuffles(const fs::path& tone) {
    StringGrid plain({25, 403, 342});
    FillRows(plain, tone, kRows);
    Stopwatch alone;
    ShuffleRows(plain, 12345);
    std::printf("shuffle of %d rows, grid alone:     %s\n", kRows, alone.Text().c_str());

    Window w;
    FillRows(w.playlist, tone, kRows);
    Settle();
    Stopwatch shown;
    ShuffleRows(w.playlist, 12345);
    Settle();
    std::printf("shuffle of %d rows, with its view:  %s\n", kRows, shown.Text().c_str());
}

// Track changes in a 200,000-row list: one whose neighbours are ordinary
// rows, one next to a row whose directory cell is 1 MB long (which cannot be
// opened, so the change moves on past it), and one in a list of a few rows.
void TrackChanges(TBASSPlayer& engine, const fs::path& tone) {
    EnginePort<TBASSPlayer> port(engine);
    const std::string longDir = tone.parent_path().string() + "/" + std::string(1 << 20, 'd');
    for (int rows : {kRows, 8}) {
        Window w;
        FillRows(w.playlist, tone, rows);
        w.playlist.SetCell(2, 3, longDir);
        TAutomation automation(w.playlist, w.prgmlist, port,
                               AutomationHost{.RepeatPlaylist = [] { return true; },
                                              .AutoShuffle = [] { return true; },
                                              .VolumeValue = [] { return 255; }});
        automation.SetFadeTime(0);
        automation.MarkPlaylistRow(1);
        Settle();
        for (const char* what : {"ordinary row", "past the 1 MB line"}) {
            Stopwatch change;
            automation.TrackEnded();
            Settle();
            std::printf("track change, %6d rows, %-18s %s, now row %u\n", rows, what,
                        change.Text().c_str(), automation.Run().CurrentPlaylistRow);
        }
        engine.StopPlayback();
    }
}

// Eleven lists: each of the first ten names the next four times, the last
// names one file, so the first expands to 4^10 = 1,048,576 rows.
void NestedExpansion(const fs::path& dir) {
    size_t bytes = 0;
    for (int i = 0; i <= 10; ++i) {
        std::string text;
        if (i < 10)
            for (int k = 0; k < 4; ++k) text += "n" + std::to_string(i + 1) + ".m3u\n";
        else
            text = "a.mp3\n";
        std::ofstream(dir / ("n" + std::to_string(i) + ".m3u"), std::ios::binary) << text;
        bytes += text.size();
    }
    Window w;
    Stopwatch expansion;
    std::string error;
    try {
        AddToPlaylist(w.playlist, (dir / "n0.m3u").string());
    } catch (const ListFileError& e) {
        error = e.what();
    }
    Settle();
    std::printf("expansion of %zu bytes of nested lists: %s, %d rows%s%s\n", bytes,
                expansion.Text().c_str(), w.playlist.DataRows(),
                error.empty() ? "" : ", error: ", error.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const std::string only = argc > 2 ? argv[2] : "";
    const char* env = std::getenv("KAV_BIN_DIR");
    const std::string binDir = argc > 1 ? argv[1] : env && *env ? env : ".";
    const fs::path dir =
        fs::temp_directory_path() / ("kav-lists-bench-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const fs::path tone = dir / "tone.wav";
    const std::string sox = "sox -n -r 44100 -c 2 -b 16 '" + tone.string() + "' synth 30 sine 440";
    int status = std::system(sox.c_str());
    auto engine = status == 0 ? NullOutputEngine(fs::absolute(binDir).string()) : nullptr;
    if (!engine) {
        std::fprintf(stderr, "no tone or no audio library in %s\n", binDir.c_str());
        status = 1;
    } else {
        if (only.empty() || only == "shuffle") Shuffles(tone);
        if (only.empty() || only == "track") TrackChanges(*engine, tone);
        if (only.empty() || only == "nested") NestedExpansion(dir);
        engine.reset();
    }
    fs::remove_all(dir);
    std::fflush(nullptr);
    std::_Exit(status == 0 ? 0 : 1);
}
