// The stream outputs against Debian's icecast2 on 127.0.0.1 (a configuration
// of the test's own; as root the server drops to nobody), fed by a made-up
// program of tones at real-time pace, heard by listeners of the test's own:
// what they hear and the titles they get; a server that stops and comes
// back; a connection frozen on the way; a wrong password, a missing server
// and a mount still in use; and a clean stop that frees the mount at once.
// Also run under ThreadSanitizer.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "ToneProgram.h"
#include "app/onair/OnAir.h"
#include "tests/net/FreezableProxy.h"
#include "tests/net/Icecast.h"
#include "tests/net/KavProgram.h"
#include "tests/net/MountListener.h"
#include "tests/net/Processes.h"
#include "tests/net/RadioServer.h"
#include "tests/support/TempDir.h"

using namespace onair_test;
using namespace std::chrono_literals;
using nettest::Icecast;
using nettest::MountListener;
using nettest::waitUntil;
using Clock = std::chrono::steady_clock;

namespace {

onair::OutputSettings Output(int port, const std::string& mount, onair::Format format, int kbps) {
    onair::OutputSettings s;
    s.server = "127.0.0.1";
    s.port = port;
    s.mount = mount;
    s.password = Icecast::password();
    s.format = format;
    s.kbps = kbps;
    s.name = "KAV em teste";
    return s;
}

// The program's titles, told to the outputs as the window tells them: when
// the piece that sounds changes.
class TitleFeeder {
  public:
    struct Change {
        std::string text;
        Clock::time_point at;
    };
    TitleFeeder(const ToneProgram& program, onair::OnAir& onAir)
        : thread_([this, &program, &onAir] {
              std::string shown;
              while (!stop_) {
                  const Piece& p = program.PieceAt(program.FrameNow());
                  const std::string text = onair::SongText({p.artist, p.title});
                  if (text != shown) {
                      onAir.SetNowPlaying(p.artist, p.title);
                      shown = text;
                      std::lock_guard<std::mutex> lk(mtx_);
                      changes_.push_back({text, Clock::now()});
                  }
                  std::this_thread::sleep_for(10ms);
              }
          }) {}
    ~TitleFeeder() {
        stop_ = true;
        thread_.join();
    }
    std::vector<Change> changes() const {
        std::lock_guard<std::mutex> lk(mtx_);
        return changes_;
    }

  private:
    std::atomic<bool> stop_{false};
    mutable std::mutex mtx_;
    std::vector<Change> changes_;
    std::thread thread_;
};

// The reports an OnAir made, gathered while the test waits.
struct Reports {
    std::vector<onair::Report> all;
    void take(onair::OnAir& onAir) {
        for (auto& r : onAir.TakeReports()) all.push_back(std::move(r));
    }
    int count(int output, onair::Report::Kind kind) const {
        return int(std::count_if(all.begin(), all.end(), [&](const onair::Report& r) {
            return r.output == output && r.kind == kind;
        }));
    }
    std::string text() const {
        std::string t;
        for (const auto& r : all) t += r.text + "\n";
        return t;
    }
};

bool OnAirNow(onair::OnAir& onAir, int output) {
    return onAir.Statuses()[size_t(output - 1)].state == onair::Status::State::OnAir;
}

// Polls until pred holds, gathering reports meanwhile.
bool WaitGathering(onair::OnAir& onAir, Reports& reports, const std::function<bool()>& pred,
                   std::chrono::milliseconds limit) {
    return waitUntil(
        [&] {
            reports.take(onAir);
            return pred();
        },
        limit);
}

std::vector<Piece> Songs() {
    return {
        {0, 0.4, "Zé Ninguém", "Canção à Noite"}, {440, 2.0, "Zé Ninguém", "Canção à Noite"},
        {0, 0.4, "Ana Ñúñez", "Ação – Ré"},       {660, 1.5, "Ana Ñúñez", "Ação – Ré"},
        {0, 0.4, "Groß", "日本語 «über»"},        {880, 2.5, "Groß", "日本語 «über»"},
    };
}

// Each title the feeder told while the listener listened (from `from` to
// `until`) reached it within 3 s.
std::string TitlesLate(const std::vector<TitleFeeder::Change>& told,
                       const std::vector<MountListener::Title>& heard, Clock::time_point from,
                       Clock::time_point until) {
    std::string problems;
    for (const auto& change : told) {
        if (change.at < from || change.at > until - 3s) continue;
        const bool came = std::any_of(heard.begin(), heard.end(), [&](const auto& h) {
            return h.text == change.text && h.at >= change.at - 100ms && h.at <= change.at + 3s;
        });
        if (!came) problems += "\"" + change.text + "\" did not come within 3 s; ";
    }
    if (problems.empty()) return problems;
    problems += "heard:";
    for (const auto& h : heard) problems += " \"" + h.text + "\"";
    return problems;
}

}  // namespace

