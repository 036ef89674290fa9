// The notification-area icon: hint, pop-up menu, double click, and hiding the
// main window there when it is minimised.
#pragma once

#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>
#include <functional>

class TCoolTrayIcon : public QObject {
  public:
    explicit TCoolTrayIcon(QWidget* owner);

    void SetHint(const QString& hint);
    QString Hint() const { return icon_.toolTip(); }
    void SetIcon(const QIcon& icon);
    void SetPopupMenu(QMenu* menu) { icon_.setContextMenu(menu); }
    QMenu* PopupMenu() const { return icon_.contextMenu(); }
    // Mouse handling on or off (off during a fade).
    void SetEnabled(bool enabled) { enabled_ = enabled; }
    bool Enabled() const { return enabled_; }
    bool MinimizeToTray = true;

    std::function<void()> OnDblClick;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QWidget* owner_;
    QSystemTrayIcon icon_;
    bool enabled_ = true;
};
