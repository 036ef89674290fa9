#include "Mpris.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <cmath>

#include "Paths.h"

namespace {

constexpr const char* kRootInterface = "org.mpris.MediaPlayer2";
constexpr const char* kPlayerInterface = "org.mpris.MediaPlayer2.Player";
constexpr unsigned kDoNotQueue = 4;    // RequestName's DBUS_NAME_FLAG_DO_NOT_QUEUE
constexpr unsigned kPrimaryOwner = 1;  // its DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER

QString text(const std::string& s) {
    return QString::fromStdString(s);
}

QString urlOf(const std::string& file) {
    if (paths::IsNetworkAddress(file)) return text(file);
    return QUrl::fromLocalFile(text(file)).toString(QUrl::FullyEncoded);
}

}  // namespace

TMpris::TMpris(MprisHost host) : host_(std::move(host)) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    auto later = [this](const std::function<void()>& command) { this->later(command); };
    new TMprisRoot(this, later);
    new TMprisPlayer(this, later);
    registered_ = bus.registerObject(kObjectPath, this);
    if (registered_) requestName(kServiceName, true);
}

TMpris::~TMpris() {
    if (!registered_) return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterObject(kObjectPath);
    if (!service_.isEmpty()) bus.unregisterService(service_);
}

// Asked without waiting for the answer: a bus that is slow to answer never
// holds the GUI thread. Another program holding the name leaves this one an
// instance name of its own, as the interface allows.
void TMpris::requestName(const QString& name, bool fallback) {
    service_ = name;
    QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    if (!bus) return;
    QDBusPendingCall call = bus->asyncCall(QStringLiteral("RequestName"), name, kDoNotQueue);
    auto* watcher = new QDBusPendingCallWatcher(call, this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, fallback](QDBusPendingCallWatcher* w) {
                const QDBusPendingReply<unsigned> reply = *w;
                w->deleteLater();
                if ((reply.isError() || reply.value() != kPrimaryOwner) && fallback)
                    requestName(QStringLiteral("%1.instance%2")
                                    .arg(kServiceName)
                                    .arg(QCoreApplication::applicationPid()),
                                false);
            });
}

void TMpris::later(const std::function<void()>& command) {
    if (command) QTimer::singleShot(0, this, command);
}

QString TMpris::PlaybackStatus() const {
    return now_.playing ? QStringLiteral("Playing") : QStringLiteral("Stopped");
}

QVariantMap TMpris::Metadata() const {
    if (!now_.playing)
        return {{"mpris:trackid", QVariant::fromValue(QDBusObjectPath(
                                      "/org/mpris/MediaPlayer2/TrackList/NoTrack"))}};
    const nowplaying::Item& i = now_.item;
    QVariantMap m;
    m["mpris:trackid"] =
        QVariant::fromValue(QDBusObjectPath(QStringLiteral("/kav/item/%1").arg(i.id)));
    m["xesam:title"] = text(i.title.empty() ? nowplaying::DisplayText(i) : i.title);
    if (!i.artist.empty()) m["xesam:artist"] = QStringList{text(i.artist)};
    m["xesam:url"] = urlOf(i.file);
    if (i.lengthMs > 0) m["mpris:length"] = qlonglong(i.lengthMs) * 1000;
    return m;
}

void TMpris::Changed(const nowplaying::Snapshot& now) {
    now_ = now;
    propertiesChanged({{"PlaybackStatus", PlaybackStatus()}, {"Metadata", Metadata()}});
}

void TMpris::VolumeChanged() {
    if (host_.Volume) propertiesChanged({{"Volume", host_.Volume()}});
}

void TMpris::propertiesChanged(const QVariantMap& changed) {
    if (!registered_) return;
    QDBusMessage signal =
        QDBusMessage::createSignal(kObjectPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                   QStringLiteral("PropertiesChanged"));
    signal << QString(kPlayerInterface) << changed << QStringList();
    QDBusConnection::sessionBus().send(signal);
}

// --- The interfaces -------------------------------------------------------------

TMprisRoot::TMprisRoot(TMpris* mpris, std::function<void(const std::function<void()>&)> later)
    : QDBusAbstractAdaptor(mpris), mpris_(mpris), later_(std::move(later)) {}

void TMprisRoot::Raise() {
    later_(mpris_->Host().Raise);
}

void TMprisRoot::Quit() {
    later_(mpris_->Host().Quit);
}

TMprisPlayer::TMprisPlayer(TMpris* mpris, std::function<void(const std::function<void()>&)> later)
    : QDBusAbstractAdaptor(mpris), mpris_(mpris), later_(std::move(later)) {}

double TMprisPlayer::Volume() const {
    return mpris_->Host().Volume ? mpris_->Host().Volume() : 1.0;
}

void TMprisPlayer::SetVolume(double volume) {
    if (!std::isfinite(volume) || !mpris_->Host().SetVolume) return;
    const double v = std::clamp(volume, 0.0, 1.0);
    later_([host = mpris_->Host(), v] { host.SetVolume(v); });
}

qlonglong TMprisPlayer::Position() const {
    return mpris_->Host().PositionUs ? mpris_->Host().PositionUs() : 0;
}

void TMprisPlayer::Next() {
    later_(mpris_->Host().Next);
}

// Without a pause, play and pause are play and stop.
void TMprisPlayer::PlayPause() {
    const MprisHost& host = mpris_->Host();
    later_(host.Playing && host.Playing() ? host.Stop : host.Play);
}

void TMprisPlayer::Stop() {
    later_(mpris_->Host().Stop);
}

// Already playing, it goes on as it is.
void TMprisPlayer::Play() {
    const MprisHost& host = mpris_->Host();
    if (!(host.Playing && host.Playing())) later_(host.Play);
}