// An MP3, an Opus and an Ogg Vorbis output, and an MP3 one to a mount whose
// titles go out in UTF-8: the listeners hear the tones in order, each as
// long as it was sent (within 20 ms), and every title, accents and all,
// within 3 s of its change. (An MP3 title sent without saying it is UTF-8
// would reach the ISO-8859-1 mount's listeners as "ZÃ©".)
TEST(OnAirServer, ListenersHearTheProgramAndItsTitles) {
    Icecast ice;
    ASSERT_TRUE(ice.ok()) << ice.logs();
    auto program = std::make_shared<ToneProgram>(Songs());
    onair::OnAir onAir([program] { return std::make_unique<ToneSource>(program); });
    const std::string mounts[] = {"/a.mp3", "/b.opus", "/c.ogg", Icecast::kUtf8Mount};
    onair::AllSettings settings;
    settings[0] = Output(ice.port(), mounts[0], onair::Format::Mp3, 128);
    settings[1] = Output(ice.port(), mounts[1], onair::Format::Opus, 96);
    settings[2] = Output(ice.port(), mounts[2], onair::Format::Vorbis, 128);
    settings[3] = Output(ice.port(), mounts[3], onair::Format::Mp3, 64);
    TitleFeeder feeder(*program, onAir);
    onAir.Apply(settings);
    Reports reports;
    ASSERT_TRUE(WaitGathering(
        onAir, reports,
        [&] {
            for (int n = 1; n <= onair::kOutputs; ++n)
                if (!OnAirNow(onAir, n)) return false;
            return true;
        },
        10s))
        << reports.text() << ice.logs();

    TempDir dir;
    std::vector<std::unique_ptr<MountListener>> listeners;
    for (const std::string& m : mounts)
        listeners.push_back(std::make_unique<MountListener>(
            ice.port(), m, dir.File(m.substr(1)),
            m == Icecast::kUtf8Mount ? MountListener::IcyCharset::Utf8
                                     : MountListener::IcyCharset::Latin1));
    const auto listening = Clock::now();
    std::this_thread::sleep_for(16s);
    for (auto& l : listeners) l->stop();
    const auto stopped = Clock::now();

    for (size_t i = 0; i < listeners.size(); ++i) {
        SCOPED_TRACE(mounts[i]);
        EXPECT_EQ(TitlesLate(feeder.changes(), listeners[i]->titles(), listening + 1s, stopped),
                  "");
        const std::string file = dir.File(mounts[i].substr(1)), wav = file + ".wav";
        ASSERT_TRUE(nettest::decodeToWav(file, wav));
        bass_test::Capture heard;
        ASSERT_TRUE(heard.load(wav));
        EXPECT_EQ(nettest::sameTones(program->Sent(8), nettest::toneRuns(heard), 0.020), "");
    }
    reports.take(onAir);
    EXPECT_TRUE(reports.all.empty()) << reports.text();
}

namespace {

std::vector<Piece> Beeps() {
    return {{0, 0.3, "", "Um"}, {700, 0.7, "", "Um"}};
}

// Both outputs, MP3 and Opus, to the port given.
onair::AllSettings TwoOutputs(int port) {
    onair::AllSettings s;
    s[0] = Output(port, "/a.mp3", onair::Format::Mp3, 128);
    s[1] = Output(port, "/b.opus", onair::Format::Opus, 96);
    return s;
}

bool BothOnAir(onair::OnAir& onAir) {
    return OnAirNow(onAir, 1) && OnAirNow(onAir, 2);
}

// A listener on mount gets sound for a while.
bool HeardAgain(int port, const std::string& mount) {
    TempDir dir;
    MountListener listener(port, mount, dir.File("again"));
    return waitUntil([&] { return listener.audioBytes() > 20000; }, 5s);
}

}  // namespace

