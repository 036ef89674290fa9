// The main window playing, under the offscreen platform, on the real engine
// and its null output: the now-playing display, the transport, the fade as
// the window shows it, and the lists' double click and Enter.
#include <gtest/gtest.h>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QToolButton>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "CaptureAnalysis.h"
#include "Unit1.h"
#include "engine/BASSPlayer.h"
#include "platform/bassbind/Dynamic_BASS.h"
#include "platform/win/Clock.h"
#include "platform/win/DynLib.h"
#include "platform/win/MessageBox.h"
#include "platform/win/ProgramDir.h"
#include "tests/support/PumpUntil.h"
#include "tests/support/WindowTest.h"
#include "widgets/CoolTrayIcon.h"
#include "widgets/RXSlider.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

class WindowPlaybackTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        win::SetMessageBoxHandler(
            [this](const std::string& caption, const std::string& text, unsigned) {
                boxes.push_back(caption + ": " + text);
                if (onBox) onBox();
                return win::IDOK;
            });
    }
    std::string Mp3(const std::string& name, double seconds, const std::string& tags) {
        const std::string wav = Tone(name + ".wav", seconds);
        const std::string path = (dir / name).string();
        const std::string command = "lame --quiet -b 128 " + tags + " '" + wav + "' '" + path + "'";
        EXPECT_EQ(std::system(command.c_str()), 0);
        return path;
    }
    TForm1& Start() {
        form = std::make_unique<TForm1>();
        return *form;
    }
    TBASSPlayer& Engine() { return *form->BASSPlayer1; }
    static void Key(QWidget* w, int key) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(w, &press);
    }
    static std::string Text(const QLabel* label) { return label->text().toStdString(); }

    std::vector<std::string> boxes;
    std::function<void()> onBox;
};

TEST_F(WindowPlaybackTest, ATaggedMp3ShowsItsArtistTitleParametersAndLength) {
    const std::string mp3 = Mp3("tagged.mp3", 3.5, "--ta 'Os Artistas' --tt 'Uma Cancao'");
    Write("pl.m3u", "#EXTM3U\r\n" + mp3 + "\r\n");
    Settings();
    TForm1& f = Start();
    f.SpeedButton1->click();  // "Pla&y"
    ASSERT_EQ(Engine().PlayState(), PLAYSTATE_PLAYING);
    EXPECT_EQ(Text(f.Lartist), "Os Artistas");
    EXPECT_EQ(Text(f.Ltitle), "Uma Cancao");
    EXPECT_EQ(Text(f.Lparam), "44100 Hz, 128 kbps, estéreo");
    EXPECT_EQ(Text(f.Ldur), "00:00:03");
    // The tick keeps the elapsed time current.
    EXPECT_TRUE(PumpUntil([&] { return Text(f.Lpos) == "00:00:01"; }, 3s));
    EXPECT_EQ(f.playlistCells.Cell(0, 1), "   >");
    EXPECT_TRUE(boxes.empty()) << boxes.front();
    // The slider, and its wheel, set the engine's volume.
    f.volume->SetValue(120);
    EXPECT_EQ(Engine().Volume(), 120u);
    f.volumeMouseWheelUp();
    EXPECT_EQ(Engine().Volume(), 122u);
}

// A local file without a title tag is given its file name as title by the
// engine; the display's own text stands where the engine gives none.
TEST_F(WindowPlaybackTest, AnUntaggedFileSaysSoAndAMonoFileShowsMono) {
    const std::string wav = Tone("mono.wav", 2, 1);
    const std::string mp3 = Mp3("plain.mp3", 2, "");
    Write("pl.m3u", "#EXTM3U\r\n" + mp3 + "\r\n" + wav + "\r\n");
    Settings();
    TForm1& f = Start();
    f.BPlayClick();
    EXPECT_EQ(Text(f.Lartist), "Sem indicação de autor");
    EXPECT_EQ(Text(f.Ltitle), "plain.mp3");
    EXPECT_EQ(Text(f.Lparam), "44100 Hz, 128 kbps, estéreo");
    f.BPlayClick();
    EXPECT_EQ(Text(f.Lparam), "44100 Hz, 705 kbps, mono");
    EXPECT_EQ(Text(f.Ldur), "00:00:02");
}

