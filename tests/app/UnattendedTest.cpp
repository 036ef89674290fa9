// The main window playing by itself, under the offscreen platform, on the real
// engine and its null output, with the program's own message boxes installed:
// a failure is shown without waiting for anyone, the program carries on at
// once, and a box that is already open is not opened a second time.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include "GuiMessageBox.h"
#include "Unit1.h"
#include "engine/BASSPlayer.h"
#include "platform/bassbind/Dynamic_BASS.h"
#include "platform/win/Clock.h"
#include "platform/win/DynLib.h"
#include "platform/win/MessageBox.h"
#include "platform/win/ProgramDir.h"
#include "tests/support/PumpUntil.h"
#include "tests/support/WindowTest.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// A port on 127.0.0.1 where nothing listens: bound once, then closed.
int ClosedPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof addr;
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), size);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size);
    ::close(fd);
    return ntohs(addr.sin_port);
}

// Plays the operator who is not there after all: a box that waits for its OK
// is noted and closed, so that a test that should not wait fails, not hangs.
class WaitingBoxWatch {
  public:
    WaitingBoxWatch() {
        timer_.setInterval(50);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            waited.push_back(box->text().toStdString());
            box->done(QMessageBox::Ok);
        });
        timer_.start();
    }
    std::vector<std::string> waited;

  private:
    QTimer timer_;
};

// The texts of the message boxes on the screen.
std::vector<std::string> OpenBoxes() {
    std::vector<std::string> texts;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible())
            texts.push_back(box->text().toStdString());
    return texts;
}

int CountContaining(const std::vector<std::string>& texts, const std::string& part) {
    return int(std::count_if(texts.begin(), texts.end(), [&](const std::string& t) {
        return t.find(part) != std::string::npos;
    }));
}

class UnattendedTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        InstallGuiMessageBox();
    }

    // kav.ini on the null output with nothing marked; the lists' lines given.
    TForm1& Start(const std::vector<std::string>& playlist,
                  const std::vector<std::string>& programme = {}) {
        std::string pl = "#EXTM3U\r\n", prgm = "#EXTM3U\r\n";
        for (const std::string& line : playlist) pl += line + "\r\n";
        for (const std::string& line : programme) prgm += line + "\r\n";
        Write("pl.m3u", pl);
        Write("prgm.m3u", prgm);
        Settings();
        form = std::make_unique<TForm1>();
        return *form;
    }
    bool Playing() { return form->BASSPlayer1->PlayState() == PLAYSTATE_PLAYING; }
};

struct BadItem {
    const char* what;
    std::function<std::string(const fs::path& dir)> address;
    std::string boxText;   // a part of the box's text
    bool maySkipSilently;  // the engine may also skip it without a box
};

// Each bad item stands between good files twice: reached first at a track's
// end, then by "Play" while the first failure's box is still open, which is
// not opened again.
TEST_F(UnattendedTest, AFailedOpenIsShownWithoutWaitingAndTheNextFilePlays) {
    const int port = ClosedPort();
    const std::vector<BadItem> items = {
        {"a dead stream server",
         [port](const fs::path&) { return "http://127.0.0.1:" + std::to_string(port) + "/live"; },
         "Can't play the specified URL stream", false},
        {"a missing Ogg file", [](const fs::path& d) { return (d / "gone.ogg").string(); },
         "gone.ogg", true},
    };
    for (const BadItem& item : items) {
        SCOPED_TRACE(item.what);
        const std::string bad = item.address(dir);
        TForm1& f =
            Start({Tone("short.wav", 0.3), bad, Tone("one.wav", 5), bad, Tone("two.wav", 5)});
        WaitingBoxWatch watch;
        f.BPlayClick();
        EXPECT_TRUE(PumpUntil([&] { return f.Run().CurrentPlaylistRow == 3 && Playing(); }, 8s));
        const int shown = CountContaining(OpenBoxes(), item.boxText);
        EXPECT_TRUE(shown == 1 || (shown == 0 && item.maySkipSilently)) << shown;
        f.BPlayClick();  // the same bad item again, while its box is open
        EXPECT_TRUE(Playing());
        EXPECT_EQ(f.Run().CurrentPlaylistRow, 5u);
        EXPECT_EQ(CountContaining(OpenBoxes(), item.boxText), shown);
        EXPECT_TRUE(watch.waited.empty()) << watch.waited.front();
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
        form.reset();
        EXPECT_TRUE(OpenBoxes().empty());  // the boxes go with the window
    }
}

// A time entry whose file cannot be opened hands back to the playlist, and
// the scheduler goes on: the next time entry plays on time.
TEST_F(UnattendedTest, AFailedTimeEntryLetsThePlaylistResumeAndTheNextEntryStillFires) {
    win::ManualClock clock(12 * 3'600'000u);
    win::SetClock(&clock);
    TForm1& f = Start({Tone("music.wav", 30), Tone("more.wav", 30)},
                      {"#KAVINF:12:00:05", (dir / "gone.ogg").string(), "#KAVINF:12:00:10",
                       Tone("news.wav", 30)});
    WaitingBoxWatch watch;
    clock.SetTimeOfDay(12 * 3'600'000u + 6000);
    f.Timer1Timer();
    EXPECT_TRUE(Playing());
    EXPECT_FALSE(f.Run().PlayingFromProgramme);
    EXPECT_EQ(f.Run().CurrentPlaylistRow, 1u);

    clock.SetTimeOfDay(12 * 3'600'000u + 11000);
    f.Timer1Timer();
    EXPECT_TRUE(Playing());
    EXPECT_TRUE(f.Run().PlayingFromProgramme);
    EXPECT_EQ(f.Run().CurrentProgrammeRow, 2u);
    EXPECT_TRUE(watch.waited.empty()) << watch.waited.front();
}

// Boxes that answer the operator's own command, and the end of the run, still
// wait for their OK.
TEST_F(UnattendedTest, TheOperatorsOwnCommandsAndTheEndOfTheRunStillWait) {
    fs::create_directory(dir / "unreadable.m3u");
    TForm1& f = Start({Tone("last.wav", 0.3)}, {"#KAVINF:!", Tone("end.wav", 0.3)});
    WaitingBoxWatch watch;
    f.DropFiles({(dir / "unreadable.m3u").string()});
    ASSERT_EQ(watch.waited.size(), 1u);
    EXPECT_NE(watch.waited[0].find("unreadable.m3u"), std::string::npos);

    f.prgmlistDblClick();  // the "!" entry: its end ends the run
    ASSERT_TRUE(Playing());
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (watch.waited.size() < 2 && std::chrono::steady_clock::now() < end)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    ASSERT_EQ(watch.waited.size(), 2u);
    EXPECT_EQ(watch.waited[1], "Terminado!");
    fs::remove(dir / "unreadable.m3u");
}

// A box that offers OK and Cancel (the output emulator's "No Space") shows
// both, and does not wait either.
TEST_F(UnattendedTest, AnOkCancelBoxShowsBothButtonsWithoutWaiting) {
    WaitingBoxWatch watch;
    EXPECT_EQ(win::MessageBox(0, "Write error : No Space", "Error", win::MB_OKCANCEL), win::IDOK);
    QMessageBox* shown = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible())
            if (box->text() == "Write error : No Space") shown = box;
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->standardButtons(), QMessageBox::Ok | QMessageBox::Cancel);
    EXPECT_TRUE(watch.waited.empty());
    shown->close();
}

}  // namespace
