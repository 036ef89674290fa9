// The about box, the link label and the version strings. This test program
// carries the version 1.2.3.4, as the program carries the project's.
#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include "platform/win/DataDir.h"
#include "platform/win/ProgramDir.h"
#include "tests/widgets/MouseEvents.h"
#include "widgets/LnkLabel.h"
#include "widgets/filever.h"
#include "widgets/sobre.h"

extern "C" const std::uint16_t* kav_executable_version() {
    static const std::uint16_t parts[4] = {1, 2, 3, 4};
    return parts;
}

// Receives the links the desktop is asked to open.
class UrlCatcher : public QObject {
    Q_OBJECT
  public:
    std::vector<QString> opened;
  public slots:
    void open(const QUrl& url) { opened.push_back(url.toString()); }
};

namespace {

TEST(FileVersionTest, FormatsTheFourPartsAndNothingForNone) {
    const struct {
        std::optional<TFileVersion> version;
        const char* full;
        const char* brief;
    } cases[] = {{TFileVersion{1, 2, 3, 4}, "1.2.3.4", "1.2"},
                 {TFileVersion{65535, 0, 7, 10}, "65535.0.7.10", "65535.0"},
                 {std::nullopt, "", ""}};
    for (const auto& c : cases) {
        EXPECT_EQ(FileVersionText(c.version).toStdString(), c.full);
        EXPECT_EQ(ShortVersionText(c.version).toStdString(), c.brief);
    }
    EXPECT_EQ(FileVersionText().toStdString(), "1.2.3.4");  // this executable's own
}

TEST(AboutBoxTest, ShowsTheVersionInItsFrameOfOwn) {
    Tfsobre box;
    EXPECT_EQ(box.Label4->text(), QString::fromUtf8("Versão 1.2   (1.2.3.4)"));
    EXPECT_EQ(box.Label1->text(), "KAV");
    EXPECT_EQ(box.size(), QSize(271, 109));
    EXPECT_TRUE(box.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(box.palette().color(QPalette::Window), QColor(237, 236, 227));
    EXPECT_FALSE(box.Image2->pixmap().isNull());
    EXPECT_TRUE(box.LnkLabel2->Link.startsWith("mailto:" + box.LnkLabel2->text()));
}

// The data folder is in the version's tip; a line of its own is added below
// the box's own only when it is not the program directory.
TEST(AboutBoxTest, ShowsTheDataFolderWhereItIsNotTheProgramDirectory) {
    win::SetProgramDir("/tmp");  // writable: the data folder itself
    {
        Tfsobre box;
        EXPECT_EQ(box.size(), QSize(271, 109));
        EXPECT_EQ(box.DataLabel, nullptr);
        EXPECT_TRUE(box.Label4->toolTip().endsWith("/tmp"));
    }
    win::SetDataDir("/home/ana/.config/kav");
    {
        Tfsobre box;
        EXPECT_EQ(box.size(), QSize(271, 127));
        ASSERT_NE(box.DataLabel, nullptr);
        EXPECT_EQ(box.DataLabel->text(), "Dados: /home/ana/.config/kav");
        EXPECT_LE(box.DataLabel->geometry().bottom(), box.height());
    }
    win::SetDataDir("");
    win::SetProgramDir("");
}

TEST(AboutBoxTest, DraggedByBackgroundAndIconWithTheLeftButtonOnly) {
    Tfsobre box;
    box.show();
    for (QWidget* handle : {box.Shape1, static_cast<QWidget*>(box.Image2)}) {
        const QPoint start = box.pos();
        Press(handle, {10, 10}, Qt::RightButton);
        Move(handle, {30, 25}, Qt::RightButton);
        EXPECT_EQ(box.pos(), start) << "the right button does not drag";
        Release(handle, {30, 25}, Qt::RightButton);

        Press(handle, {10, 10});
        Move(handle, {30, 25});
        EXPECT_EQ(box.pos(), start + QPoint(20, 15));
        Move(handle, {10, 10});  // the window has caught up with the pointer
        EXPECT_EQ(box.pos(), start + QPoint(20, 15));
        Move(handle, {5, 12});
        EXPECT_EQ(box.pos(), start + QPoint(15, 17));
        Release(handle, {5, 12});
        Move(handle, {60, 60}, Qt::NoButton);
        EXPECT_EQ(box.pos(), start + QPoint(15, 17)) << "released: no more dragging";
    }
}

TEST(AboutBoxTest, OkEnterAndEscCloseIt) {
    const std::function<void(Tfsobre&)> closers[] = {
        [](Tfsobre& b) { QTest::keyClick(&b, Qt::Key_Return); },
        [](Tfsobre& b) { QTest::keyClick(&b, Qt::Key_Escape); },
        [](Tfsobre& b) { b.Button1->click(); },
    };
    for (const auto& close : closers) {
        Tfsobre box;
        box.show();
        ASSERT_TRUE(box.isVisible());
        close(box);
        EXPECT_FALSE(box.isVisible());
    }
}

TEST(LinkLabelTest, ClickOpensTheLinkAndLeavingShowsTheVisitedColour) {
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("https", &catcher, "open");
    QDesktopServices::setUrlHandler("mailto", &catcher, "open");
    TLnkLabel label;
    label.setText("site");
    label.resize(60, 16);
    label.Link = "https://kav.example.org/x";
    EXPECT_EQ(label.FontColor(), QColor(Qt::blue));
    Enter(&label);
    EXPECT_EQ(label.FontColor(), QColor(Qt::red));
    Press(&label, {5, 5});
    Release(&label, {5, 5});
    EXPECT_EQ(catcher.opened, std::vector<QString>{"https://kav.example.org/x"});
    EXPECT_EQ(label.FontColor(), QColor(Qt::red)) << "still under the mouse";
    Leave(&label);
    EXPECT_EQ(label.FontColor(), label.VisitedColor);
    EXPECT_EQ(label.VisitedColor, QColor(0, 0, 128));
    Enter(&label);
    EXPECT_EQ(label.FontColor(), QColor(Qt::red));

    Press(&label, {5, 5});
    Release(&label, {200, 5});  // released elsewhere: not a click
    EXPECT_EQ(catcher.opened.size(), 1u);

    Tfsobre box;
    Press(box.LnkLabel2, {3, 3});
    Release(box.LnkLabel2, {3, 3});
    ASSERT_EQ(catcher.opened.size(), 2u);
    EXPECT_EQ(catcher.opened[1], box.LnkLabel2->Link);
    QDesktopServices::unsetUrlHandler("https");
    QDesktopServices::unsetUrlHandler("mailto");
}

}  // namespace

#include "AboutTest.moc"
