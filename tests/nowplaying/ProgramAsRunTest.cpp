// The built program's as-run log and now-playing files, judged against what
// its null output captured: a playlist of tones, a missing file, a file of
// random bytes and a track cut by a time entry, a programme list with a time
// entry, a counted entry and a chained pair; the day's CSV has one line per
// item, begun and lasting as the capture says; agora.json follows every
// change and is never found half-written; a kill leaves an interrupted line.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <mutex>
#include <thread>

#include "AsRun.h"
#include "tests/schedule/ProgramRun.h"
#include "tests/support/BinDir.h"
#include "tests/support/CaptureAnalysis.h"
#include "tests/support/HttpServer.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Strings = std::vector<std::string>;

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Sh(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

// "AAAA-MM-DD hh:mm:ss.mmm", local, as ms since the epoch.
std::int64_t EpochMs(const std::string& text) {
    std::tm t{};
    int ms = 0;
    if (std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d.%d", &t.tm_year, &t.tm_mon, &t.tm_mday,
                    &t.tm_hour, &t.tm_min, &t.tm_sec, &ms) != 7)
        return -1;
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    t.tm_isdst = -1;
    return std::int64_t(std::mktime(&t)) * 1000 + ms;
}

struct LogLine {
    std::map<std::string, std::string> f;
    const std::string& operator[](const std::string& column) const { return f.at(column); }
};

// The day files' lines, by column; false when any line is not whole.
bool ReadLog(const fs::path& folder, std::vector<LogLine>& lines, std::string& problem) {
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string text = ReadText(entry.path());
        if (!text.starts_with(nowplaying::AsRunHeader()) || !text.ends_with("\r\n"))
            return problem = "not whole: " + text, false;
        std::vector<std::string> fields;
        for (size_t at = nowplaying::AsRunHeader().size(), end;
             (end = text.find("\r\n", at)) != std::string::npos; at = end + 2) {
            if (!nowplaying::SplitCsvLine(text.substr(at, end - at), fields) ||
                fields.size() != nowplaying::AsRunColumns().size())
                return problem = "a line not whole: " + text.substr(at, end - at), false;
            LogLine line;
            for (size_t i = 0; i < fields.size(); ++i)
                line.f[nowplaying::AsRunColumns()[i]] = fields[i];
            lines.push_back(line);
        }
    }
    // In the order they were tried. A failure's time is when it was tried;
    // the item after it is heard moments later, its first sound measured
    // within the 150 ms the log allows, so it may read a little earlier.
    const auto tried = [](const LogLine& l) {
        return EpochMs(l["inicio"]) - (l["resultado"] == "falhou" ? 150 : 0);
    };
    std::stable_sort(lines.begin(), lines.end(),
                     [&](const LogLine& a, const LogLine& b) { return tried(a) < tried(b); });
    return true;
}

std::vector<capture::Tone> Heard(const std::string& wav, const std::vector<double>& expected) {
    capture::Sound sound;
    std::string error;
    if (!capture::ReadWav(wav, sound, error)) return {};
    std::vector<capture::Tone> heard;
    for (const capture::Tone& t : capture::Tones(capture::Frames(sound), expected, 0.003))
        if (t.Length() >= 0.1) heard.push_back(t);
    return heard;
}

// Reads agora.json as fast as a web page could, all through the run: every
// read must parse; each change of what it says is kept with its time.
class NowPlayingReader {
  public:
    struct Change {
        double at;  // seconds since the program's start
        std::string file, title, state;
    };
    NowPlayingReader(const fs::path& json, std::chrono::steady_clock::time_point start)
        : thread_([this, json, start] { loop(json, start); }) {}
    ~NowPlayingReader() { Stop(); }
    void Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    std::vector<Change> changes;
    long reads = 0, broken = 0;
    std::string brokenText;

