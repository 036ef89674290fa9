// The built program as a desktop's media player, on a private session bus
// (this test runs under dbus-run-session): a client of the test's own reads
// the MPRIS properties, calls Next and hears the next row start in the
// capture, and receives PropertiesChanged when a programme entry takes over.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>
#include <QObject>
#include <QVariantMap>
#include <chrono>
#include <functional>

#include "tests/schedule/ProgramRun.h"
#include "tests/support/CaptureAnalysis.h"

namespace {

using namespace std::chrono_literals;

constexpr const char* kService = "org.mpris.MediaPlayer2.kav";
constexpr const char* kPath = "/org/mpris/MediaPlayer2";
constexpr const char* kPlayer = "org.mpris.MediaPlayer2.Player";

// PropertiesChanged as they come, with the seconds since the program's start.
class Listener : public QObject {
    Q_OBJECT

  public:
    struct Change {
        double at;
        QVariantMap properties;
    };
    std::chrono::steady_clock::time_point start;
    std::vector<Change> changes;

  public slots:
    void PropertiesChanged(const QString& interface, const QVariantMap& changed,
                           const QStringList&) {
        if (interface != kPlayer) return;
        changes.push_back(
            {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
             changed});
    }
};

// A map inside a variant comes as a D-Bus argument until it is taken out.
QVariantMap MapOf(const QVariant& value) {
    if (value.canConvert<QDBusArgument>())
        return qdbus_cast<QVariantMap>(value.value<QDBusArgument>());
    return value.toMap();
}

QVariant Property(const char* interface, const char* name) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, "org.freedesktop.DBus.Properties", "Get");
    call << QString(interface) << QString(name);
    const QDBusReply<QDBusVariant> reply =
        QDBusConnection::sessionBus().call(call, QDBus::Block, 5000);
    return reply.isValid() ? reply.value().variant() : QVariant();
}

bool Pump(const std::function<bool()>& until, std::chrono::milliseconds limit,
          e2e::ProgramRun& run) {
    for (auto end = std::chrono::steady_clock::now() + limit;
         std::chrono::steady_clock::now() < end;) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        run.WaitFor(20ms);
        if (until()) return true;
    }
    return until();
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

