// A small StatusNotifierWatcher for the desktop tests: it claims the watcher's
// name on the session bus, says a host is present, and keeps the items that
// register. Ends on SIGTERM like any process.
#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <cstdio>

class Watcher : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)

  public:
    explicit Watcher(QObject* parent) : QDBusAbstractAdaptor(parent) {}
    QStringList items() const { return items_; }
    bool hostRegistered() const { return true; }
    int protocolVersion() const { return 0; }

  public slots:
    // An item gives its service name, or an object path on its own connection.
    void RegisterStatusNotifierItem(const QString& item, const QDBusMessage& message) {
        const QString entry = item.startsWith('/') ? message.service() + item : item;
        if (!items_.contains(entry)) items_.append(entry);
        std::printf("registered %s\n", qPrintable(entry));
        std::fflush(stdout);
        emit StatusNotifierItemRegistered(entry);
    }
    void RegisterStatusNotifierHost(const QString&) { emit StatusNotifierHostRegistered(); }

  signals:
    void StatusNotifierItemRegistered(const QString& item);
    void StatusNotifierItemUnregistered(const QString& item);
    void StatusNotifierHostRegistered();

  private:
    QStringList items_;
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QObject root;
    new Watcher(&root);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerObject("/StatusNotifierWatcher", &root) ||
        !bus.registerService("org.kde.StatusNotifierWatcher")) {
        std::fprintf(stderr, "cannot claim the watcher's name on the session bus\n");
        return 1;
    }
    return app.exec();
}

#include "StatusNotifierWatcher.moc"
