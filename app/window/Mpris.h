// Desktop media control: the program as an MPRIS 2 player on the session bus
// (name org.mpris.MediaPlayer2.kav, or ...kav.instance<pid> when a program
// of another data folder holds that name; object /org/mpris/MediaPlayer2),
// with the root and the Player interfaces. What plays comes from the
// now-playing notifier; the commands go to the program through MprisHost,
// after the call has been answered, so a fade never holds a caller.
// Pause, Previous and seeking do not exist here: CanPause, CanGoPrevious and
// CanSeek say so, and those calls do nothing.
//
// GUI thread only (Qt's D-Bus delivers calls there). Without a session bus
// nothing is registered and nothing is said.
#pragma once

#include <QDBusAbstractAdaptor>
#include <QDBusObjectPath>
#include <QObject>
#include <QStringList>
#include <QVariantMap>
#include <cstdint>
#include <functional>

#include "NowPlaying.h"

// What the player asks of the program.
struct MprisHost {
    std::function<void()> Raise{};  // "Abrir..."
    std::function<void()> Quit{};   // closing the window
    std::function<void()> Play{};   // "Pla&y", when nothing plays
    std::function<void()> Stop{};   // "&Parar"
    std::function<void()> Next{};   // the playlist's next row, as a double click on it
    std::function<bool()> Playing{};
    std::function<double()> Volume{};  // the slider, 0..1
    std::function<void(double)> SetVolume{};
    std::function<std::int64_t()> PositionUs{};
};

class TMpris : public QObject, public nowplaying::Listener {
    Q_OBJECT

  public:
    static constexpr const char* kObjectPath = "/org/mpris/MediaPlayer2";
    static constexpr const char* kServiceName = "org.mpris.MediaPlayer2.kav";

    explicit TMpris(MprisHost host);
    ~TMpris() override;

    // The name asked for on the bus; empty without a session bus.
    const QString& ServiceName() const { return service_; }
    const MprisHost& Host() const { return host_; }
    const nowplaying::Snapshot& Now() const { return now_; }

    // The playing state and the metadata have changed.
    void Changed(const nowplaying::Snapshot& now) override;
    // The slider moved.
    void VolumeChanged();

    // The properties as the interfaces give them.
    QString PlaybackStatus() const;
    QVariantMap Metadata() const;

  private:
    void requestName(const QString& name, bool fallback);
    void propertiesChanged(const QVariantMap& changed);
    // Runs a command once the call that asked for it has been answered.
    void later(const std::function<void()>& command);

    MprisHost host_;
    nowplaying::Snapshot now_;
    QString service_;
    bool registered_ = false;
};

// org.mpris.MediaPlayer2
class TMprisRoot : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ CanQuit)
    Q_PROPERTY(bool CanRaise READ CanRaise)
    Q_PROPERTY(bool HasTrackList READ HasTrackList)
    Q_PROPERTY(QString Identity READ Identity)
    Q_PROPERTY(QString DesktopEntry READ DesktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ SupportedUriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ SupportedMimeTypes)

  public:
    TMprisRoot(TMpris* mpris, std::function<void(const std::function<void()>&)> later);
    bool CanQuit() const { return true; }
    bool CanRaise() const { return true; }
    bool HasTrackList() const { return false; }
    QString Identity() const { return QStringLiteral("KAV"); }
    QString DesktopEntry() const { return QStringLiteral("kav"); }
    QStringList SupportedUriSchemes() const { return {}; }
    QStringList SupportedMimeTypes() const { return {}; }

  public slots:
    void Raise();
    void Quit();

  private:
    TMpris* mpris_;
    std::function<void(const std::function<void()>&)> later_;
};

// org.mpris.MediaPlayer2.Player
class TMprisPlayer : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ PlaybackStatus)
    Q_PROPERTY(double Rate READ Rate WRITE SetRate)
    Q_PROPERTY(QVariantMap Metadata READ Metadata)
    Q_PROPERTY(double Volume READ Volume WRITE SetVolume)
    Q_PROPERTY(qlonglong Position READ Position)
    Q_PROPERTY(double MinimumRate READ Rate)
    Q_PROPERTY(double MaximumRate READ Rate)
    Q_PROPERTY(bool CanGoNext READ CanGoNext)
    Q_PROPERTY(bool CanGoPrevious READ CanGoPrevious)
    Q_PROPERTY(bool CanPlay READ CanPlay)
    Q_PROPERTY(bool CanPause READ CanPause)
    Q_PROPERTY(bool CanSeek READ CanSeek)
    Q_PROPERTY(bool CanControl READ CanControl)

  public:
    TMprisPlayer(TMpris* mpris, std::function<void(const std::function<void()>&)> later);
    QString PlaybackStatus() const { return mpris_->PlaybackStatus(); }
    double Rate() const { return 1.0; }
    void SetRate(double) {}
    QVariantMap Metadata() const { return mpris_->Metadata(); }
    double Volume() const;
    void SetVolume(double volume);
    qlonglong Position() const;
    bool CanGoNext() const { return true; }
    bool CanGoPrevious() const { return false; }
    bool CanPlay() const { return true; }
    bool CanPause() const { return false; }
    bool CanSeek() const { return false; }
    bool CanControl() const { return true; }

  public slots:
    void Next();
    void Previous() {}
    void Pause() {}
    void PlayPause();
    void Stop();
    void Play();
    void Seek([[maybe_unused]] qlonglong Offset) {}
    void SetPosition([[maybe_unused]] const QDBusObjectPath& TrackId,
                     [[maybe_unused]] qlonglong Position) {}
    void OpenUri([[maybe_unused]] const QString& Uri) {}

  signals:
    void Seeked(qlonglong position);

  private:
    TMpris* mpris_;
    std::function<void(const std::function<void()>&)> later_;
};
