#include "Unit1.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

#include <chrono>

#include "ListFiles.h"
#include "Markers.h"
#include "platform/bassbind/Dynamic_BASS.h"
#include "platform/win/MessageBox.h"
#include "platform/win/ProgramDir.h"
#include "tests/support/BinDir.h"
#include "tests/support/PumpUntil.h"
#include "tests/support/TempDir.h"
#include "widgets/RXSlider.h"

namespace {

using namespace std::chrono_literals;

void Pump(std::chrono::milliseconds time) {
    PumpUntil([] { return false; }, time);
}

// A file's inode: a write through a temporary file and a rename changes it.
ino_t Inode(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

struct Box {
    std::string caption, text;
    unsigned flags = 0;
};

class Form1Test : public testing::Test {
  protected:
    void SetUp() override {
        win::SetProgramDir(dir.Path().string());
        win::SetMessageBoxHandler(
            [this](const std::string& caption, const std::string& text, unsigned flags) {
                boxes.push_back({caption, text, flags});
                return win::IDOK;
            });
    }
    void TearDown() override {
        form.reset();
        win::SetMessageBoxHandler({});
        win::SetProgramDir("");
    }

    TForm1& Start() {
        form = std::make_unique<TForm1>();
        return *form;
    }
    void Stop() { form.reset(); }
    std::string File(const std::string& name) const { return dir.File(name); }
    void Write(const std::string& name, const std::string& text) {
        TempDir::Write(File(name), text);
    }
    std::string Read(const std::string& name) const { return TempDir::Read(File(name)); }
    win::IniFile Ini() const { return win::IniFile(File("kav.ini")); }

    static void Key(QWidget* w, int key) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(w, &press);
    }
    static void MouseMove(QWidget* w) {
        QMouseEvent move(QEvent::MouseMove, QPointF(5, 5), w->mapToGlobal(QPointF(5, 5)),
                         Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(w, &move);
    }

    TempDir dir;
    std::vector<Box> boxes;
    std::unique_ptr<TForm1> form;
};

TEST_F(Form1Test, WithoutKavIniTheDefaultsApplyAndEveryKeyIsWrittenAtExit) {
    TForm1& f = Start();
    EXPECT_EQ(f.windowTitle(), "KAV");
    EXPECT_TRUE(f.windowState() & Qt::WindowMaximized);
    EXPECT_EQ(f.StartupDevice, 1);
    EXPECT_FALSE(f.compressor->isChecked());
    EXPECT_TRUE(f.repetepl->isChecked());
    EXPECT_TRUE(f.autobaralhar->isChecked());
    EXPECT_EQ(f.volume->Value(), 255);
    EXPECT_EQ(f.OutputVolume(), 255);
    EXPECT_EQ(f.Run().FadeTime, 1000);
    EXPECT_EQ(f.Run().CurrentPlaylistRow, 1u);
    EXPECT_EQ(f.playlistCells.Cell(0, 1), kRowMarker);
    EXPECT_EQ(f.playlist->horizontalHeader()->sectionSize(0), 403);
    EXPECT_EQ(f.prgmlist->horizontalHeader()->sectionSize(2), 249);
    EXPECT_TRUE(f.Timer1.Enabled());
    Stop();

    win::IniFile ini = Ini();
    for (auto key : {"pln", "volume", "tfade", "repetepl", "autobaralhar", "compressor"})
        EXPECT_TRUE(ini.ValueExists("varios", key)) << key;
    EXPECT_EQ(ini.ReadString("varios", "volume", ""), "255");
    EXPECT_EQ(ini.ReadString("varios", "compressor", ""), "0");
    EXPECT_EQ(ini.ReadString("varios", "repetepl", ""), "1");
    EXPECT_FALSE(ini.ValueExists("varios", "dev"));  // no device item is checked
    EXPECT_EQ(ini.ReadString("tamanhos", "plc1", ""), "403");
    EXPECT_EQ(ini.ReadString("tamanhos", "plc2", ""), "342");
    EXPECT_EQ(ini.ReadString("tamanhos", "prgmlc1", ""), "68");
    EXPECT_EQ(ini.ReadString("tamanhos", "prgmlc2", ""), "163");
    EXPECT_EQ(ini.ReadString("tamanhos", "prgmlc3", ""), "249");
    EXPECT_EQ(Read("pl.m3u"), "#EXTM3U\r\n");
    EXPECT_EQ(Read("prgm.m3u"), "#EXTM3U\r\n");
    EXPECT_TRUE(boxes.empty());
}

TEST_F(Form1Test, EveryKeyIsReadAndWrittenBackKeepingOtherLines) {
    Write("kav.ini",
          "; operator's notes\n[VARIOS]\nDEV=259\ncompressor=1\npln=2\nvolume=77\ntfade=2500\n"
          "repetepl=0\nautobaralhar=0\n\n[Tamanhos]\nplc1=100\nplc2=120\nprgmlc1=50\n"
          "prgmlc2=60\nprgmlc3=70\n[mine]\nkeep=this\n");
    Write("pl.m3u", "/m/1.mp3\n/m/2.mp3\n/m/3.mp3\n");
    // The compressor's plug-in beside the program, as the build lays it out.
    std::filesystem::copy_file(TestBinDir() / "dsp_wd.dll", File("dsp_wd.dll"));
    TForm1& f = Start();
    EXPECT_EQ(f.StartupDevice, 3);  // the low 8 bits of 259
    EXPECT_TRUE(f.compressor->isChecked());
    EXPECT_FALSE(f.repetepl->isChecked());
    EXPECT_FALSE(f.autobaralhar->isChecked());
    EXPECT_EQ(f.Run().CurrentPlaylistRow, 2u);
    EXPECT_EQ(f.playlistCells.Cell(0, 2), kRowMarker);
    EXPECT_EQ(f.volume->Value(), 77);
    EXPECT_EQ(f.OutputVolume(), 77);
    EXPECT_EQ(f.Run().FadeTime, 2500);
    EXPECT_EQ(f.playlist->horizontalHeader()->sectionSize(0), 100);
    EXPECT_EQ(f.playlist->horizontalHeader()->sectionSize(1), 120);
    EXPECT_EQ(f.prgmlist->horizontalHeader()->sectionSize(0), 50);
    EXPECT_EQ(f.prgmlist->horizontalHeader()->sectionSize(2), 70);

    f.volume->SetValue(10);
    f.playlist->horizontalHeader()->resizeSection(1, 222);
    f.repetepl->trigger();  // the item ticks itself
    f.compressor->trigger();
    f.playlistCells.MoveRow(2, 3);  // the marker moves with its row
    Stop();

    EXPECT_EQ(Read("kav.ini"),
              "; operator's notes\n[VARIOS]\nDEV=259\ncompressor=0\npln=3\nvolume=10\ntfade=2500\n"
              "repetepl=1\nautobaralhar=0\n\n[Tamanhos]\nplc1=100\nplc2=222\nprgmlc1=50\n"
              "prgmlc2=60\nprgmlc3=70\n[mine]\nkeep=this\n");
}

TEST_F(Form1Test, VolumeIsKeptWithinTheSliderRangeAndReachesTheEngine) {
    for (auto [stored, expected] : {std::pair{300, 255}, {-5, 0}, {0, 0}, {128, 128}, {254, 254}}) {
        Write("kav.ini", "[varios]\nvolume=" + std::to_string(stored) + "\n");
        TForm1& f = Start();
        EXPECT_EQ(f.volume->Value(), expected) << stored;
        EXPECT_EQ(f.OutputVolume(), expected) << stored;
        Stop();
        EXPECT_EQ(Ini().ReadInteger("varios", "volume", -1), expected) << stored;
    }
}

TEST_F(Form1Test, VolumeWheelAndHintFollowTheSlider) {
    TForm1& f = Start();
    f.volume->SetValue(254);
    f.volumeMouseWheelUp();
    EXPECT_EQ(f.volume->Value(), 255);
    EXPECT_EQ(f.OutputVolume(), 255);
    f.volume->SetValue(1);
    f.volumeMouseWheelDown();
    EXPECT_EQ(f.OutputVolume(), 0);
    f.volume->SetValue(100);
    f.Timer1Timer();
    EXPECT_EQ(f.volume->Hint(), "39%");
    f.volume->SetValue(128);
    f.Timer1Timer();
    EXPECT_EQ(f.volume->Hint(), "50%");
}

TEST_F(Form1Test, RowNumberOutsideTheListMarksNothing) {
    Write("pl.m3u", "/m/1.mp3\n/m/2.mp3\n/m/3.mp3\n");
    for (const char* pln : {"0", "4", "-1", "x"}) {
        Write("kav.ini", std::string("[varios]\npln=") + pln + "\n");
        TForm1& f = Start();
        bool wellFormed = std::string(pln) != "x";
        for (int r = 1; r <= 3; ++r)
            EXPECT_EQ(f.playlistCells.Cell(0, r), (!wellFormed && r == 1) ? kRowMarker : "") << pln;
        Stop();
        EXPECT_EQ(Ini().ReadString("varios", "pln", ""), wellFormed ? "0" : "1") << pln;
    }
}

TEST_F(Form1Test, ListFilesAreLoadedAtStartAndRewrittenAtExit) {
    Write("pl.m3u", "#EXTM3U\nsub/a.mp3\n\n/abs/b.mp3\nhttp://radio:8000/\n");
    Write("prgm.m3u",
          "#EXTM3U\r\nfirst.mp3\r\n#KAVINF:12:00:00\r\n/j/noon.mp3\r\n#KAVINF:\r\n/j/e.mp3\r\n");
    TForm1& f = Start();
    EXPECT_EQ(f.playlistCells.DataRows(), 3);
    EXPECT_EQ(f.prgmlistCells.Cell(1, 1), "--:--:--");
    EXPECT_EQ(f.prgmlistCells.Cell(1, 3), "");
    EXPECT_EQ(f.playlistCells.Cell(1, 0), "Nome do Ficheiro");
    EXPECT_EQ(f.prgmlistCells.Cell(1, 0), "Início");
    EXPECT_EQ(f.prgmlistCells.Cell(3, 0), "Directoria");
    Stop();
    EXPECT_EQ(Read("pl.m3u"),
              "#EXTM3U\r\n" + File("sub/a.mp3") + "\r\n/abs/b.mp3\r\nhttp://radio:8000/\r\n");
    EXPECT_EQ(Read("prgm.m3u"), "#EXTM3U\r\n#KAVINF:--:--:--\r\n" + File("first.mp3") +
                                    "\r\n#KAVINF:12:00:00\r\n/j/noon.mp3\r\n#KAVINF:\r\n"
                                    "/j/e.mp3\r\n");
}

TEST_F(Form1Test, UnreadableListAtStartIsReportedAndStartUpGoesOn) {
    std::filesystem::create_directory(File("gone.m3u"));
    Write("pl.m3u", "/m/1.mp3\ngone.m3u\n/m/2.mp3\n");
    Write("prgm.m3u", "/j/a.mp3\n");
    Write("kav.ini", "[varios]\nvolume=9\n");
    TForm1& f = Start();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "KAV");
    EXPECT_NE(boxes[0].text.find("gone.m3u"), std::string::npos);
    EXPECT_FALSE(boxes[0].flags & win::MB_WAIT);  // nobody may be there to answer
    EXPECT_EQ(f.playlistCells.DataRows(), 1);
    EXPECT_EQ(f.prgmlistCells.Cell(2, 1), "a.mp3");
    EXPECT_EQ(f.volume->Value(), 9);
}

TEST_F(Form1Test, DroppedFilesGoToTheGridTheMouseLastMovedOver) {
    TForm1& f = Start();
    EXPECT_EQ(f.DropTarget, TDropTarget::Playlist);
    MouseMove(f.prgmlist->viewport());
    EXPECT_EQ(f.DropTarget, TDropTarget::ProgrammeList);
    f.DropFiles({"/d/one.mp3", "/d/two.mp3"});
    MouseMove(f.playlist->viewport());
    EXPECT_EQ(f.DropTarget, TDropTarget::Playlist);

    Write("list.m3u", "x.mp3\n");
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(File("list.m3u"))),
                  QUrl::fromLocalFile("/d/LISTA.M3U")});
    QDropEvent drop(QPointF(1, 1), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    f.show();
    static_cast<QObject&>(f).event(&drop);

    EXPECT_EQ(f.prgmlistCells.DataRows(), 2);
    EXPECT_EQ(f.prgmlistCells.Cell(1, 2), "--:--:--");
    EXPECT_EQ(f.prgmlistCells.Cell(2, 2), "two.mp3");
    ASSERT_EQ(f.playlistCells.DataRows(), 2) << f.playlistCells.Cell(1, 1) << boxes.size();
    EXPECT_EQ(f.playlistCells.Cell(1, 1), "x.mp3");
    EXPECT_EQ(f.playlistCells.Cell(1, 2), "LISTA.M3U");
}

