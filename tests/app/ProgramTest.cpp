// Runs the built program in a fresh program directory (a copy of build/bin),
// stops it with a signal and checks what it left on disk.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include "platform/bassbind/Dynamic_BASS.h"
#include "platform/win/IniFile.h"
#include "tests/support/BinDir.h"
#include "tests/support/Capture.h"
#include "tests/support/TempDir.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

class Program {
  public:
    explicit Program(const fs::path& dir) : dir_(dir) {}
    ~Program() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }

    void Start() {
        const std::string exe = (dir_ / "kav").string();
        const std::string err = (dir_ / "stderr.txt").string();
        pid_ = ::fork();
        if (pid_ == 0) {
            int fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(fd, 2);
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
            ::chdir("/");  // the program must find its files by its own location
            ::execl(exe.c_str(), exe.c_str(), nullptr);
            ::_exit(127);
        }
    }

    // True once the process has its signal handlers in place (polls, bounded).
    bool WaitForSignalHandlers() {
        const std::string status = "/proc/" + std::to_string(pid_) + "/status";
        for (auto end = std::chrono::steady_clock::now() + 20s;
             std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(10ms)) {
            std::string text = TempDir::Read(status);
            size_t at = text.find("SigCgt:");
            if (at == std::string::npos) continue;
            unsigned long long mask = std::strtoull(text.c_str() + at + 7, nullptr, 16);
            if (mask & (1ull << (SIGTERM - 1))) return true;
        }
        return false;
    }

    bool WaitForStderr(const std::string& text) {
        for (auto end = std::chrono::steady_clock::now() + 20s;
             std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(10ms))
            if (Stderr().find(text) != std::string::npos) return true;
        return false;
    }

    // The exit status, or -1 when the process did not end in time.
    int Stop(int signal, std::chrono::seconds limit = 30s) {
        ::kill(pid_, signal);
        for (auto end = std::chrono::steady_clock::now() + limit;
             std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(10ms)) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
        }
        return -1;
    }

    std::string Stderr() const { return TempDir::Read((dir_ / "stderr.txt").string()); }

  private:
    fs::path dir_;
    pid_t pid_ = -1;
};

// Polls until pred holds; false when the limit passed first.
bool WaitUntil(const std::function<bool()>& pred, std::chrono::seconds limit) {
    for (auto end = std::chrono::steady_clock::now() + limit;
         std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(20ms))
        if (pred()) return true;
    return false;
}

