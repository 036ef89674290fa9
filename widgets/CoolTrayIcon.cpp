#include "widgets/CoolTrayIcon.h"

#include <QEvent>
#include <QTimer>
#include <QWidget>

TCoolTrayIcon::TCoolTrayIcon(QWidget* owner) : QObject(owner), owner_(owner) {
    connect(&icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
        if (enabled_ && r == QSystemTrayIcon::DoubleClick && OnDblClick) OnDblClick();
    });
    owner_->installEventFilter(this);
    if (QSystemTrayIcon::isSystemTrayAvailable()) icon_.show();
}

void TCoolTrayIcon::SetHint(const QString& hint) {
    icon_.setToolTip(hint.left(127));
}

void TCoolTrayIcon::SetIcon(const QIcon& icon) {
    icon_.setIcon(icon);
}

bool TCoolTrayIcon::eventFilter(QObject* watched, QEvent* event) {
    if (watched == owner_ && event->type() == QEvent::WindowStateChange && MinimizeToTray &&
        owner_->isMinimized() && QSystemTrayIcon::isSystemTrayAvailable())
        QTimer::singleShot(0, owner_, [w = owner_] { w->hide(); });
    return false;
}