TEST_F(Form1Test, DeleteRemovesRowsUnlessTheProgrammeListIsBeingEdited) {
    Write("pl.m3u", "/m/1.mp3\n/m/2.mp3\n");
    Write("prgm.m3u", "/j/a.mp3\n/j/b.mp3\n/j/c.mp3\n");
    TForm1& f = Start();
    f.playlistCells.SetRow(1);
    Key(f.playlist, Qt::Key_Delete);
    EXPECT_EQ(f.playlistCells.DataRows(), 1);
    EXPECT_EQ(f.playlistCells.Cell(1, 1), "2.mp3");

    f.prgmlistCells.SetRow(2);
    Key(f.prgmlist, Qt::Key_Delete);
    EXPECT_EQ(f.prgmlistCells.DataRows(), 2);
    EXPECT_EQ(f.prgmlistCells.Cell(2, 2), "c.mp3");

    f.editarprgml->click();
    ASSERT_TRUE(f.editarprgml->isChecked());
    f.prgmlistCells.SetRow(1);
    Key(f.prgmlist, Qt::Key_Delete);
    EXPECT_EQ(f.prgmlistCells.DataRows(), 2);

    f.editarprgml->click();
    Key(f.prgmlist, Qt::Key_Delete);
    EXPECT_EQ(f.prgmlistCells.DataRows(), 1);
}