// The server goes away for 10 s: each output says so once, tries again by
// itself, and is back within 32 s of the server's return; listeners hear
// the station again.
TEST(OnAirServer, BackByItselfAfterTheServerWasAwayTenSeconds) {
    Icecast ice;
    ASSERT_TRUE(ice.ok()) << ice.logs();
    auto program = std::make_shared<ToneProgram>(Beeps());
    onair::OnAir onAir([program] { return std::make_unique<ToneSource>(program); });
    onAir.Apply(TwoOutputs(ice.port()));
    Reports reports;
    ASSERT_TRUE(WaitGathering(
        onAir, reports, [&] { return BothOnAir(onAir); }, 10s))
        << reports.text();

    ice.stop();
    const auto down = Clock::now();
    EXPECT_TRUE(WaitGathering(
        onAir, reports,
        [&] {
            return reports.count(1, onair::Report::Kind::Outage) == 1 &&
                   reports.count(2, onair::Report::Kind::Outage) == 1;
        },
        5s))
        << reports.text();
    WaitGathering(
        onAir, reports, [] { return false; },
        std::chrono::duration_cast<std::chrono::milliseconds>(down + 10s - Clock::now()));
    ASSERT_TRUE(ice.start()) << ice.logs();
    const auto up = Clock::now();
    ASSERT_TRUE(WaitGathering(
        onAir, reports,
        [&] { return BothOnAir(onAir) && ice.serves("/a.mp3") && ice.serves("/b.opus"); }, 32s))
        << reports.text() << ice.logs();
    RecordProperty(
        "back_after_ms",
        int(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - up).count()));
    EXPECT_TRUE(HeardAgain(ice.port(), "/a.mp3"));
    EXPECT_TRUE(HeardAgain(ice.port(), "/b.opus"));
    reports.take(onAir);
    for (int n : {1, 2}) {
        EXPECT_EQ(reports.count(n, onair::Report::Kind::Outage), 1) << reports.text();
        EXPECT_EQ(reports.count(n, onair::Report::Kind::Back), 1) << reports.text();
    }
}

// The way to the server stops passing anything while the connection stays
// open (a relay frozen with SIGSTOP, whose buffers stay as small as those of
// a server reading at the stream's pace): the outputs see that what they
// send no longer leaves, say so once, and are back within 32 s once it
// passes again.
TEST(OnAirServer, AFrozenConnectionIsDroppedAndMadeAgain) {
    Icecast ice;
    ASSERT_TRUE(ice.ok()) << ice.logs();
    nettest::FreezableProxy proxy(ice.port());
    auto program = std::make_shared<ToneProgram>(Beeps());
    onair::OnAir onAir([program] { return std::make_unique<ToneSource>(program); });
    onAir.Apply(TwoOutputs(proxy.port()));
    Reports reports;
    ASSERT_TRUE(WaitGathering(
        onAir, reports, [&] { return BothOnAir(onAir); }, 10s))
        << reports.text();

    proxy.freeze();
    const auto frozen = Clock::now();
    // The relay's receive window and the stall's own 4 s, with a loaded
    // machine's margin.
    const bool seen = WaitGathering(
        onAir, reports,
        [&] {
            return reports.count(1, onair::Report::Kind::Outage) == 1 &&
                   reports.count(2, onair::Report::Kind::Outage) == 1;
        },
        30s);
    RecordProperty(
        "noticed_after_ms",
        int(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - frozen).count()));
    proxy.thaw();
    ASSERT_TRUE(seen) << reports.text();
    const auto thawed = Clock::now();
    ASSERT_TRUE(WaitGathering(
        onAir, reports,
        [&] { return BothOnAir(onAir) && ice.serves("/a.mp3") && ice.serves("/b.opus"); }, 32s))
        << reports.text() << ice.logs();
    RecordProperty(
        "back_after_ms",
        int(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - thawed).count()));
    EXPECT_TRUE(HeardAgain(ice.port(), "/a.mp3"));
    EXPECT_TRUE(HeardAgain(ice.port(), "/b.opus"));
    reports.take(onAir);
    for (int n : {1, 2})
        EXPECT_EQ(reports.count(n, onair::Report::Kind::Outage), 1) << reports.text();
}

// A wrong password: one report with the server's answer, not one per try;
// the next try comes only after the longest wait.
TEST(OnAirServer, AWrongPasswordIsReportedOnceWithTheServersAnswer) {
    Icecast ice;
    ASSERT_TRUE(ice.ok()) << ice.logs();
    auto program = std::make_shared<ToneProgram>(Beeps());
    onair::OnAir onAir([program] { return std::make_unique<ToneSource>(program); });
    onair::AllSettings settings;
    settings[0] = Output(ice.port(), "/a.mp3", onair::Format::Mp3, 128);
    settings[0].password = "errada";
    onAir.Apply(settings);
    Reports reports;
    ASSERT_TRUE(WaitGathering(
        onAir, reports, [&] { return !reports.all.empty(); }, 10s));
    EXPECT_NE(reports.all[0].text.find("HTTP 401"), std::string::npos) << reports.text();
    EXPECT_NE(reports.all[0].text.find("30 em 30 s"), std::string::npos) << reports.text();
    std::this_thread::sleep_for(8s);
    reports.take(onAir);
    EXPECT_EQ(reports.all.size(), 1u) << reports.text();
    const onair::Status st = onAir.Statuses()[0];
    EXPECT_EQ(st.state, onair::Status::State::Error);
    EXPECT_NE(st.error.find("401"), std::string::npos) << st.error;
}