TEST(MprisProgramTest, ADesktopClientSeesWhatPlaysMovesToTheNextRowAndHearsTheProgramme) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    ASSERT_TRUE(bus.isConnected()) << "run under dbus-run-session";
    const std::uint32_t now = e2e::LocalTimeOfDayMs();
    if (now > 86'280'000u) GTEST_SKIP() << "too close to midnight for a programme time";

    e2e::ProgramRun run;
    const int device = run.NullDevice();
    ASSERT_GT(device, 0);
    const std::string aWav = run.Tone("a.wav", 30, 500), b = run.Tone("b.wav", 30, 700),
                      j = run.Tone("j.wav", 3, 1300);
    const std::string a = (run.Dir() / "a.mp3").string();
    ASSERT_EQ(
        std::system(("lame --quiet -b 128 --tt 'Tom A' --ta 'Artista A' '" + aWav + "' '" + a + "'")
                        .c_str()),
        0);
    run.WriteLines("pl.m3u", {a, b});
    const std::string at = e2e::TimeText((now / 1000 + 14) * 1000);
    run.WriteLines("prgm.m3u", {"#EXTM3U", "#KAVINF:" + at, j});
    run.WriteLines("kav.ini", {"[varios]", "dev=" + std::to_string(device), "pln=0", "repetepl=0",
                               "autobaralhar=0", "volume=255", "tfade=300"});

    Listener listener;
    ASSERT_TRUE(run.Start({.args = {"--play"}}));
    listener.start = run.StartedSteady();
    ASSERT_TRUE(bus.connect(kService, kPath, "org.freedesktop.DBus.Properties", "PropertiesChanged",
                            &listener, SLOT(PropertiesChanged(QString, QVariantMap, QStringList))));
    ASSERT_TRUE(
        Pump([&] { return bus.interface()->isServiceRegistered(kService).value(); }, 20s, run))
        << run.Stderr();
    ASSERT_TRUE(
        Pump([&] { return Property(kPlayer, "PlaybackStatus").toString() == "Playing"; }, 20s, run))
        << run.Stderr();

    // What plays, as the desktop reads it.
    const QVariantMap meta = MapOf(Property(kPlayer, "Metadata"));
    EXPECT_EQ(meta.value("xesam:title").toString(), "Tom A");
    EXPECT_EQ(meta.value("xesam:artist").toStringList(), QStringList{"Artista A"});
    EXPECT_EQ(meta.value("xesam:url").toString(), "file://" + QString::fromStdString(a));
    EXPECT_NEAR(meta.value("mpris:length").toLongLong() / 1e6, 30.0, 0.2);
    EXPECT_TRUE(
        meta.value("mpris:trackid").value<QDBusObjectPath>().path().startsWith("/kav/item/"));
    EXPECT_EQ(Property("org.mpris.MediaPlayer2", "Identity").toString(), "KAV");
    EXPECT_TRUE(Property("org.mpris.MediaPlayer2", "CanRaise").toBool());
    EXPECT_FALSE(Property(kPlayer, "CanPause").toBool()) << "there is no pause";
    EXPECT_FALSE(Property(kPlayer, "CanGoPrevious").toBool());
    EXPECT_TRUE(Property(kPlayer, "CanGoNext").toBool());
    EXPECT_DOUBLE_EQ(Property(kPlayer, "Volume").toDouble(), 1.0);
    EXPECT_GT(Property(kPlayer, "Position").toLongLong(), 0);

    // Next: the playlist's next row, as a double click on it; heard after the call.
    ASSERT_TRUE(Pump([&] { return !Heard(run.Capture(), {500}).empty(); }, 10s, run));
    const double called =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - run.StartedSteady())
            .count();
    QDBusInterface player(kService, kPath, kPlayer, bus);
    const QDBusMessage answer = player.call("Next");
    EXPECT_NE(answer.type(), QDBusMessage::ErrorMessage) << answer.errorMessage().toStdString();
    ASSERT_TRUE(Pump([&] { return !Heard(run.Capture(), {700}).empty(); }, 10s, run))
        << run.Stderr();
    const double nextHeard = run.CaptureWall(Heard(run.Capture(), {700}).front().start);
    EXPECT_GT(nextHeard, called) << "after the call";
    EXPECT_LT(nextHeard, called + 2.0) << "the fade (0.3 s) and the start";
    EXPECT_TRUE(
        Pump([&] { return MapOf(Property(kPlayer, "Metadata")).value("xesam:title") == "b.wav"; },
             5s, run));

    // The programme entry takes over: told without being asked.
    ASSERT_TRUE(Pump(
        [&] {
            for (const auto& c : listener.changes)
                if (MapOf(c.properties.value("Metadata")).value("xesam:title") == "j.wav")
                    return true;
            return false;
        },
        30s, run))
        << run.Stderr();
    const auto told =
        std::find_if(listener.changes.begin(), listener.changes.end(), [](const auto& c) {
            return MapOf(c.properties.value("Metadata")).value("xesam:title") == "j.wav";
        });
    EXPECT_EQ(told->properties.value("PlaybackStatus").toString(), "Playing");
    ASSERT_TRUE(Pump([&] { return !Heard(run.Capture(), {1300}).empty(); }, 5s, run));
    EXPECT_NEAR(told->at, run.CaptureWall(Heard(run.Capture(), {1300}).front().start), 0.5);

    // The slider from the desktop, and Stop.
    bus.call(
        QDBusMessage::createMethodCall(kService, kPath, "org.freedesktop.DBus.Properties", "Set")
        << QString(kPlayer) << QString("Volume") << QVariant::fromValue(QDBusVariant(0.5)));
    EXPECT_TRUE(Pump(
        [&] {
            return std::any_of(listener.changes.begin(), listener.changes.end(), [](const auto& c) {
                return std::abs(c.properties.value("Volume", -1.0).toDouble() - 128 / 255.0) < 1e-6;
            });
        },
        5s, run));
    player.call("Stop");
    EXPECT_TRUE(Pump([&] { return Property(kPlayer, "PlaybackStatus").toString() == "Stopped"; },
                     10s, run));
    int status = 0;
    ASSERT_TRUE(run.Terminate(15s, status)) << run.Stderr();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace

#include "MprisProgramTest.moc"