TEST_F(Form1Test, EditingModeEditsCellsOfTheSelectedRowStartingAtTheStartText) {
    Write("prgm.m3u", "/j/a.mp3\n/j/b.mp3\n");
    TForm1& f = Start();
    EXPECT_EQ(f.prgmlist->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_FALSE(f.prgmlist->Model().flags(f.prgmlist->Model().index(0, 0)) & Qt::ItemIsEditable);
    f.prgmlistCells.SetRow(2);
    f.prgmlistCells.SetCol(3);
    f.editarprgml->click();
    EXPECT_TRUE(f.prgmlist->Editing());
    EXPECT_EQ(f.prgmlist->selectionBehavior(), QAbstractItemView::SelectItems);
    EXPECT_EQ(f.prgmlistCells.Col(), 1);
    EXPECT_EQ(f.prgmlist->currentIndex().column(), 0);
    EXPECT_EQ(f.prgmlist->currentIndex().row(), 1);
    EXPECT_EQ(f.prgmlist->EditorShown(), true);
    ASSERT_TRUE(
        f.prgmlist->Model().setData(f.prgmlist->Model().index(1, 0), "12:30:00", Qt::EditRole));
    EXPECT_EQ(f.prgmlistCells.Cell(1, 2), "12:30:00");

    auto* editor = f.prgmlist->viewport()->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    editor->setText("07:00:00");  // typed, not yet confirmed
    f.editarprgml->click();
    EXPECT_FALSE(f.prgmlist->Editing());
    EXPECT_FALSE(f.prgmlist->EditorShown());
    EXPECT_EQ(f.prgmlistCells.Cell(1, 2), "07:00:00");
    EXPECT_EQ(f.prgmlist->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_FALSE(f.prgmlist->Model().setData(f.prgmlist->Model().index(1, 0), "x", Qt::EditRole));
    Stop();
    EXPECT_NE(Read("prgm.m3u").find("#KAVINF:07:00:00\r\n/j/b.mp3\r\n"), std::string::npos);
}

TEST_F(Form1Test, DraggingARowHeaderMovesTheWholeRowWithItsMarker) {
    Write("pl.m3u", "/m/1.mp3\n/m/2.mp3\n/m/3.mp3\n");
    TForm1& f = Start();
    ASSERT_EQ(f.playlistCells.Cell(0, 1), kRowMarker);
    f.playlist->verticalHeader()->moveSection(0, 2);
    EXPECT_EQ(f.playlistCells.Cell(1, 1), "2.mp3");
    EXPECT_EQ(f.playlistCells.Cell(1, 3), "1.mp3");
    EXPECT_EQ(f.playlistCells.Cell(0, 3), kRowMarker);
    EXPECT_EQ(f.playlist->verticalHeader()->logicalIndex(0), 0);
    EXPECT_EQ(f.playlist->model()->headerData(2, Qt::Vertical).toString().toStdString(),
              kRowMarker);
    Stop();
    EXPECT_EQ(Read("pl.m3u"), "#EXTM3U\r\n/m/2.mp3\r\n/m/3.mp3\r\n/m/1.mp3\r\n");
    EXPECT_EQ(Ini().ReadInteger("varios", "pln", 0), 3);
}

TEST_F(Form1Test, CountersShowTheNumberOfRows) {
    TForm1& f = Start();
    EXPECT_EQ(f.Ltotpl->text(), "1");
    EXPECT_EQ(f.Ltotprgml->text(), "1");
    for (auto p : {"/a.mp3", "/b.mp3", "/c.mp3"}) f.AddToPlaylist(p);
    f.Timer1Timer();
    EXPECT_EQ(f.Ltotpl->text(), "3");
    f.SpeedButton5->click();  // "&Limpar"
    f.Timer1Timer();
    EXPECT_EQ(f.Ltotpl->text(), "1");
    EXPECT_EQ(f.Run().CurrentPlaylistRow, 1u);
}

TEST_F(Form1Test, ControlsAndMenusCarryTheirCaptions) {
    TForm1& f = Start();
    std::vector<QString> menus;
    for (QAction* a : f.menuBar()->actions()) menus.push_back(a->text());
    EXPECT_EQ(menus, (std::vector<QString>{"Ficheiro", "Opções", "Placa", "Ajuda"}));
    EXPECT_EQ(f.Ficheiro1->actions().at(0)->text(), "Sair");
    // The three options, then, apart, the station's own ("Tocar ao iniciar",
    // "Início pontual") and the stream outputs' dialog.
    const QList<QAction*> options = f.Opcoes1->actions();
    ASSERT_EQ(options.size(), 7);
    for (QAction* a : options.mid(0, 3)) EXPECT_TRUE(a->isCheckable());
    EXPECT_TRUE(options[3]->isSeparator());
    EXPECT_EQ(options[4], f.autoplay);
    EXPECT_EQ(options[5], f.pontual);
    EXPECT_TRUE(f.pontual->isCheckable());
    EXPECT_EQ(f.pontual->text(), QString::fromUtf8("Início pontual"));
    EXPECT_EQ(options[6], f.Transmissao1);
    EXPECT_EQ(f.Transmissao1->text(), "Transmissão...");
    EXPECT_FALSE(f.Transmissao1->isCheckable());
    EXPECT_EQ(f.autobaralhar->text(), "Baralhar playlist automaticamente ao chegar ao fim");
    EXPECT_EQ(f.Ajuda1->actions().at(0)->text(), "Sobre...");
    std::vector<QString> popup;
    for (QAction* a : f.PopupMenu1->actions()) popup.push_back(a->isSeparator() ? "-" : a->text());
    EXPECT_EQ(popup, (std::vector<QString>{"Abrir...", "-", "Play", "Parar", "-", "Sobre...", "-",
                                           "Fechar"}));
    EXPECT_EQ(f.SpeedButton1->text(), "Pla&y");
    EXPECT_EQ(f.SpeedButton6->text(), "L&impar");
    EXPECT_EQ(f.SpeedButton7->text(), "A&dicionar");
    EXPECT_EQ(f.editarprgml->text(), "&Editar");
    EXPECT_TRUE(f.SpeedButton8->isHidden());
    EXPECT_TRUE(f.Panel1->isHidden());
    EXPECT_EQ(f.Lpos->text(), "00:00:00");
    EXPECT_EQ(f.Lartist->text(), "---");
    EXPECT_EQ(f.minimumSize(), QSize(600, 270));
}

TEST_F(Form1Test, ChoosingADeviceMovesTheCheckShowsTheRestartNoticeAndIsSavedAtExit) {
    TForm1& f = Start();
    // Items as BuildDeviceMenu makes them, for the devices of a two-card machine.
    for (const char* name : {"Card A", "Card B"}) {
        QAction* item = f.mplaca->addAction(name);
        item->setCheckable(true);
        f.mplacaGroup->addAction(item);
    }
    f.mplaca->actions()[0]->setChecked(true);
    f.DevClick(f.mplaca->actions()[1]);
    EXPECT_FALSE(f.mplaca->actions()[0]->isChecked());
    EXPECT_TRUE(f.mplaca->actions()[1]->isChecked());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "KAV");
    EXPECT_EQ(boxes[0].text, "A alteração só terá efeito após reiniciar o programa.");
    EXPECT_TRUE(boxes[0].flags & win::MB_WAIT);  // the answer to the operator's choice
    EXPECT_EQ(f.StartupDevice, 1);
    Stop();
    EXPECT_EQ(Ini().ReadString("varios", "dev", ""), "2");
}

// The audio library built beside the tests, copied into the program directory.
void copyAudioLibrary(const TempDir& dir) {
    std::filesystem::copy_file(std::filesystem::current_path() / "bass.dll", dir.File("bass.dll"));
}

TEST_F(Form1Test, PlacaListsTheLibrarysDevicesAndChecksTheOneInUse) {
    copyAudioLibrary(dir);
    TForm1& f = Start();
    const QList<QAction*> items = f.mplaca->actions();
    ASSERT_FALSE(items.isEmpty());
    ASSERT_TRUE(Load_BASSDLL(File("bass.dll")));
    int n = 0;
    while (n < 255 && BASS_GetDeviceDescription(n + 1)) ++n;
    ASSERT_EQ(items.size(), n);
    for (int i = 0; i < n; ++i) {
        EXPECT_EQ(items[i]->text(), QString(BASS_GetDeviceDescription(i + 1)).replace('&', "&&"));
        EXPECT_EQ(items[i]->actionGroup(), f.mplacaGroup);
    }
    EXPECT_TRUE(items[0]->isChecked());  // dev 1, the default
    items[0]->trigger();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "A alteração só terá efeito após reiniciar o programa.");
    Stop();
    EXPECT_EQ(Ini().ReadString("varios", "dev", ""), "1");
}

