// The built program as a station left alone, judged from what its null output
// captured: it resumes by itself after a kill, skips a file it crashed on
// twice, keeps one program per data folder, answers dead air, and talks to a
// service manager (a notification socket of the test's own).
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <functional>
#include <map>
#include <thread>

#include "platform/win/IniFile.h"
#include "tests/schedule/ProgramRun.h"
#include "tests/support/CaptureAnalysis.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Strings = std::vector<std::string>;

bool Sh(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

std::string Quoted(const std::string& path) {
    return "'" + path + "'";
}

// Polls until pred holds; false when the limit passed first.
bool WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds limit) {
    for (auto end = std::chrono::steady_clock::now() + limit;
         std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(20ms))
        if (pred()) return true;
    return pred();
}

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int Count(const std::string& text, const std::string& part) {
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// The tones heard in a capture, among those expected, at least minSeconds long.
std::vector<capture::Tone> Heard(const std::string& wav, const std::vector<double>& expected,
                                 double minSeconds = 0.1) {
    capture::Sound sound;
    std::string error;
    if (!capture::ReadWav(wav, sound, error)) return {};
    std::vector<capture::Tone> heard;
    for (const capture::Tone& t : capture::Tones(capture::Frames(sound), expected, 0.003))
        if (t.Length() >= minSeconds) heard.push_back(t);
    return heard;
}

double SecondsOf(const std::string& wav) {
    capture::Sound sound;
    std::string error;
    return capture::ReadWav(wav, sound, error) ? sound.Seconds() : 0;
}

class StationProgramTest : public testing::Test {
  protected:
    void SetUp() override {
        device = run.NullDevice();
        ASSERT_GT(device, 0);
        alarmFile = (run.Dir() / "alarm.txt").string();
    }

    std::string File(const std::string& name) const { return (run.Dir() / name).string(); }
    // A sine of `seconds` at `frequency` Hz, peak at `db` dBFS, as WAV or MP3.
    std::string Tone(const std::string& name, double seconds, double frequency, double db = -6) {
        const std::string wav = File(name + ".wav");
        EXPECT_TRUE(Sh("sox -n -r 44100 -c 2 -b 16 " + Quoted(wav) + " synth " +
                       std::to_string(seconds) + " sine " + std::to_string(frequency) +
                       " gain -n " + std::to_string(db)));
        return wav;
    }
    std::string Mp3(const std::string& wav, const std::string& tags = "") {
        const std::string mp3 = wav.substr(0, wav.size() - 4) + ".mp3";
        EXPECT_TRUE(Sh("lame --quiet -b 128 " + tags + " " + Quoted(wav) + " " + Quoted(mp3)));
        return mp3;
    }
    // kav.ini on the null output, nothing marked, no repeat, plus the lines given.
    void Settings(const Strings& estacao, const Strings& varios = {}) {
        Strings lines = {"[varios]",       "dev=" + std::to_string(device),
                         "pln=0",          "repetepl=0",
                         "autobaralhar=0", "volume=255"};
        lines.insert(lines.end(), varios.begin(), varios.end());
        lines.push_back("[estacao]");
        lines.push_back("alarme=printf '%s|%s\\n' >>" + alarmFile);
        lines.insert(lines.end(), estacao.begin(), estacao.end());
        run.WriteLines("kav.ini", lines);
    }
    std::string Alarms() const { return ReadText(alarmFile); }
    std::string Ini(const std::string& section, const std::string& key) const {
        return win::IniFile(File("kav.ini")).ReadString(section, key, "");
    }

    e2e::ProgramRun run;
    int device = 0;
    std::string alarmFile;
};

// One second of each frequency, rising by a tenth: the tone heard tells
// where in the file the sound is.
constexpr int kSteps = 20;
double StepFrequency(int k) {
    return 600.0 * std::pow(1.1, k);
}

// Where in the stepped file a capture's first stepped tone began, in seconds:
// its step, plus the part of the step not heard.
double ResumedAt(const std::vector<capture::Tone>& heard) {
    for (const capture::Tone& t : heard)
        for (int k = 0; k < kSteps; ++k)
            if (t.frequency == StepFrequency(k)) return k + 1 - t.Length();
    return -1;
}

TEST_F(StationProgramTest, AKilledRunResumesWhereItWasAndAFileThatCrashedTwiceIsSkipped) {
    std::string steps;
    for (int k = 0; k < kSteps; ++k)
        steps += " " + Quoted(Tone("step" + std::to_string(k), 1, StepFrequency(k)));
    const std::string stepped = File("stepped.wav");
    ASSERT_TRUE(Sh("sox" + steps + " " + Quoted(stepped)));
    const std::string first = Mp3(Tone("first", 3, 400)), second = Mp3(stepped),
                      third = Mp3(Tone("third", 4, 300));
    run.WriteLines("pl.m3u", {first, second, third});
    Settings({"autoplay=1"});
    std::vector<double> expected = {400, 300};
    for (int k = 0; k < kSteps; ++k) expected.push_back(StepFrequency(k));

    // The first run is killed in the middle of the stepped file.
    ASSERT_TRUE(run.Start({.capture = "run1.wav", .stderrFile = "run1.txt"}));
    ASSERT_TRUE(WaitUntil(
        [&] {
            return Ini("estacao", "ficheiro") == second &&
                   std::atoi(Ini("estacao", "posicao").c_str()) >= 8000;
        },
        40s))
        << run.Stderr();
    run.Kill();
    const std::vector<capture::Tone> heard1 = Heard(File("run1.wav"), expected);
    ASSERT_FALSE(heard1.empty());
    EXPECT_EQ(heard1.front().frequency, 400);
    const auto secondBegan = std::find_if(heard1.begin(), heard1.end(), [](const auto& t) {
        return t.frequency == StepFrequency(0);
    });
    ASSERT_NE(secondBegan, heard1.end());
    const double killedAt = SecondsOf(File("run1.wav")) - secondBegan->start;

    // The next start plays it again, from where it was less 2 s.
    ASSERT_TRUE(run.Start({.capture = "run2.wav", .stderrFile = "run2.txt"}));
    ASSERT_TRUE(WaitUntil(
        [&] {
            const auto heard = Heard(File("run2.wav"), expected);
            return !heard.empty() && heard.back().end - heard.front().start > 2.5;
        },
        30s))
        << run.Stderr();
    run.Kill();
    const std::vector<capture::Tone> heard2 = Heard(File("run2.wav"), expected, 0.05);
    const double resumedAt = ResumedAt(heard2);
    EXPECT_NEAR(resumedAt, killedAt - 2.0, 3.0) << "killed at " << killedAt;
    EXPECT_NE(heard2.front().frequency, 400) << "not the first file";
    EXPECT_NE(heard2.front().frequency, StepFrequency(0)) << "nothing of the file's start";
    EXPECT_NE(ReadText(File("run2.txt")).find("[estacao] reinicio:"), std::string::npos);

    // Killed twice while that file played: the third start skips it.
    ASSERT_TRUE(run.Start({.capture = "run3.wav", .stderrFile = "run3.txt"}));
    ASSERT_TRUE(WaitUntil(
        [&] {
            const auto heard = Heard(File("run3.wav"), expected);
            return !heard.empty() && heard.front().Length() > 1.0;
        },
        30s))
        << run.Stderr();
    int status = 0;
    ASSERT_TRUE(run.Terminate(15s, status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    const std::vector<capture::Tone> heard3 = Heard(File("run3.wav"), expected);
    ASSERT_FALSE(heard3.empty());
    EXPECT_EQ(heard3.front().frequency, 300) << "the row after the one that crashed";
    const std::string err3 = ReadText(File("run3.txt"));
    EXPECT_EQ(Count(err3, "[estacao] falha: saltado " + second), 1) << err3;

    const std::string alarms = Alarms();
    EXPECT_EQ(Count(alarms, "reinicio|"), 2) << alarms;
    EXPECT_EQ(Count(alarms, "arranque|"), 3) << alarms;
    EXPECT_EQ(Count(alarms, "falha|saltado " + second), 1) << alarms;
    EXPECT_EQ(Ini("estacao", "autoplay"), "1");
}

TEST_F(StationProgramTest, WithoutAutoplayNothingPlaysAndPlayIsForOneStartOnly) {
    run.WriteLines("pl.m3u", {Tone("a", 5, 500), Tone("b", 5, 700)});
    Settings({});
    ASSERT_TRUE(run.Start());
    run.WaitFor(3s);
    int status = 0;
    ASSERT_TRUE(run.Terminate(15s, status));
    EXPECT_TRUE(Heard(run.Capture(), {500, 700}).empty()) << "nothing plays at start";
    EXPECT_EQ(Alarms(), "");

    ASSERT_TRUE(run.Start({.args = {"--play"}, .capture = "played.wav"}));
    ASSERT_TRUE(WaitUntil(
        [&] {
            return !Heard(run.Capture(), {500, 700}, 0.5).empty();
        },
        30s))
        << run.Stderr();
    ASSERT_TRUE(run.Terminate(15s, status));
    EXPECT_EQ(Heard(run.Capture(), {500, 700}).front().frequency, 500) << "row 1: nothing marked";
    EXPECT_EQ(Ini("estacao", "autoplay"), "0") << "--play changes no setting";
    EXPECT_EQ(Count(Alarms(), "arranque|"), 1);
}

// A snapshot of a folder: each file's size, time of change and inode.
std::map<std::string, std::string> Snapshot(const fs::path& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(dir)) {
        struct stat st {};
        ::lstat(entry.path().c_str(), &st);
        files[entry.path().filename().string()] =
            std::to_string(st.st_size) + "/" + std::to_string(st.st_mtim.tv_sec) + "." +
            std::to_string(st.st_mtim.tv_nsec) + "/" + std::to_string(st.st_ino);
    }
    return files;
}

// The second start writes nothing: while it runs, the first is held still
// (SIGSTOP), so any change in the folder would be the second's.
TEST_F(StationProgramTest, ASecondStartOnTheSameDataFolderEndsAtOnceAndWritesNothing) {
    run.WriteLines("pl.m3u", {Tone("long", 40, 500)});
    Settings({"autoplay=1"});
    ASSERT_TRUE(run.Start());
    ASSERT_TRUE(WaitUntil([&] { return !Heard(run.Capture(), {500}, 0.5).empty(); }, 30s))
        << run.Stderr();
    ::kill(run.Pid(), SIGSTOP);
    const auto before = Snapshot(run.Dir());

    const std::string err = File("second.txt");
    const auto started = std::chrono::steady_clock::now();
    const pid_t second = ::fork();
    if (second == 0) {
        const std::string exe = File("kav");
        ::freopen(err.c_str(), "w", stderr);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::execl(exe.c_str(), exe.c_str(), nullptr);
        ::_exit(127);
    }
    int status = -1;
    ASSERT_TRUE(WaitUntil([&] { return ::waitpid(second, &status, WNOHANG) == second; }, 10s));
    const double took =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_LT(took, 2.0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    const std::string said = ReadText(err);
    EXPECT_EQ(Count(said, "\n"), 1) << said;
    EXPECT_NE(said.find("já corre"), std::string::npos) << said;
    auto after = Snapshot(run.Dir());
    after.erase("second.txt");
    EXPECT_EQ(after, before);

    // The first goes on playing, and was asked for its window.
    ::kill(run.Pid(), SIGCONT);
    const double heardUntil = Heard(run.Capture(), {500}).back().end;
    ASSERT_TRUE(
        WaitUntil([&] { return Heard(run.Capture(), {500}).back().end > heardUntil + 1.5; }, 20s));
    EXPECT_TRUE(
        WaitUntil([&] { return run.Stderr().find("pediu a janela") != std::string::npos; }, 10s));
    ASSERT_TRUE(run.Terminate(15s, status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// Silence and a -70 dBFS noise cost at most 6 s each with silencio=5; a quiet
// passage at -40 dBFS plays whole.
TEST_F(StationProgramTest, DeadAirIsSkippedWithinItsTimeAndAQuietPassageIsNot) {
    const std::string silence = File("silence.wav"), noise = File("noise.wav");
    ASSERT_TRUE(Sh("sox -n -r 44100 -c 2 -b 16 " + Quoted(silence) + " trim 0 30"));
    ASSERT_TRUE(
        Sh("sox -n -r 44100 -c 2 -b 16 " + Quoted(noise) + " synth 30 whitenoise gain -n -70"));
    run.WriteLines("pl.m3u", {Tone("a", 2, 500), silence, Tone("b", 2, 700), noise,
                              Tone("c", 2, 900), Tone("quiet", 8, 1100, -40), Tone("d", 2, 1300)});
    Settings({"autoplay=1", "silencio=5"});
    ASSERT_TRUE(run.Start());
    const std::vector<double> tones = {500, 700, 900, 1100, 1300};
    ASSERT_TRUE(WaitUntil(
        [&] {
            const auto heard = Heard(run.Capture(), tones, 0.5);
            return !heard.empty() && heard.back().frequency == 1300;
        },
        90s))
        << run.Stderr();
    int status = 0;
    ASSERT_TRUE(run.Terminate(15s, status));
    const std::vector<capture::Tone> heard = Heard(run.Capture(), tones, 0.5);
    Strings order;
    for (const auto& t : heard) order.push_back(std::to_string(int(t.frequency)));
    ASSERT_EQ(order, (Strings{"500", "700", "900", "1100", "1300"}));
    EXPECT_LE(heard[1].start - heard[0].end, 6.0) << "the digital silence";
    EXPECT_GE(heard[1].start - heard[0].end, 4.5);
    EXPECT_LE(heard[2].start - heard[1].end, 6.0) << "the noise";
    EXPECT_GE(heard[3].Length(), 7.5) << "the quiet passage plays whole";
    EXPECT_LT(heard[4].start - heard[3].end, 1.0);
    EXPECT_EQ(Count(Alarms(), "silencio|"), 2) << Alarms();
}

// A datagram socket of the test's own as the service manager's.
class NotifySocket {
  public:
    explicit NotifySocket(const std::string& path) : path_(path) {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
        ok_ = fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~NotifySocket() {
        ::close(fd_);
        ::unlink(path_.c_str());
    }
    bool ok() const { return ok_; }
    // Each message with the seconds since `start` it came at.
    struct Message {
        double at;
        std::string text;
    };
    void ReadFor(std::chrono::milliseconds time, std::chrono::steady_clock::time_point start,
                 const std::function<void(double)>& eachPoll) {
        const auto end = std::chrono::steady_clock::now() + time;
        while (std::chrono::steady_clock::now() < end) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 10) > 0) {
                char buffer[4096];
                const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
                const double at =
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
                if (n > 0) messages.push_back({at, std::string(buffer, size_t(n))});
            }
            eachPoll(
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        }
    }
    std::vector<Message> messages;

  private:
    std::string path_;
    int fd_ = -1;
    bool ok_ = false;
};

TEST_F(StationProgramTest, TheServiceManagerHearsReadinessStatusAndKeepAlivesWhileTheGuiTurns) {
    const std::string song = Mp3(Tone("song", 30, 500), "--tt 'Titulo de teste' --ta 'Artista'");
    run.WriteLines("pl.m3u", {song});
    Settings({});
    NotifySocket manager(File("notify.sock"));
    ASSERT_TRUE(manager.ok());
    // No display at all: --headless chooses the platform itself.
    ASSERT_TRUE(run.Start({.args = {"--headless", "--play"},
                           .env = {"NOTIFY_SOCKET=" + File("notify.sock"), "WATCHDOG_USEC=1000000",
                                   "QT_QPA_PLATFORM=xcb", "DISPLAY=", "WAYLAND_DISPLAY=",
                                   "KAV_TEST_HOLD_GUI=5000:3000"}}));
    const auto start = std::chrono::steady_clock::now();
    double heldAt = -1;
    manager.ReadFor(12s, start, [&](double now) {
        if (heldAt < 0 && run.Stderr().find("fica retida") != std::string::npos) heldAt = now;
    });
    int status = 0;
    ASSERT_TRUE(run.Terminate(15s, status)) << run.Stderr();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << run.Stderr();
    manager.ReadFor(200ms, start, [](double) {});

    int ready = 0, stopping = 0;
    bool titled = false;
    std::vector<double> keepAlives;
    for (const auto& m : manager.messages) {
        ready += m.text == "READY=1";
        stopping += m.text == "STOPPING=1";
        if (m.text.starts_with("STATUS=") && m.text.find("Titulo de teste") != std::string::npos)
            titled = true;
        if (m.text == "WATCHDOG=1") keepAlives.push_back(m.at);
    }
    EXPECT_EQ(ready, 1);
    EXPECT_TRUE(titled);
    EXPECT_EQ(stopping, 1);
    ASSERT_GT(heldAt, 0) << run.Stderr();
    ASSERT_GE(keepAlives.size(), 8u);
    std::vector<double> gaps;
    for (size_t i = 1; i < keepAlives.size(); ++i)
        gaps.push_back(keepAlives[i] - keepAlives[i - 1]);
    std::vector<double> sorted = gaps;
    std::nth_element(sorted.begin(), sorted.begin() + long(sorted.size() / 2), sorted.end());
    const double median = sorted[sorted.size() / 2];
    EXPECT_GT(median, 0.4) << "half the watchdog time asked for";
    EXPECT_LT(median, 0.8);
    // None while the GUI thread was held (the line is written as the hold begins).
    for (double at : keepAlives)
        EXPECT_FALSE(at > heldAt + 0.1 && at < heldAt + 2.9)
            << "a keep-alive at " << at << " s, held from " << heldAt;
    EXPECT_GE(*std::max_element(gaps.begin(), gaps.end()), 2.8);
}

TEST_F(StationProgramTest, HelpAndVersionPrintAndEndWithoutADisplay) {
    const struct {
        std::string arg;
        int status;
        std::string says;
    } cases[] = {{"--help", 0, "Utilização: kav"},
                 {"--version", 0, "KAV 1.0.0"},
                 {"--nonsense", 2, "opção desconhecida: --nonsense"}};
    for (const auto& c : cases) {
        const std::string out = File("out.txt");
        const std::string command = "cd / && env -u DISPLAY QT_QPA_PLATFORM=xcb " +
                                    Quoted(File("kav")) + " " + c.arg + " >" + out + " 2>&1";
        const int status = std::system(command.c_str());
        EXPECT_EQ(WEXITSTATUS(status), c.status) << c.arg;
        EXPECT_NE(ReadText(out).find(c.says), std::string::npos) << c.arg << ": " << ReadText(out);
    }
    for (const char* name : {"kav.ini", "pl.m3u", "prgm.m3u", "estado.ini", "kav.lock"})
        EXPECT_FALSE(fs::exists(File(name))) << name;
}

}  // namespace
