// The notification-area icon: its picture and tool tip, clicks and double
// clicks turned into events, the pop-up menu, and hiding the owner window
// there when it is minimised. GUI thread only.
//
// Trays deliver activations, not raw mouse messages: a left press (Trigger),
// a double click (XEmbed trays only), the context request and the middle
// button. StatusNotifierItem hosts never deliver a double click, so there one
// activation does what a double click does.
#pragma once

#include <QAction>
#include <QIcon>
#include <QList>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>
#include <functional>

class TCoolTrayIcon : public QObject {
  public:
    // At most this many characters of the hint reach the tray.
    static constexpr int kMaxTip = 127;
    // Icon and tool-tip updates reach the tray at most once per this period.
    static constexpr int kModifyPeriodMs = 100;

    explicit TCoolTrayIcon(QWidget* owner);

    QIcon Icon() const { return icon_; }
    void SetIcon(const QIcon& icon);
    QString Hint() const { return hint_; }
    void SetHint(const QString& hint);
    bool ShowHint() const { return showHint_; }
    void SetShowHint(bool show);
    bool IconVisible() const { return iconVisible_; }
    void SetIconVisible(bool visible);
    // While false, clicks, double clicks and the menu do nothing (a fade clears it).
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    QMenu* PopupMenu() const { return menu_; }
    void SetPopupMenu(QMenu* menu);
    bool LeftPopup = false;
    bool MinimizeToTray = false;
    bool StartMinimized = false;

    std::function<void()> OnClick;  // one double-click time after a single click
    std::function<void()> OnDblClick;
    std::function<void(Qt::MouseButton)> OnMouseDown;

    void AddTrayIcon();
    void RemoveTrayIcon();
    // Hands the icon and tip to the tray, coalescing updates (kModifyPeriodMs).
    void UpdateTrayIcon();
    // Hides the owner window (and so its taskbar entry); the icon stays. Should
    // the tray host go away meanwhile, the window comes back minimised.
    void HideToTray();
    static constexpr int kTrayCheckMs = 1000;

    // The tray icon itself, and how many updates have reached it.
    QSystemTrayIcon& Tray() { return tray_; }
    int TrayUpdates() const { return trayUpdates_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QString trayTip() const;
    void applyToTray();
    void modifyTick();
    void attachMenu();
    void activated(QSystemTrayIcon::ActivationReason reason);
    void leftClick();
    void doubleClick();
    void doubleClickTimeUp();
    void mouseDown(Qt::MouseButton button);
    // True when the icon lives on a StatusNotifierItem host.
    bool onStatusNotifierHost() const;
    bool trayHostPresent() const;
    void checkTrayHost();

    QWidget* owner_;
    QSystemTrayIcon tray_;
    QIcon icon_;
    QString hint_;
    bool showHint_ = true;
    bool iconVisible_ = true;
    bool enabled_ = true;
    QPointer<QMenu> menu_;
    QList<QPointer<QAction>> disabledItems_;  // by SetEnabled(false), to give back

    QTimer modify_;
    bool updatePending_ = false;
    int trayUpdates_ = 0;

    QTimer doubleClickTimer_;
    bool clickPending_ = false;
    bool doubleClickSeen_ = false;
    bool shownOnce_ = false;
    QTimer trayCheck_;  // while hidden: is a tray host still there?
};