TEST_F(Form1Test, SavedDeviceThatIsGoneChecksNothingAndIsKept) {
    copyAudioLibrary(dir);
    Write("kav.ini", "[varios]\ndev=200\n");
    TForm1& f = Start();
    for (QAction* item : f.mplaca->actions()) EXPECT_FALSE(item->isChecked());
    Stop();
    EXPECT_EQ(Ini().ReadString("varios", "dev", ""), "200");
}

TEST_F(Form1Test, BothAddButtonsShareOneDialogWithItsFilter) {
    Write("a.mp3", "");
    Write("b.mp3", "");
    TForm1& f = Start();
    EXPECT_EQ(TOpenDialog::NameFilters(f.somOpenDialog->Filter),
              (QStringList{"Tudo (*.mp3 *.m3u)", "MP3 (*.mp3)", "Playlist (*.m3u)"}));
    QStringList shownFilters;
    // Plays the user: picks a filter, types the names and confirms. A dialog
    // that does not take the names is cancelled, so the test fails, not hangs.
    auto choose = [&](QString typed, int filter) {
        QTimer::singleShot(0, [&, typed, filter] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog) return ADD_FAILURE() << "no dialog";
            shownFilters << dialog->selectedNameFilter();
            dialog->selectNameFilter(dialog->nameFilters().at(filter));
            dialog->setDirectory(QString::fromStdString(dir.Path().string()));
            auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
            if (name) name->setText(typed);
            QMetaObject::invokeMethod(dialog, "accept");
            if (dialog->isVisible()) {
                ADD_FAILURE() << "the dialog did not take " << typed.toStdString();
                dialog->reject();
            }
        });
    };
    choose("\"a.mp3\" \"b.mp3\"", 1);
    f.SpeedButton4->click();  // "&Adicionar" under the playlist
    choose("b.mp3", 0);
    f.SpeedButton7->click();  // "A&dicionar" over the programme list
    EXPECT_EQ(f.playlistCells.DataRows(), 2);
    EXPECT_EQ(RowPath(f.playlistCells, 1), File("a.mp3"));
    EXPECT_EQ(RowPath(f.playlistCells, 2), File("b.mp3"));
    EXPECT_EQ(f.prgmlistCells.Cell(1, 1), "--:--:--");
    EXPECT_EQ(RowPath(f.prgmlistCells, 1), File("b.mp3"));
    EXPECT_EQ(f.prgmlistCells.DataRows(), 1);
    // The second button's dialog opened on the choice made in the first.
    EXPECT_EQ(shownFilters, (QStringList{"Tudo (*.mp3 *.m3u)", "MP3 (*.mp3)"}));
}

