#include "widgets/CoolTrayIcon.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QEvent>
#include <QWidget>

TCoolTrayIcon::TCoolTrayIcon(QWidget* owner) : QObject(owner), owner_(owner) {
    connect(&tray_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) { activated(reason); });
    modify_.setInterval(kModifyPeriodMs);
    connect(&modify_, &QTimer::timeout, this, [this] { modifyTick(); });
    doubleClickTimer_.setSingleShot(true);
    doubleClickTimer_.setTimerType(Qt::PreciseTimer);
    doubleClickTimer_.setInterval(QApplication::doubleClickInterval());
    connect(&doubleClickTimer_, &QTimer::timeout, this, [this] { doubleClickTimeUp(); });
    trayCheck_.setInterval(kTrayCheckMs);
    connect(&trayCheck_, &QTimer::timeout, this, [this] { checkTrayHost(); });
    owner_->installEventFilter(this);
    // Once the owner has been built and its properties set.
    QTimer::singleShot(0, this, [this] {
        if (iconVisible_) AddTrayIcon();
    });
}

// --- Properties ------------------------------------------------------------------

void TCoolTrayIcon::SetIcon(const QIcon& icon) {
    icon_ = icon;
    UpdateTrayIcon();
}

void TCoolTrayIcon::SetHint(const QString& hint) {
    if (hint == hint_) return;
    hint_ = hint;
    UpdateTrayIcon();
}

void TCoolTrayIcon::SetShowHint(bool show) {
    showHint_ = show;
    UpdateTrayIcon();
}

void TCoolTrayIcon::SetIconVisible(bool visible) {
    if (visible)
        AddTrayIcon();
    else
        RemoveTrayIcon();
}

void TCoolTrayIcon::SetEnabled(bool enabled) {
    enabled_ = enabled;
    attachMenu();
}

void TCoolTrayIcon::SetPopupMenu(QMenu* menu) {
    menu_ = menu;
    attachMenu();
}

// The tray shows the menu itself: an XEmbed tray on the right button, so it
// has the menu only while mouse actions are handled; a StatusNotifierItem host
// keeps the menu it was given, so its items are disabled meanwhile.
void TCoolTrayIcon::attachMenu() {
    tray_.setContextMenu(enabled_ ? menu_.data() : nullptr);
    if (!enabled_ && menu_) {
        for (QAction* action : menu_->actions())
            if (action->isEnabled()) {
                action->setEnabled(false);
                disabledItems_.append(action);
            }
    }
    if (enabled_) {
        for (const QPointer<QAction>& action : disabledItems_)
            if (action) action->setEnabled(true);
        disabledItems_.clear();
    }
}

QString TCoolTrayIcon::trayTip() const {
    return showHint_ ? hint_.left(kMaxTip) : QString();
}

// --- The tray --------------------------------------------------------------------

// Shown whether or not a tray host runs now: the icon appears when one starts,
// and comes back when a host restarts.
void TCoolTrayIcon::AddTrayIcon() {
    applyToTray();
    tray_.show();
    iconVisible_ = true;
}

void TCoolTrayIcon::RemoveTrayIcon() {
    tray_.hide();
    iconVisible_ = false;
}

void TCoolTrayIcon::UpdateTrayIcon() {
    updatePending_ = true;
    if (modify_.isActive()) return;
    modifyTick();
    modify_.start();
}

void TCoolTrayIcon::modifyTick() {
    if (!updatePending_) return modify_.stop();
    applyToTray();
}

void TCoolTrayIcon::applyToTray() {
    updatePending_ = false;
    tray_.setIcon(icon_);
    tray_.setToolTip(trayTip());
    ++trayUpdates_;
}

void TCoolTrayIcon::HideToTray() {
    owner_->hide();
    trayCheck_.start();
}

// Asks only the bus daemon or the X server, never the host itself, so a host
// that hangs cannot stall the GUI thread.
bool TCoolTrayIcon::trayHostPresent() const {
    if (!onStatusNotifierHost()) return QSystemTrayIcon::isSystemTrayAvailable();
    QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    return bus && bus->isServiceRegistered(QStringLiteral("org.kde.StatusNotifierWatcher"));
}

void TCoolTrayIcon::checkTrayHost() {
    if (owner_->isVisible()) return trayCheck_.stop();
    if (trayHostPresent()) return;
    trayCheck_.stop();
    owner_->showMinimized();
}

// Minimising hides the owner only while a tray can bring it back; without a
// tray host it minimises as any window does.
bool TCoolTrayIcon::eventFilter(QObject* watched, QEvent* event) {
    if (watched != owner_) return false;
    if (event->type() == QEvent::WindowStateChange && MinimizeToTray && owner_->isMinimized() &&
        iconVisible_ && QSystemTrayIcon::isSystemTrayAvailable()) {
        QTimer::singleShot(0, this, [this] {
            HideToTray();
            AddTrayIcon();
        });
    }
    if (event->type() == QEvent::Show && !shownOnce_) {
        shownOnce_ = true;
        if (StartMinimized && QSystemTrayIcon::isSystemTrayAvailable())
            QTimer::singleShot(0, this, [this] { HideToTray(); });
    }
    return false;
}

// --- Mouse ---------------------------------------------------------------------

void TCoolTrayIcon::activated(QSystemTrayIcon::ActivationReason reason) {
    if (!enabled_) return;
    switch (reason) {
        case QSystemTrayIcon::Trigger:
            if (onStatusNotifierHost())
                doubleClick();
            else
                leftClick();
            break;
        case QSystemTrayIcon::DoubleClick:
            doubleClick();
            break;
        case QSystemTrayIcon::Context:
            mouseDown(Qt::RightButton);
            break;
        case QSystemTrayIcon::MiddleClick:
            mouseDown(Qt::MiddleButton);
            break;
        default:
            break;
    }
}

// The tray reports the press; the click waits one double-click time, so that
// a double click never gives one.
void TCoolTrayIcon::leftClick() {
    doubleClickTimer_.start();
    mouseDown(Qt::LeftButton);
    if (LeftPopup && menu_) menu_->popup(QCursor::pos());
    clickPending_ = true;
}

void TCoolTrayIcon::doubleClickTimeUp() {
    if (!doubleClickSeen_ && clickPending_) {
        clickPending_ = false;
        if (OnClick) OnClick();
    }
    doubleClickSeen_ = false;
}

void TCoolTrayIcon::doubleClick() {
    clickPending_ = false;
    // Remembered until the pending click's time is up, if one is running.
    doubleClickSeen_ = doubleClickTimer_.isActive();
    if (OnDblClick) OnDblClick();
    if (menu_ && !LeftPopup && menu_->defaultAction()) menu_->defaultAction()->trigger();
}

void TCoolTrayIcon::mouseDown(Qt::MouseButton button) {
    if (OnMouseDown) OnMouseDown(button);
}

// On a StatusNotifierItem host Qt serves the icon on a session-bus connection
// of its own, named after the process and the icon's number; on an XEmbed
// tray there is no such connection.
bool TCoolTrayIcon::onStatusNotifierHost() const {
    const qint64 pid = QCoreApplication::applicationPid();
    for (int instance = 1; instance <= 16; ++instance) {
        QDBusConnection bus(
            QStringLiteral("org.kde.StatusNotifierItem-%1-%2").arg(pid).arg(instance));
        if (bus.isConnected() && bus.objectRegisteredAt(QStringLiteral("/StatusNotifierItem")))
            return true;
    }
    return false;
}