  private:
    void loop(const fs::path& json, std::chrono::steady_clock::time_point start) {
        std::string last;
        while (!stop_) {
            std::ifstream in(json, std::ios::binary);
            if (in) {
                const std::string text((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
                ++reads;
                QJsonParseError error;
                const QJsonDocument doc =
                    QJsonDocument::fromJson(QByteArray::fromStdString(text), &error);
                if (error.error != QJsonParseError::NoError || !doc.isObject()) {
                    ++broken;
                    brokenText = text;
                } else if (text != last) {
                    last = text;
                    const QJsonObject o = doc.object();
                    changes.push_back(
                        {std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
                             .count(),
                         o["ficheiro"].toString().toStdString(),
                         o["titulo"].toString().toStdString(),
                         o["estado"].toString().toStdString()});
                }
            }
            std::this_thread::sleep_for(2ms);
        }
    }
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

class AsRunProgramTest : public testing::Test {
  protected:
    void SetUp() override {
        device = run.NullDevice();
        ASSERT_GT(device, 0);
    }
    std::string File(const std::string& name) const { return (run.Dir() / name).string(); }
    std::string Tone(const std::string& name, double seconds, int frequency) {
        return run.Tone(name, seconds, frequency);
    }
    void Settings(const Strings& varios, const Strings& estacao) {
        Strings lines = {"[varios]",       "dev=" + std::to_string(device),
                         "pln=0",          "repetepl=0",
                         "autobaralhar=0", "volume=255"};
        lines.insert(lines.end(), varios.begin(), varios.end());
        lines.push_back("[estacao]");
        lines.insert(lines.end(), estacao.begin(), estacao.end());
        run.WriteLines("kav.ini", lines);
    }
    // The program's clock reading of a capture's moment, in ms since the epoch.
    std::int64_t WallOf(double captureSeconds) const {
        const double wall = run.CaptureWall(captureSeconds);
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   run.StartedAt().time_since_epoch())
                   .count() +
               std::int64_t(std::llround(wall * 1000));
    }
    fs::path Log() const { return run.Dir() / nowplaying::kAsRunFolder; }
    std::string LogText() const {
        std::string text;
        for (const auto& entry : fs::directory_iterator(Log())) text += ReadText(entry.path());
        return text;
    }
    std::string Kavreport() const { return (TestBinDir() / "kavreport").string(); }

    e2e::ProgramRun run;
    int device = 0;
};

// One frequency per item heard, in the order they must be heard.
constexpr int kA = 500, kB = 700, kC = 900, kD = 1100, kJ1 = 1300, kJ2 = 1500, kJ3 = 1700;

TEST_F(AsRunProgramTest, TheLogHasALinePerItemAsTheCaptureHeardIt) {
    const std::uint32_t now = e2e::LocalTimeOfDayMs();
    if (now > 86'280'000u) GTEST_SKIP() << "too close to midnight for a day's log";
    const std::string a = Tone("a.wav", 2, kA), c = Tone("c.wav", 40, kC), d = Tone("d.wav", 2, kD);
    const std::string j1 = Tone("j1.wav", 1, kJ1), j2 = Tone("j2.wav", 1, kJ2),
                      j3 = Tone("j3.wav", 1, kJ3);
    const std::string bWav = Tone("b.wav", 2, kB), b = File("b.mp3");
    ASSERT_TRUE(
        Sh("lame --quiet -b 128 --tt 'Titulo, B' --ta 'Artista B' '" + bWav + "' '" + b + "'"));
    const std::string missing = File("missing.wav"), junk = File("junk.mp3");
    ASSERT_TRUE(Sh("head -c 65536 /dev/urandom >'" + junk + "'"));
    run.WriteLines("pl.m3u", {a, missing, b, junk, c, d});
    // The time entry comes while c.wav plays, whatever the start-up costs.
    const std::string at = e2e::TimeText((now / 1000 + 18) * 1000);
    run.WriteLines("prgm.m3u",
                   {"#EXTM3U", "#KAVINF:" + at, j1, "#KAVINF:...", j2, "#KAVINF:2", j3});
    Settings({"tfade=1000"}, {"autoplay=1"});

    ASSERT_TRUE(run.Start({.env = {"DBUS_SESSION_BUS_ADDRESS="}}));
    NowPlayingReader reader(run.Dir() / "agora.json", run.StartedSteady());
    const std::vector<double> tones = {kA, kB, kC, kD, kJ1, kJ2, kJ3};
    for (int i = 0; i < 120; ++i) {  // until d.wav has been heard to its end
        run.WaitFor(500ms);
        const auto heard = Heard(run.Capture(), tones);
        if (!heard.empty() && heard.back().frequency == kD && heard.back().Length() > 1.9) break;
    }
    run.WaitFor(1500ms);
    int status = 0;
    ASSERT_TRUE(run.Terminate(15s, status)) << run.Stderr();
    reader.Stop();

    const std::vector<capture::Tone> heard = Heard(run.Capture(), tones);
    Strings order;
    for (const auto& t : heard) order.push_back(std::to_string(int(t.frequency)));
    ASSERT_EQ(order, (Strings{"500", "700", "1700", "900", "1300", "1500", "1100"}))
        << run.Stderr();

    std::vector<LogLine> lines;
    std::string problem;
    ASSERT_TRUE(ReadLog(Log(), lines, problem)) << problem;
    const struct {
        std::string list, row, rule, file, artist, title, result, reason;
        int tone;  // the capture's tone it was heard as; 0: nothing heard
    } expected[] = {
        {"playlist", "1", "", a, "", "a.wav", "completo", "", kA},
        {"playlist", "2", "", missing, "", "", "falhou", "inexistente", 0},
        {"playlist", "3", "", b, "Artista B", "Titulo, B", "completo", "", kB},
        {"programa", "3", "2", j3, "", "j3.wav", "completo", "", kJ3},
        {"playlist", "4", "", junk, "", "", "falhou", "nao_audio", 0},
        {"playlist", "5", "", c, "", "c.wav", "cortado", "hora", kC},
        {"programa", "1", at, j1, "", "j1.wav", "completo", "", kJ1},
        {"programa", "2", "...", j2, "", "j2.wav", "completo", "", kJ2},
        {"playlist", "6", "", d, "", "d.wav", "completo", "", kD},
    };
    ASSERT_EQ(lines.size(), std::size(expected)) << LogText();
    for (size_t i = 0; i < lines.size(); ++i) {
        const LogLine& l = lines[i];
        const auto& e = expected[i];
        SCOPED_TRACE("line " + std::to_string(i + 1) + ": " + l["ficheiro"]);
        EXPECT_EQ(l["lista"], e.list);
        EXPECT_EQ(l["linha"], e.row);
        EXPECT_EQ(l["regra"], e.rule);
        EXPECT_EQ(l["ficheiro"], e.file);
        EXPECT_EQ(l["artista"], e.artist);
        EXPECT_EQ(l["titulo"], e.title);
        EXPECT_EQ(l["resultado"], e.result);
        EXPECT_EQ(l["motivo"], e.reason);
        const std::int64_t start = EpochMs(l["inicio"]), end = EpochMs(l["fim"]);
        const long long duration = std::stoll(l["duracao_ms"]);
        EXPECT_GE(end - start, duration) << "no less time than was heard";
        if (e.tone == 0) {
            EXPECT_EQ(duration, 0);
            continue;
        }
        const auto tone = std::find_if(heard.begin(), heard.end(), [&](const capture::Tone& t) {
            return t.frequency == e.tone;
        });
        ASSERT_NE(tone, heard.end());
        EXPECT_NEAR(double(start), double(WallOf(tone->start)), 150.0) << "its first sound";
        EXPECT_NEAR(double(duration), tone->Length() * 1000, 150.0) << "what was heard";
        std::printf("%-8s first sound %+5lld ms, heard %+5lld ms against the capture\n",
                    fs::path(e.file).filename().c_str(), (long long)(start - WallOf(tone->start)),
                    (long long)(duration - std::llround(tone->Length() * 1000)));
    }

    // agora.json: read thousands of times, never half-written, and changed
    // within half a second of each item's first sound.
    std::printf("agora.json read %ld times\n", reader.reads);
    EXPECT_GT(reader.reads, 2000);
    EXPECT_EQ(reader.broken, 0) << reader.brokenText;
    const std::map<int, std::string> files = {{kA, a},   {kB, b},   {kC, c},  {kD, d},
                                              {kJ1, j1}, {kJ2, j2}, {kJ3, j3}};
    for (const capture::Tone& t : heard) {
        const double began = run.CaptureWall(t.start);
        const auto change =
            std::find_if(reader.changes.begin(), reader.changes.end(), [&](const auto& c) {
                return c.file == files.at(int(t.frequency)) && c.state == "a tocar";
            });
        ASSERT_NE(change, reader.changes.end()) << files.at(int(t.frequency));
        EXPECT_NEAR(change->at, began, 0.5) << files.at(int(t.frequency));
        std::printf("agora.json for %s %+4.0f ms after its first sound\n",
                    fs::path(change->file).filename().c_str(), (change->at - began) * 1000);
    }
    ASSERT_FALSE(reader.changes.empty());
    EXPECT_EQ(reader.changes.back().state, "parado");
    EXPECT_EQ(ReadText(run.Dir() / "agora.txt"), "\n");

    // kavreport over the day: each title once with what the log says of it,
    // the time entry out once of once due, on time.
    const std::string report = File("report.csv");
    ASSERT_TRUE(Sh("'" + Kavreport() + "' --csv '" + run.Dir().string() + "' >'" + report +
                   "' 2>'" + File("report.err") + "'"))
        << ReadText(File("report.err"));
    const std::string csv = ReadText(report);
    for (const LogLine& l : lines) {
        if (l["resultado"] == "falhou") continue;
        const std::string row = nowplaying::CsvField(l["artista"]) + "," +
                                nowplaying::CsvField(l["titulo"]) + ",1," + l["duracao_ms"] +
                                "\r\n";
        EXPECT_NE(csv.find(row), std::string::npos) << row << " in\n" << csv;
    }
    EXPECT_NE(csv.find("1," + at + "," + j1 + ",1,1,0,0\r\n"), std::string::npos) << csv;
    EXPECT_NE(csv.find("3,2," + j3 + ",1,,,\r\n"), std::string::npos) << csv;
    EXPECT_EQ(ReadText(File("report.err")), "") << "every line read";
    EXPECT_EQ(run.Stderr().find("DBus"), std::string::npos) << "no bus: nothing said";
}

// A file that opens but whose plug-in never starts it is one line, a
// plug-in's failure, whichever way the program goes on from it.
TEST_F(AsRunProgramTest, AFileWhosePlugInNeverStartsIsOneLineOfAPlugInFailure) {
    const std::string wav = Tone("silent.wav", 2, 800), mp3 = File("first.mp3");
    ASSERT_TRUE(Sh("lame --quiet -b 128 '" + Tone("first.wav", 1, 500) + "' '" + mp3 + "'"));
    fs::copy_file(TestPluginDir() + "/test_never_starts.dll", run.Dir() / "in_wave.dll",
                  fs::copy_options::overwrite_existing);
    run.WriteLines("pl.m3u", {mp3, wav});
    Settings({}, {});
    ASSERT_TRUE(run.Start({.args = {"--play"}}));
    std::vector<LogLine> lines;
    std::string problem;
    for (int i = 0; i < 60 && lines.size() < 2; ++i) {
        run.WaitFor(500ms);
        lines.clear();
        if (fs::exists(Log())) {
            ASSERT_TRUE(ReadLog(Log(), lines, problem)) << problem;
        }
    }
    run.WaitFor(1s);
    int status = 0;
    ASSERT_TRUE(run.Terminate(15s, status)) << run.Stderr();
    lines.clear();
    ASSERT_TRUE(ReadLog(Log(), lines, problem)) << problem;
    ASSERT_GE(lines.size(), 2u) << LogText();
    EXPECT_EQ(lines[0]["ficheiro"], mp3);
    EXPECT_EQ(lines[0]["resultado"], "completo");
    const auto silent = std::count_if(lines.begin(), lines.end(),
                                      [&](const LogLine& l) { return l["ficheiro"] == wav; });
    EXPECT_EQ(silent, 1) << LogText();
    EXPECT_EQ(lines[1]["ficheiro"], wav);
    EXPECT_EQ(lines[1]["resultado"], "falhou");
    EXPECT_EQ(lines[1]["motivo"], "plugin");
    EXPECT_EQ(lines[1]["duracao_ms"], "0");
}

// An ICY metadata block: its length in 16-byte units, then the text.
std::string MetaBlock(const std::string& text) {
    const size_t units = (text.size() + 15) / 16;
    std::string block(1, char(units));
    block += text;
    block.resize(1 + units * 16, '\0');
    return block;
}

// A live stream that announces two titles, then ends: a line for each title,
// the second going on where the first ended; agora.json names each; then
// the next row plays. Reached through a playlist link, the stream is named
// by the list until its first title, which then names what played before.
TEST_F(AsRunProgramTest, ALiveStreamGetsALinePerTitle) {
    const std::string mp3 = File("live.mp3");
    ASSERT_TRUE(Sh("lame --quiet -b 128 '" + Tone("live.wav", 2, 1000) + "' '" + mp3 + "'"));
    const std::string audio = ReadText(mp3);
    const struct {
        const char* name;
        const char* row;     // the playlist's row: the stream, or a link to it
        int untitledBlocks;  // sent before the stream's first title
        Strings shown;       // the titles agora.json gives the row, in turn
    } cases[] = {
        {"direct", "/live", 0, {"Artista X - Primeiro", "Artista X - Segundo"}},
        {"through a link",
         "/list.pls",
         16,
         {"R\xC3\xA1"
          "dio Teste",
          "Artista X - Primeiro", "Artista X - Segundo"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::create_directories(run.Dir() / c.name);
        testhttp::HttpServer server([&](testhttp::Reply& r, const testhttp::Request& request) {
            if (request.path == "/list.pls") {
                r.send(
                    "HTTP/1.0 200 OK\r\nContent-Type: audio/x-scpls\r\n\r\n"
                    "[playlist]\nNumberOfEntries=1\nFile1=" +
                    server.url("/live") + "\nTitle1=" + c.shown.front() + "\n");
                return;
            }
            if (!r.send("ICY 200 OK\r\nicy-name:KAV\r\nicy-br:128\r\nicy-metaint:4000\r\n\r\n"))
                return;
            size_t at = 0;
            auto next = std::chrono::steady_clock::now();
            // A quarter of a second a block: the first two seconds at once, then in real time.
            for (int block = 0; block < 44 + c.untitledBlocks && !r.stopping(); ++block) {
                std::string chunk;
                while (chunk.size() < 4000) {
                    const size_t n = std::min(4000 - chunk.size(), audio.size() - at);
                    chunk.append(audio, at, n);
                    at = (at + n) % audio.size();
                }
                const int titled = block - c.untitledBlocks;
                const char* title = titled < 24 ? "Artista X - Primeiro" : "Artista X - Segundo";
                chunk += titled < 0 ? std::string(1, '\0')
                                    : MetaBlock("StreamTitle='" + std::string(title) + "';");
                if (!r.send(chunk)) return;
                if (block >= 8) std::this_thread::sleep_until(next);
                next = std::max(next, std::chrono::steady_clock::now()) + 250ms;
            }
        });
        const std::string address = server.url(c.row), after = Tone("after.wav", 1, 500);
        run.WriteLines("pl.m3u", {address, after});
        Settings({}, {});
        fs::remove_all(Log());
        fs::remove(run.Dir() / "estado.ini");  // each run from the top
        ASSERT_TRUE(run.Start({.args = {"--play"},
                               .env = {"DBUS_SESSION_BUS_ADDRESS="},
                               .capture = std::string(c.name) + "/capture.wav",
                               .stderrFile = std::string(c.name) + "/stderr.txt"}));
        NowPlayingReader reader(run.Dir() / "agora.json", run.StartedSteady());
        for (int i = 0; i < 80; ++i) {
            run.WaitFor(500ms);
            const auto heard = Heard(run.Capture(), {500, 1000});
            if (!heard.empty() && heard.back().frequency == 500 && heard.back().Length() > 0.9)
                break;
        }
        run.WaitFor(1s);
        int status = 0;
        ASSERT_TRUE(run.Terminate(15s, status)) << run.Stderr();
        reader.Stop();

        std::vector<LogLine> lines;
        std::string problem;
        ASSERT_TRUE(ReadLog(Log(), lines, problem)) << problem;
        ASSERT_EQ(lines.size(), 3u) << LogText();
        EXPECT_EQ(lines[0]["titulo"], "Artista X - Primeiro");
        EXPECT_EQ(lines[1]["titulo"], "Artista X - Segundo");
        for (int i : {0, 1}) {
            EXPECT_EQ(lines[i]["ficheiro"], address);
            EXPECT_EQ(lines[i]["linha"], "1");
            EXPECT_EQ(lines[i]["resultado"], "completo");
        }
        EXPECT_EQ(lines[1]["inicio"], lines[0]["fim"]) << "the second goes on from the first";
        EXPECT_EQ(lines[2]["ficheiro"], after);

        // The stream's sound: from its first to its last, as the two lines say.
        const std::vector<capture::Tone> heard = Heard(run.Capture(), {1000});
        ASSERT_FALSE(heard.empty());
        EXPECT_NEAR(double(EpochMs(lines[0]["inicio"])), double(WallOf(heard.front().start)),
                    150.0);
        EXPECT_NEAR(double(EpochMs(lines[1]["fim"])), double(WallOf(heard.back().end)), 300.0)
            << heard.size() << " stretches of sound";
        Strings titles;
        for (const auto& change : reader.changes)
            if (change.file == address && (titles.empty() || titles.back() != change.title))
                titles.push_back(change.title);
        EXPECT_EQ(titles, c.shown);
        EXPECT_EQ(reader.broken, 0) << reader.brokenText;
    }
}

// A kill in the middle of an item: the next start writes its line, as far as
// it was kept, with the result interrompido, after a line cut short by an
// earlier power cut, which stays alone on its line; no later start writes it
// again.
TEST_F(AsRunProgramTest, AKillDuringAnItemGivesAnInterruptedLineAndNoTornOne) {
    const std::uint32_t now = e2e::LocalTimeOfDayMs();
    if (now > 86'280'000u) GTEST_SKIP() << "too close to midnight for a day's log";
    const std::string e = Tone("e.wav", 30, 600);
    run.WriteLines("pl.m3u", {e});
    Settings({}, {});
    ASSERT_TRUE(run.Start({.args = {"--play"}, .capture = "run1.wav", .stderrFile = "run1.txt"}));
    for (int i = 0; i < 120; ++i) {  // heard for 7 s: kept at 5
        run.WaitFor(250ms);
        const auto heard = Heard(File("run1.wav"), {600});
        if (!heard.empty() && heard.front().Length() > 7.0) break;
    }
    run.Kill();
    const std::vector<capture::Tone> heard = Heard(File("run1.wav"), {600});
    ASSERT_EQ(heard.size(), 1u);
    const std::int64_t firstSound = WallOf(heard[0].start);
    const double heardMs = heard[0].Length() * 1000;
    ASSERT_GT(heardMs, 7000);

    // Today's file, as a power cut may leave it: its last line cut short.
    fs::create_directories(Log());
    const fs::path today = Log() / (nowplaying::LocalDayText(firstSound) + ".csv");
    ASSERT_FALSE(fs::exists(today)) << "nothing ended yet";
    const std::string before = nowplaying::AsRunHeader() +
                               "2000-01-01 10:00:00.000,2000-01-01 10:00:01.000,1000,playlist,1,,"
                               "/x.wav,,x.wav,completo,\r\n2000-01-01 10:00:0";
    std::ofstream(today, std::ios::binary) << before;

    for (const char* name : {"run2", "run3"}) {
        ASSERT_TRUE(run.Start(
            {.capture = std::string(name) + ".wav", .stderrFile = std::string(name) + ".txt"}));
        run.WaitFor(3s);
        int status = 0;
        ASSERT_TRUE(run.Terminate(15s, status)) << run.Stderr();
    }
    const std::string text = ReadText(today);
    ASSERT_TRUE(text.starts_with(before + "\r\n")) << text;
    std::vector<std::string> fields;
    const std::string rest = text.substr(before.size() + 2);
    ASSERT_TRUE(rest.ends_with("\r\n")) << text;
    ASSERT_EQ(std::count(rest.begin(), rest.end(), '\n'), 1) << "one line, once: " << text;
    ASSERT_TRUE(nowplaying::SplitCsvLine(rest.substr(0, rest.size() - 2), fields)) << rest;
    ASSERT_EQ(fields.size(), nowplaying::AsRunColumns().size());
    EXPECT_EQ(fields[3], "playlist");
    EXPECT_EQ(fields[4], "1");
    EXPECT_EQ(fields[6], e);
    EXPECT_EQ(fields[8], "e.wav");
    EXPECT_EQ(fields[9], "interrompido");
    EXPECT_NEAR(double(EpochMs(fields[0])), double(firstSound), 150.0);
    const double kept = std::stod(fields[2]);
    EXPECT_LE(kept, heardMs + 150) << "no more than was heard";
    EXPECT_GE(kept, heardMs - 5150) << "kept every 5 s";
    EXPECT_EQ(EpochMs(fields[1]) - EpochMs(fields[0]), std::int64_t(kept));

    // kavreport names the line cut short, and only it.
    const std::string err = File("report.err");
    ASSERT_TRUE(
        Sh("'" + Kavreport() + "' '" + run.Dir().string() + "' >/dev/null 2>'" + err + "'"));
    ASSERT_TRUE(Sh("'" + Kavreport() + "' --csv '" + run.Dir().string() + "' >'" + File("r.csv") +
                   "' 2>'" + err + "'"));
    EXPECT_EQ(ReadText(err), today.filename().string() + ":3: 1 campo em vez de 11\n");
    EXPECT_NE(ReadText(File("r.csv")).find(",e.wav,1," + fields[2] + "\r\n"), std::string::npos)
        << ReadText(File("r.csv"));
}

}  // namespace