TEST_F(Form1Test, SairClosesTheWindowAndSavesOnDestruction) {
    TForm1& f = Start();
    f.show();
    f.AddToProgrammeList("/j/x.mp3", "7");
    f.Fechar1Click();
    EXPECT_FALSE(f.isVisible());
    Stop();
    EXPECT_EQ(Read("prgm.m3u"), "#EXTM3U\r\n#KAVINF:7\r\n/j/x.mp3\r\n");
}

TEST_F(Form1Test, FecharEndsTheProgramAlsoWhileTheWindowIsHiddenInTheTray) {
    TForm1& f = Start();
    f.show();
    f.hide();  // as minimising to the notification area does
    QTimer::singleShot(0, [&f] { f.Fechar1Click(); });
    QTimer::singleShot(5000, [] { QApplication::exit(9); });  // a bound, not a timing
    EXPECT_EQ(QApplication::exec(), 0);
}

TEST_F(Form1Test, FailedListWriteAtExitIsReportedAndTheOtherFilesAreStillWritten) {
    Write("prgm.m3u", "/j/old.mp3\n");
    TForm1& f = Start();
    std::filesystem::create_directory(File("pl.m3u"));  // cannot be replaced by a file
    std::filesystem::create_directory(File("pl.m3u/x"));
    f.AddToProgrammeList("/j/new.mp3", "1");
    Stop();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].text.find("pl.m3u"), std::string::npos);
    EXPECT_TRUE(boxes[0].flags & win::MB_WAIT);  // the operator closed the window
    EXPECT_EQ(Read("prgm.m3u"),
              "#EXTM3U\r\n#KAVINF:--:--:--\r\n/j/old.mp3\r\n#KAVINF:1\r\n"
              "/j/new.mp3\r\n");
    EXPECT_TRUE(Ini().ValueExists("tamanhos", "prgmlc3"));
}