// Against a server that refuses every source: after the first try (and the
// question why), nothing for the longest wait's lower bound.
TEST(OnAirServer, ARefusedSourceIsTriedAgainOnlyAfterTheLongestWait) {
    nettest::RadioServer refusing;
    refusing.answer("/a.mp3",
                    "HTTP/1.0 401 Authentication Required\r\nWWW-Authenticate: Basic "
                    "realm=\"Icecast2 Server\"\r\nContent-Length: 0",
                    "");
    auto program = std::make_shared<ToneProgram>(Beeps());
    onair::OnAir onAir([program] { return std::make_unique<ToneSource>(program); });
    onair::AllSettings settings;
    settings[0] = Output(refusing.port(), "/a.mp3", onair::Format::Mp3, 128);
    onAir.Apply(settings);
    Reports reports;
    ASSERT_TRUE(WaitGathering(
        onAir, reports, [&] { return !reports.all.empty(); }, 10s));
    const int first = refusing.hits("/a.mp3");
    EXPECT_GT(first, 0);
    std::this_thread::sleep_for(20s);  // the longest wait is 24 s at least
    EXPECT_EQ(refusing.hits("/a.mp3"), first);
    reports.take(onAir);
    EXPECT_EQ(reports.all.size(), 1u) << reports.text();
}

// No server at all: one report, tries every 1, 2, 4 ... s meanwhile.
TEST(OnAirServer, AMissingServerIsReportedOnce) {
    auto program = std::make_shared<ToneProgram>(Beeps());
    onair::OnAir onAir([program] { return std::make_unique<ToneSource>(program); });
    onair::AllSettings settings;
    settings[0] = Output(nettest::closedPort(), "/a.mp3", onair::Format::Mp3, 128);
    onAir.Apply(settings);
    Reports reports;
    ASSERT_TRUE(WaitGathering(
        onAir, reports, [&] { return !reports.all.empty(); }, 5s));
    std::this_thread::sleep_for(8s);
    reports.take(onAir);
    EXPECT_EQ(reports.all.size(), 1u) << reports.text();
    EXPECT_EQ(onAir.Statuses()[0].state, onair::Status::State::Error);
}

// A mount still held by another source: the output keeps trying at the
// short waits and takes the mount as soon as it is free.
TEST(OnAirServer, AMountInUseIsTakenOnceFree) {
    Icecast ice;
    ASSERT_TRUE(ice.ok()) << ice.logs();
    ASSERT_TRUE(ice.startSource("/a.mp3", false, 440, "")) << ice.logs();
    auto program = std::make_shared<ToneProgram>(Beeps());
    onair::OnAir onAir([program] { return std::make_unique<ToneSource>(program); });
    onair::AllSettings settings;
    settings[0] = Output(ice.port(), "/a.mp3", onair::Format::Mp3, 128);
    onAir.Apply(settings);
    Reports reports;
    ASSERT_TRUE(WaitGathering(
        onAir, reports, [&] { return !reports.all.empty(); }, 10s));
    EXPECT_NE(reports.all[0].text.find("HTTP 403"), std::string::npos) << reports.text();
    std::this_thread::sleep_for(3s);
    ice.killSource("/a.mp3");
    const auto freed = Clock::now();
    EXPECT_TRUE(WaitGathering(
        onAir, reports, [&] { return OnAirNow(onAir, 1); }, 20s))
        << reports.text();
    EXPECT_LT(Clock::now() - freed, 20s);
}

// Turning an output off ends its connection at once: the server frees the
// mount, and another source (the output on again) takes it at its first try.
TEST(OnAirServer, AStopFreesTheMountAtOnce) {
    Icecast ice;
    ASSERT_TRUE(ice.ok()) << ice.logs();
    auto program = std::make_shared<ToneProgram>(Beeps());
    onair::OnAir onAir([program] { return std::make_unique<ToneSource>(program); });
    onair::AllSettings settings;
    settings[0] = Output(ice.port(), "/a.mp3", onair::Format::Mp3, 128);
    onAir.Apply(settings);
    Reports reports;
    ASSERT_TRUE(WaitGathering(
        onAir, reports, [&] { return OnAirNow(onAir, 1); }, 10s));
    ASSERT_TRUE(waitUntil([&] { return ice.serves("/a.mp3"); }, 5s));
    settings[0].active = false;
    const auto asked = Clock::now();
    onAir.Apply(settings);
    EXPECT_LT(Clock::now() - asked, 1s) << "the window waits for no server";
    EXPECT_TRUE(waitUntil([&] { return !ice.serves("/a.mp3"); }, 1s));
    EXPECT_EQ(onAir.Statuses()[0].state, onair::Status::State::Off);
    settings[0].active = true;
    onAir.Apply(settings);
    EXPECT_TRUE(WaitGathering(
        onAir, reports, [&] { return OnAirNow(onAir, 1); }, 3s));
    reports.take(onAir);
    EXPECT_TRUE(reports.all.empty()) << reports.text();
}