TEST_F(WindowPlaybackTest, TheFadeShowsFadingInTheMiddleAndTakesNoInputMeanwhile) {
    Write("pl.m3u", "#EXTM3U\r\n" + Tone("a.wav", 10) + "\r\n");
    Settings("volume=200\r\n");
    TForm1& f = Start();
    f.BPlayClick();
    ASSERT_EQ(Engine().PlayState(), PLAYSTATE_PLAYING);
    win::ManualClock clock;
    win::SetClock(&clock);
    int sleeps = 0, shown = 0, centred = 0, blocked = 0;
    std::uint32_t lowest = 255;
    clock.SetSleepHook([&](std::uint32_t) {
        ++sleeps;
        const QWidget* area = f.Panel1->parentWidget();
        shown += !f.Panel1->isHidden();
        centred += f.Panel1->x() == area->width() / 2 - f.Panel1->width() / 2 &&
                   f.Panel1->y() == area->height() / 2 - f.Panel1->height() / 2;
        blocked += !f.isEnabled() && !f.CoolTrayIcon1->Enabled();
        lowest = std::min(lowest, Engine().Volume());
    });
    f.SpeedButton2->click();  // "&Parar"
    win::SetClock(nullptr);
    EXPECT_GT(sleeps, 1000);
    EXPECT_EQ(shown, sleeps);
    EXPECT_EQ(centred, sleeps);
    EXPECT_EQ(blocked, sleeps);
    EXPECT_EQ(lowest, 1u);
    EXPECT_NE(Engine().PlayState(), PLAYSTATE_PLAYING);
    EXPECT_TRUE(f.Panel1->isHidden());
    EXPECT_TRUE(f.isEnabled());
    EXPECT_TRUE(f.CoolTrayIcon1->Enabled());
    EXPECT_EQ(Engine().Volume(), 200u);
    EXPECT_EQ(f.OutputVolume(), 200);
}

TEST_F(WindowPlaybackTest, DoubleClickAndEnterPlayTheSelectedRowOfEitherList) {
    Write("pl.m3u", "#EXTM3U\r\n" + Tone("a.wav", 10) + "\r\n" + Tone("b.wav", 10) + "\r\n");
    Write("prgm.m3u", "#EXTM3U\r\n#KAVINF:--:--:--\r\n" + Tone("p.wav", 10) + "\r\n");
    Settings("tfade=0\r\n");
    TForm1& f = Start();
    f.playlistCells.SetRow(2);
    f.playlistDblClick();
    EXPECT_EQ(Engine().CurrentFile(), (dir / "b.wav").string());
    f.playlistCells.SetRow(1);
    Key(f.playlist, Qt::Key_Return);
    EXPECT_EQ(Engine().CurrentFile(), (dir / "a.wav").string());
    EXPECT_EQ(f.Run().CurrentPlaylistRow, 1u);
    Key(f.prgmlist, Qt::Key_Return);
    EXPECT_EQ(Engine().CurrentFile(), (dir / "p.wav").string());
    EXPECT_TRUE(f.Run().PlayingFromProgramme);
    EXPECT_EQ(f.prgmlistCells.Cell(0, 1), "   >");
    // "Pla&y" while a programme item plays: the playlist goes on after its row.
    f.BPlayClick();
    EXPECT_EQ(Engine().CurrentFile(), (dir / "b.wav").string());
}

TEST_F(WindowPlaybackTest, TerminadoIsShownWithTheTimerStoppedAndNothingFollows) {
    Write("pl.m3u", "#EXTM3U\r\n" + Tone("a.wav", 10) + "\r\n");
    Write("prgm.m3u", "#EXTM3U\r\n#KAVINF:--:--:--!\r\n" + Tone("p.wav", 0.3) + "\r\n");
    Settings();
    TForm1& f = Start();
    bool timerWhileUp = true;
    onBox = [&] { timerWhileUp = f.Timer1.Enabled(); };
    f.prgmlistCells.SetRow(1);
    f.prgmlistDblClick();
    ASSERT_TRUE(PumpUntil([&] { return !boxes.empty(); }));
    EXPECT_EQ(boxes, std::vector<std::string>{"KAV: Terminado!"});
    EXPECT_FALSE(timerWhileUp);
    EXPECT_TRUE(f.Timer1.Enabled());
    EXPECT_NE(Engine().PlayState(), PLAYSTATE_PLAYING);
    EXPECT_EQ(f.playlistCells.Cell(0, 1), "");
}