// Each change reaches the disk within two seconds (three allowed here), and
// only the file that changed is written: a move of the marker alone rewrites
// kav.ini's pln, not the list.
TEST_F(Form1Test, ChangesReachTheDiskSoonAndOnlyWhatChangedIsWritten) {
    Write("kav.ini", "; notes\n[varios]\npln=1\n[mine]\nkeep=this\n");
    Write("pl.m3u", "/m/1.mp3\n/m/2.mp3\n/m/3.mp3\n");
    Write("prgm.m3u", "/j/a.mp3\n");
    TForm1& f = Start();
    const ino_t pl = Inode(File("pl.m3u")), prgm = Inode(File("prgm.m3u"));
    const ino_t ini = Inode(File("kav.ini"));
    auto iniSays = [this](const char* section, const char* key, const std::string& value) {
        return [=, this] { return Ini().ReadString(section, key, "") == value; };
    };
    Pump(1500ms);
    EXPECT_EQ(Inode(File("kav.ini")), ini);  // nothing changed yet

    struct Step {
        const char* what;
        std::function<void()> change;
        std::function<bool()> onDisk;
    };
    const std::vector<Step> steps = {
        {"volume", [&] { f.volume->SetValue(40); }, iniSays("varios", "volume", "40")},
        {"marker", [&] { f.MarkPlaylistRow(3); }, iniSays("varios", "pln", "3")},
        {"option", [&] { f.repetepl->trigger(); }, iniSays("varios", "repetepl", "0")},
        {"width", [&] { f.playlist->horizontalHeader()->resizeSection(1, 222); },
         iniSays("tamanhos", "plc2", "222")},
        {"fade", [&] { f.Automation->SetFadeTime(2500); }, iniSays("varios", "tfade", "2500")},
    };
    for (const Step& step : steps) {
        step.change();
        EXPECT_TRUE(PumpUntil(step.onDisk, 3s)) << step.what;
    }
    EXPECT_EQ(Inode(File("pl.m3u")), pl);
    EXPECT_EQ(Inode(File("prgm.m3u")), prgm);
    EXPECT_EQ(Read("kav.ini").substr(0, 18), "; notes\n[varios]\np");
    EXPECT_EQ(Ini().ReadString("mine", "keep", ""), "this");

    f.AddToPlaylist("/m/4.mp3");
    EXPECT_TRUE(
        PumpUntil([&] { return Read("pl.m3u").find("/m/4.mp3") != std::string::npos; }, 3s));
    EXPECT_EQ(Inode(File("prgm.m3u")), prgm);
    f.prgmlistCells.SetCell(1, 1, "12:00:00");  // typed into the start cell
    EXPECT_TRUE(PumpUntil(
        [&] { return Read("prgm.m3u").find("#KAVINF:12:00:00") != std::string::npos; }, 3s));
    EXPECT_TRUE(boxes.empty());
}