size_t Occurrences(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// The local time of day a few seconds from now, as a time entry's text.
std::string TimeInSeconds(int seconds) {
    std::time_t t = std::time(nullptr) + seconds;
    std::tm local{};
    ::localtime_r(&t, &local);
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

class ProgramTest : public testing::Test {
  protected:
    void SetUp() override {
        // CTest runs the tests in build/bin.
        const fs::path bin = TestBinDir();
        ASSERT_TRUE(fs::exists(bin / "kav")) << bin;
        fs::copy(bin, dir.Path(), fs::copy_options::recursive | fs::copy_options::copy_symlinks);
        for (auto name : {"kav.ini", "pl.m3u", "prgm.m3u"}) fs::remove(dir.File(name));
        ASSERT_TRUE(fs::exists(dir.File("bass.dll")));
    }

    // The null output's number in the library's device list (the library
    // stays loaded: unloading it is the process end's business).
    int NullDevice() const {
        if (!Load_BASSDLL(dir.File("bass.dll"))) return 0;
        int last = 0;
        for (int i = 1; i < 256 && BASS_GetDeviceDescription(i); ++i) {
            last = i;
            if (std::string(BASS_GetDeviceDescription(i)).find("null") != std::string::npos)
                return i;
        }
        return last;
    }
    std::string Tone(const std::string& name, double seconds) const {
        const std::string path = dir.File(name);
        const std::string command = "sox -n -r 44100 -c 2 -b 16 '" + path + "' synth " +
                                    std::to_string(seconds) + " sine 440 vol 0.5";
        EXPECT_EQ(std::system(command.c_str()), 0);
        return path;
    }

    TempDir dir;
};

TEST_F(ProgramTest, SigtermSavesEverySettingAndBothLists) {
    TempDir::Write(dir.File("kav.ini"),
                   "; kept\n[varios]\nvolume=300\npln=2\ntfade=1500\nrepetepl=0\n[x]\ny=z\n");
    TempDir::Write(dir.File("pl.m3u"), "/m/a.mp3\n/m/b.mp3\nhttp://radio.example:8000/\n");
    TempDir::Write(dir.File("prgm.m3u"),
                   "#EXTM3U\n#KAVINF:12:00:00\n/j/noticias.mp3\n#KAVINF:...\n/j/tema.mp3\n"
                   "#KAVINF:\n/j/vazio.mp3\n");
    Program kav(dir.Path());
    kav.Start();
    ASSERT_TRUE(kav.WaitForSignalHandlers());
    ASSERT_EQ(kav.Stop(SIGTERM), 0) << kav.Stderr();

    win::IniFile ini(dir.File("kav.ini"));
    EXPECT_EQ(ini.ReadString("varios", "volume", ""), "255");
    EXPECT_EQ(ini.ReadString("varios", "pln", ""), "2");
    EXPECT_EQ(ini.ReadString("varios", "tfade", ""), "1500");
    EXPECT_EQ(ini.ReadString("varios", "repetepl", ""), "0");
    EXPECT_EQ(ini.ReadString("varios", "autobaralhar", ""), "1");
    EXPECT_EQ(ini.ReadString("varios", "compressor", ""), "0");
    EXPECT_EQ(ini.ReadString("varios", "dev", ""), "1");  // the first of "Placa"
    for (auto key : {"plc1", "plc2", "prgmlc1", "prgmlc2", "prgmlc3"})
        EXPECT_TRUE(ini.ValueExists("tamanhos", key)) << key;
    EXPECT_EQ(ini.ReadString("x", "y", ""), "z");
    EXPECT_EQ(TempDir::Read(dir.File("kav.ini")).substr(0, 7), "; kept\n");

    EXPECT_EQ(TempDir::Read(dir.File("pl.m3u")),
              "#EXTM3U\r\n/m/a.mp3\r\n/m/b.mp3\r\nhttp://radio.example:8000/\r\n");
    EXPECT_EQ(TempDir::Read(dir.File("prgm.m3u")),
              "#EXTM3U\r\n#KAVINF:12:00:00\r\n/j/noticias.mp3\r\n#KAVINF:...\r\n/j/tema.mp3\r\n"
              "#KAVINF:\r\n/j/vazio.mp3\r\n");
}

TEST_F(ProgramTest, SigintClosesLikeSigterm) {
    Program kav(dir.Path());
    kav.Start();
    ASSERT_TRUE(kav.WaitForSignalHandlers());
    ASSERT_EQ(kav.Stop(SIGINT), 0) << kav.Stderr();
    EXPECT_EQ(TempDir::Read(dir.File("pl.m3u")), "#EXTM3U\r\n");
    EXPECT_TRUE(win::IniFile(dir.File("kav.ini")).ValueExists("varios", "pln"));
}

TEST_F(ProgramTest, SignalWhileAStartUpBoxIsOpenStillSavesEverything) {
    fs::create_directory(dir.File("gone.m3u"));
    TempDir::Write(dir.File("pl.m3u"), "/m/a.mp3\ngone.m3u\n");
    TempDir::Write(dir.File("prgm.m3u"), "#KAVINF:1\n/j/x.mp3\n");
    Program kav(dir.Path());
    kav.Start();
    ASSERT_TRUE(kav.WaitForStderr("gone.m3u"));  // the box about the unreadable list is up
    ASSERT_EQ(kav.Stop(SIGTERM), 0) << kav.Stderr();
    EXPECT_EQ(TempDir::Read(dir.File("pl.m3u")), "#EXTM3U\r\n/m/a.mp3\r\n");
    EXPECT_EQ(TempDir::Read(dir.File("prgm.m3u")), "#EXTM3U\r\n#KAVINF:1\r\n/j/x.mp3\r\n");
    EXPECT_TRUE(win::IniFile(dir.File("kav.ini")).ValueExists("tamanhos", "prgmlc3"));
}

TEST_F(ProgramTest, MissingAudioLibraryIsReportedAndNothingIsWritten) {
    fs::remove(dir.File("bass.dll"));
    Program kav(dir.Path());
    kav.Start();
    ASSERT_TRUE(kav.WaitForStderr("Cannot Load bass.dll"));
    EXPECT_NE(kav.Stderr().find("[KAV] Cannot Load bass.dll"), std::string::npos);
    // The box waits for its OK; a signal closes it and the program ends.
    EXPECT_EQ(kav.Stop(SIGTERM), 1);
    for (auto name : {"kav.ini", "pl.m3u", "prgm.m3u"}) EXPECT_FALSE(fs::exists(dir.File(name)));
}

// A list that cannot be written (its name is taken by a folder, which fails
// for root too) is reported once at start, without waiting; SIGTERM then ends
// the program at once, its error on stderr, and the other files are written.
TEST_F(ProgramTest, SigtermWithAListThatCannotBeWrittenEndsAtOnceAndWritesTheRest) {
    fs::create_directories(dir.File("pl.m3u/kept"));
    TempDir::Write(dir.File("prgm.m3u"), "/j/x.mp3\n");
    TempDir::Write(dir.File("kav.ini"), "[varios]\nvolume=77\n");
    Program kav(dir.Path());
    kav.Start();
    const std::string problem = "cannot write " + dir.File("pl.m3u");
    EXPECT_TRUE(kav.WaitForStderr(problem)) << kav.Stderr();
    ASSERT_TRUE(kav.WaitForSignalHandlers());
    std::this_thread::sleep_for(2500ms);  // the checks of the files that follow
    EXPECT_EQ(Occurrences(kav.Stderr(), problem), 1u) << kav.Stderr();

    ASSERT_EQ(kav.Stop(SIGTERM, 10s), 0) << kav.Stderr();
    EXPECT_EQ(Occurrences(kav.Stderr(), problem), 2u) << kav.Stderr();  // and once at exit
    EXPECT_TRUE(fs::exists(dir.File("pl.m3u/kept")));
    EXPECT_EQ(TempDir::Read(dir.File("prgm.m3u")), "#EXTM3U\r\n#KAVINF:--:--:--\r\n/j/x.mp3\r\n");
    win::IniFile ini(dir.File("kav.ini"));
    EXPECT_EQ(ini.ReadString("varios", "volume", ""), "77");
    EXPECT_TRUE(ini.ValueExists("tamanhos", "prgmlc3"));
}

// The program plays by itself (a time entry, then the playlist resumes at the
// next row), and the new current row is on disk within seconds, so a SIGKILL
// loses nothing; a temporary file of a write killed earlier is gone.
TEST_F(ProgramTest, ThePlayingRowIsOnDiskBeforeAKillAndLeftoversGoAtStart) {
    TempDir::Write(dir.File("kav.ini"), "; notes\n[varios]\ndev=" + std::to_string(NullDevice()) +
                                            "\npln=1\n[mine]\nkeep=this\n");
    TempDir::Write(dir.File("pl.m3u"),
                   Tone("a.wav", 30) + "\n" + Tone("b.wav", 30) + "\n" + Tone("c.wav", 30) + "\n");
    TempDir::Write(dir.File("prgm.m3u"),
                   "#KAVINF:" + TimeInSeconds(4) + "\n" + Tone("jingle.wav", 0.5) + "\n");
    TempDir::Write(dir.File("pl.m3u.tmp.999999999.7"), "half a list");
    struct stat list {};
    ::stat(dir.File("pl.m3u").c_str(), &list);
    Program kav(dir.Path());
    kav.Start();
    win::IniFile ini(dir.File("kav.ini"));
    EXPECT_TRUE(WaitUntil([&] { return ini.ReadString("varios", "pln", "") == "2"; }, 20s))
        << kav.Stderr();
    ASSERT_EQ(kav.Stop(SIGKILL), 128 + SIGKILL);

    EXPECT_EQ(ini.ReadString("varios", "pln", ""), "2");
    EXPECT_EQ(ini.ReadString("mine", "keep", ""), "this");
    EXPECT_EQ(TempDir::Read(dir.File("kav.ini")).substr(0, 17), "; notes\n[varios]\n");
    EXPECT_FALSE(fs::exists(dir.File("pl.m3u.tmp.999999999.7")));
    struct stat after {};
    ::stat(dir.File("pl.m3u").c_str(), &after);
    EXPECT_EQ(after.st_ino, list.st_ino);  // the marker moved; the list is as it was
}

// With "Compressor" checked the program runs dsp_wd.dll from its folder: a
// full-scale tone that the scheduler starts is heard levelled, its peaks
// under the -1 dBFS ceiling.
TEST_F(ProgramTest, TheCheckedCompressorLevelsWhatThePlugInsPlay) {
    TempDir::Write(dir.File("kav.ini"),
                   "[varios]\ndev=" + std::to_string(NullDevice()) + "\ncompressor=1\n");
    const std::string tone = dir.File("loud.wav");
    ASSERT_EQ(
        std::system(("sox -n -r 44100 -c 2 -b 16 '" + tone + "' synth 4 sine 440 gain -n").c_str()),
        0);
    TempDir::Write(dir.File("prgm.m3u"), "#KAVINF:" + TimeInSeconds(2) + "\n" + tone + "\n");
    const std::string capture = dir.File("heard.wav");
    ::setenv("KAV_CAPTURE_WAV", capture.c_str(), 1);
    Program kav(dir.Path());
    kav.Start();
    ::unsetenv("KAV_CAPTURE_WAV");
    bass_test::Capture heard;
    auto loudFrames = [&] {
        if (!heard.load(capture)) return size_t(0);
        return size_t(std::count_if(heard.left.begin(), heard.left.end(),
                                    [](int16_t v) { return std::abs(v) > 1000; }));
    };
    EXPECT_TRUE(WaitUntil([&] { return loudFrames() > 44100; }, 20s)) << kav.Stderr();
    ASSERT_EQ(kav.Stop(SIGTERM), 0) << kav.Stderr();
    ASSERT_TRUE(heard.load(capture));
    int peak = 0;
    for (const auto* channel : {&heard.left, &heard.right})
        for (int16_t v : *channel) peak = std::max(peak, std::abs(int(v)));
    EXPECT_LE(peak, 29204);
    EXPECT_GT(peak, 1000);
    EXPECT_EQ(win::IniFile(dir.File("kav.ini")).ReadString("varios", "compressor", ""), "1");
}

}  // namespace