TEST_F(WindowPlaybackTest, AnOggFileGoneFromTheDiskIsSkippedLikeAnyUnplayableFile) {
    Write("pl.m3u",
          "#EXTM3U\r\n" + (dir / "gone.ogg").string() + "\r\n" + Tone("a.wav", 10) + "\r\n");
    Settings();
    TForm1& f = Start();
    f.BPlayClick();
    EXPECT_LE(boxes.size(), 1u);  // reported at most once, never waited for
    EXPECT_EQ(Engine().PlayState(), PLAYSTATE_PLAYING);
    EXPECT_EQ(f.Run().CurrentPlaylistRow, 2u);
    EXPECT_EQ(Engine().CurrentFile(), (dir / "a.wav").string());
}

// A sine of the given pitch, encoded as Ogg Vorbis in the program directory.
std::string OggTone(const fs::path& dir, const std::string& name, double seconds, int frequency) {
    const std::string wav = (dir / (name + ".wav")).string();
    const std::string ogg = (dir / (name + ".ogg")).string();
    const std::string command = "sox -n -r 44100 -c 2 -b 16 '" + wav + "' synth " +
                                std::to_string(seconds) + " sine " + std::to_string(frequency) +
                                " vol 0.5 && oggenc -Q '" + wav + "' -o '" + ogg + "'";
    return std::system(command.c_str()) == 0 ? ogg : "";
}

// The operator plays another row while the track after the playing one is
// already queued to start at its last sample: the row asked for plays, and
// not a sample of the prepared track is heard, then or later.
TEST_F(WindowPlaybackTest, ADoubleClickedRowPlaysInsteadOfThePreparedNextTrack) {
    // No frame that mixes the others can read as the prepared track's pitch.
    constexpr int kA = 400, kClicked = 600, kPrepared = 1200;
    const std::string a = OggTone(dir, "a", 3, kA);
    const std::string b = OggTone(dir, "b", 2, kPrepared);
    const std::string c = OggTone(dir, "c", 1.5, kClicked);
    for (const std::string& t : {a, b, c}) ASSERT_FALSE(t.empty()) << "encoding failed";
    Write("pl.m3u", "#EXTM3U\r\n" + a + "\r\n" + b + "\r\n" + c + "\r\n");
    Settings("tfade=0\r\nrepetepl=0\r\nautobaralhar=0\r\nvolume=255\r\n");
    const std::string heard = (dir / "heard.wav").string();
    ::setenv("KAV_CAPTURE_WAV", heard.c_str(), 1);
    TForm1& f = Start();
    ::unsetenv("KAV_CAPTURE_WAV");
    f.BPlayClick();
    ASSERT_EQ(Engine().CurrentFile(), a);
    // The last second of a.ogg: b.ogg is prepared and queued behind it.
    ASSERT_TRUE(PumpUntil([&] { return Engine().PreparedQueued(); }, 5s));
    EXPECT_EQ(Engine().PreparedPath(), b);
    f.playlistCells.SetRow(3);
    f.playlistDblClick();
    EXPECT_EQ(Engine().CurrentFile(), c);
    EXPECT_TRUE(Engine().PreparedPath().empty());
    // Past the end a.ogg would have had, and to the end of c.ogg.
    ASSERT_TRUE(PumpUntil([&] { return Engine().PlayState() != PLAYSTATE_PLAYING; }, 5s));
    EXPECT_EQ(f.Run().CurrentPlaylistRow, 3u);
    form.reset();  // the library is freed: the capture holds all it took

    capture::Sound sound;
    std::string error;
    ASSERT_TRUE(capture::ReadWav(heard, sound, error)) << error;
    std::vector<double> order;
    for (const capture::Tone& t :
         capture::Tones(capture::Frames(sound, 0.01), {kA, kPrepared, kClicked}, 0.01, 0.06))
        order.push_back(t.frequency);
    EXPECT_EQ(order, (std::vector<double>{kA, kClicked}));
}

}  // namespace