// A file that cannot be written is reported once at start, without waiting,
// and the checks that follow do not report it again; the other files are
// still kept.
TEST_F(Form1Test, AFileThatCannotBeWrittenIsReportedOnceAtStartWithoutWaiting) {
    std::filesystem::create_directories(File("pl.m3u/x"));
    TForm1& f = Start();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "KAV");
    EXPECT_NE(boxes[0].text.find(File("pl.m3u")), std::string::npos);
    EXPECT_FALSE(boxes[0].flags & win::MB_WAIT);
    f.AddToPlaylist("/m/1.mp3");
    f.volume->SetValue(12);
    EXPECT_TRUE(PumpUntil([&] { return Ini().ReadString("varios", "volume", "") == "12"; }, 3s));
    f.AddToPlaylist("/m/2.mp3");
    Pump(1500ms);
    EXPECT_EQ(boxes.size(), 1u);
}

// What a killed write left beside the files is gone after the next start.
TEST_F(Form1Test, TemporaryFilesOfKilledWritesAreRemovedAtStart) {
    const std::vector<std::string> leftovers = {"kav.ini.tmp.999999999.1", "pl.m3u.tmp.1.4",
                                                "prgm.m3u.tmp.999999999.12"};
    for (const std::string& name : leftovers) Write(name, "half a list");
    Write("pl.m3u.tmp.notes", "the operator's");
    Start();
    for (const std::string& name : leftovers)
        EXPECT_FALSE(std::filesystem::exists(File(name))) << name;
    EXPECT_EQ(Read("pl.m3u.tmp.notes"), "the operator's");
}

}  // namespace
