// The tray icon's rules under the offscreen platform, where no tray host runs:
// activations as the tray reports them, the hint, update coalescing and the
// minimise rule without a host.
#include <QApplication>
#include <QStyleHints>
#include <chrono>

#include <gtest/gtest.h>

#include "tests/support/PumpUntil.h"
#include "widgets/CoolTrayIcon.h"
#include "widgets/ProgramIcon.h"

namespace {

using namespace std::chrono_literals;
using Reason = QSystemTrayIcon::ActivationReason;

constexpr int kDoubleClickMs = 150;

class TrayIconTest : public testing::Test {
  protected:
    void SetUp() override {
        QGuiApplication::styleHints()->setMouseDoubleClickInterval(kDoubleClickMs);
        tray = std::make_unique<TCoolTrayIcon>(&owner);
        tray->SetIcon(ProgramIcon());
        tray->SetHint("KAV");
        tray->SetPopupMenu(&menu);
        tray->OnClick = [this] { ++clicks; };
        tray->OnDblClick = [this] { ++doubleClicks; };
    }
    void Activate(Reason reason) { emit tray->Tray().activated(reason); }
    static void Wait(std::chrono::milliseconds ms) {
        PumpUntil([] { return false; }, ms);
    }

    QWidget owner;
    QMenu menu;
    std::unique_ptr<TCoolTrayIcon> tray;
    int clicks = 0;
    int doubleClicks = 0;
};

TEST_F(TrayIconTest, SingleClickArrivesOneDoubleClickTimeLate) {
    const auto start = std::chrono::steady_clock::now();
    Activate(QSystemTrayIcon::Trigger);
    EXPECT_EQ(clicks, 0);
    ASSERT_TRUE(PumpUntil([&] { return clicks == 1; }, 3s));
    EXPECT_GE(std::chrono::steady_clock::now() - start,
              std::chrono::milliseconds(kDoubleClickMs * 9 / 10));
    EXPECT_EQ(doubleClicks, 0);
}

TEST_F(TrayIconTest, DoubleClickGivesOneDoubleClickAndNoClick) {
    Activate(QSystemTrayIcon::Trigger);
    Activate(QSystemTrayIcon::DoubleClick);
    EXPECT_EQ(doubleClicks, 1);
    Wait(std::chrono::milliseconds(kDoubleClickMs * 3));
    EXPECT_EQ(clicks, 0);
    // The next single click is a click again.
    Activate(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(PumpUntil([&] { return clicks == 1; }, 3s));
    EXPECT_EQ(doubleClicks, 1);
}

TEST_F(TrayIconTest, NothingHappensWhileDisabled) {
    std::vector<Qt::MouseButton> downs;
    tray->OnMouseDown = [&](Qt::MouseButton b) { downs.push_back(b); };
    QAction* open = menu.addAction("Abrir...");
    QAction* off = menu.addAction("Off");
    off->setEnabled(false);
    tray->SetEnabled(false);
    EXPECT_EQ(tray->Tray().contextMenu(), nullptr);  // the right button shows nothing
    EXPECT_FALSE(open->isEnabled());  // nor can a host that keeps the menu run an item
    for (Reason r : {QSystemTrayIcon::Trigger, QSystemTrayIcon::DoubleClick,
                     QSystemTrayIcon::Context, QSystemTrayIcon::MiddleClick})
        Activate(r);
    Wait(std::chrono::milliseconds(kDoubleClickMs * 3));
    EXPECT_EQ(clicks + doubleClicks, 0);
    EXPECT_TRUE(downs.empty());
    tray->SetEnabled(true);
    EXPECT_EQ(tray->Tray().contextMenu(), &menu);
    EXPECT_TRUE(open->isEnabled());
    EXPECT_FALSE(off->isEnabled()) << "an item disabled before stays disabled";
    Activate(QSystemTrayIcon::Context);
    Activate(QSystemTrayIcon::MiddleClick);
    EXPECT_EQ(downs, (std::vector<Qt::MouseButton>{Qt::RightButton, Qt::MiddleButton}));
}

TEST_F(TrayIconTest, DoubleClickRunsTheMenusDefaultItem) {
    QAction* open = menu.addAction("Abrir...");
    int opened = 0;
    QObject::connect(open, &QAction::triggered, [&] { ++opened; });
    Activate(QSystemTrayIcon::DoubleClick);
    EXPECT_EQ(opened, 0);  // no default item yet
    menu.setDefaultAction(open);
    Activate(QSystemTrayIcon::DoubleClick);
    EXPECT_EQ(opened, 1);
    tray->LeftPopup = true;
    Activate(QSystemTrayIcon::DoubleClick);
    EXPECT_EQ(opened, 1);
}

TEST_F(TrayIconTest, HintReachesTheTrayCutTo127Characters) {
    const QString hint(200, QChar('h'));
    tray->SetHint(hint);
    EXPECT_EQ(tray->Hint(), hint);
    ASSERT_TRUE(PumpUntil([&] { return tray->Tray().toolTip().size() == 127; }, 3s));
    EXPECT_EQ(tray->Tray().toolTip(), hint.left(127));
    tray->SetShowHint(false);
    EXPECT_TRUE(PumpUntil([&] { return tray->Tray().toolTip().isEmpty(); }, 3s));
}

TEST_F(TrayIconTest, UpdatesWithinAPeriodReachTheTrayOnce) {
    Wait(300ms);  // the updates of the set-up are through
    const int before = tray->TrayUpdates();
    for (int i = 0; i < 10; ++i) tray->SetHint(QString("hint %1").arg(i));
    EXPECT_EQ(tray->TrayUpdates(), before + 1);  // the first at once, the rest wait
    EXPECT_EQ(tray->Tray().toolTip(), "hint 0");
    ASSERT_TRUE(PumpUntil([&] { return tray->Tray().toolTip() == "hint 9"; }, 3s));
    Wait(300ms);
    EXPECT_EQ(tray->TrayUpdates(), before + 2);
    tray->SetHint("hint 9");  // no change: no update
    Wait(200ms);
    EXPECT_EQ(tray->TrayUpdates(), before + 2);
}

TEST_F(TrayIconTest, IconIsGivenAsPixelsInEverySize) {
    const QIcon icon = ProgramIcon();
    EXPECT_TRUE(icon.name().isEmpty());
    for (int size : {16, 32, 48, 64, 128, 256})
        EXPECT_EQ(icon.pixmap(size, size).size(), QSize(size, size)) << size;
    EXPECT_FALSE(tray->Icon().isNull());
}

TEST_F(TrayIconTest, WithoutATrayHostMinimisingLeavesTheWindowReachable) {
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
    tray->MinimizeToTray = true;
    owner.show();
    owner.setWindowState(Qt::WindowMinimized);
    Wait(200ms);
    EXPECT_TRUE(owner.isVisible());
    EXPECT_TRUE(owner.isMinimized());
}

// Hidden into a tray that is not (or no longer) there: back, minimised.
TEST_F(TrayIconTest, AWindowHiddenWithoutATrayHostComesBackMinimised) {
    owner.show();
    tray->HideToTray();
    EXPECT_FALSE(owner.isVisible());
    ASSERT_TRUE(PumpUntil([&] { return owner.isVisible(); }, 5s));
    EXPECT_TRUE(owner.isMinimized());
}

}  // namespace
