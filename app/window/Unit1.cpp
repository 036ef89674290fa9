#include "Unit1.h"

#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QUrl>

#include "ListFiles.h"
#include "Markers.h"
#include "Mpris.h"
#include "Notifier.h"
#include "OutputDevices.h"
#include "StationParts.h"
#include "app/onair/OnAir.h"
#include "engine/BASSPlayer.h"
#include "platform/win/Clock.h"
#include "platform/win/DataDir.h"
#include "platform/win/MessageBox.h"
#include "platform/win/ProgramDir.h"
#include "plugins/DSPHost.h"
#include "widgets/CoolTrayIcon.h"
#include "widgets/RXSlider.h"
#include "widgets/sobre.h"

TForm1* Form1 = nullptr;

namespace {
constexpr int kVkReturn = 13;
constexpr int kVkDelete = 46;
}  // namespace

TForm1::TForm1(QWidget* parent, bool playAtStart) : QMainWindow(parent), playAtStart_(playAtStart) {
    Form1 = this;
    createControls();
    createPlayback();
    FormCreate();
}

TForm1::~TForm1() {
    FormDestroy();
    SetRetiredReport({});  // the station's log goes before the engine
    Station.reset();       // its timer and its commands go before the engine
    // Playback control goes before the engine: no end of track reaches it then.
    if (BASSPlayer1) BASSPlayer1->OnPlayEnd = nullptr;
    // The views show the grids' cells: they go first.
    delete playlist;
    delete prgmlist;
    if (Form1 == this) Form1 = nullptr;
}

void TForm1::showMessage(const std::string& text) {
    win::MessageBox(0, text, "KAV", win::MB_OK);
}

void TForm1::showMessageAndWait(const std::string& text) {
    win::MessageBox(0, text, "KAV", win::MB_OK | win::MB_WAIT);
}

// --- Start-up, settings and shutdown -----------------------------------------

void TForm1::FormCreate() {
    setWindowState(windowState() | Qt::WindowMaximized);
    setAcceptDrops(true);
    AppDir = win::ProgramDir();
    // Where everything is written: made at first start, seeded from the
    // program directory. A folder that cannot be made is reported below, as
    // every file that cannot be written is.
    DataDir = win::DataDir();
    win::PrepareDataDir({"kav.ini", "pl.m3u", "prgm.m3u"});

    playlistCells.SetCell(1, 0, "Nome do Ficheiro");
    playlistCells.SetCell(2, 0, "Directoria");
    prgmlistCells.SetCell(1, 0, "Início");
    prgmlistCells.SetCell(2, 0, "Nome do Ficheiro");
    prgmlistCells.SetCell(3, 0, "Directoria");
    removeLeftoverTemporaries();
    loadListFiles();

    // Read where it lies now; written in the data folder (the same file,
    // unless the starting copy could not be copied there).
    Settings = std::make_unique<win::IniFile>(win::DataFileToRead("kav.ini"));
    StartupDevice = std::uint8_t(Settings->ReadInteger(kVarios, "dev", 1));
    ::StartupDevice = StartupDevice;
    BASSPlayer1 = std::make_unique<TBASSPlayer>();
    BASSPlayer1->OnPlayEnd = [this](TBASSPlayer*) { BASSPlayer1PlayEnd(); };
    BASSPlayer1->OnGetMeta = [this](TBASSPlayer*, const std::string& title) { streamTitle(title); };
    BASSPlayer1->BeforeFollowerPlay = [this](const std::string& path, std::int32_t plugin) {
        followerStarting(path, plugin);
    };
    // How the last run ended is known before the plug-ins load: one that
    // brought it down is left out.
    startStation();
    LoadWinampPlugin("in_mp3.dll");  // a plug-in that is missing is simply absent
    LoadWinampPlugin("in_wave.dll");
    BASSPlayer1->SetPluginFirst(true);
    // A compressor plug-in that cannot be used ends the program as closing
    // the window does.
    BASSPlayer1->TerminateApplication = [form = QPointer<TForm1>(this)] {
        if (form) form->close();
    };
    compressor->setChecked(Settings->ReadBool(kVarios, "compressor", false));
    if (compressor->isChecked()) compressorClick();
    BuildDeviceMenu();
    readSettings();
    startOnAir();
    if (Settings->FileName() != win::DataFile("kav.ini"))
        Settings = std::make_unique<win::IniFile>(win::DataFile("kav.ini"));
    startKeepingFiles();
    Timer1.SetEnabled(true);
    Timer1Timer();
    // The end of start-up: once the event loop turns.
    QTimer::singleShot(0, this, [this] { stationStarted(); });
}

// A list that cannot be read at start is reported without waiting: the
// program may be starting on its own, with nobody at the desk.
void TForm1::loadListFiles() {
    const std::string pl = win::DataFileToRead("pl.m3u");
    const std::string prgm = win::DataFileToRead("prgm.m3u");
    if (win::FileExists(pl))
        addReportingListErrors([&] { ::AddToPlaylist(playlistCells, pl); }, false);
    if (win::FileExists(prgm))
        addReportingListErrors([&] { ::AddToProgrammeList(prgmlistCells, prgm, kNoStartTime); },
                               false);
}

void TForm1::readSettings() {
    MarkPlaylistRow(unsigned(Settings->ReadInteger(kVarios, "pln", 1)));
    volume->SetValue(Settings->ReadInteger(kVarios, "volume", 255));
    SetOutputVolume(volume->Value());
    Automation->SetFadeTime(Settings->ReadInteger(kVarios, "tfade", 1000));
    repetepl->setChecked(Settings->ReadBool(kVarios, "repetepl", true));
    autobaralhar->setChecked(Settings->ReadBool(kVarios, "autobaralhar", true));
    for (int c = 1; c < playlistCells.ColCount(); ++c)
        playlistCells.SetColWidth(c, Settings->ReadInteger(kTamanhos, "plc" + std::to_string(c),
                                                           playlistCells.ColWidth(c)));
    for (int c = 1; c < prgmlistCells.ColCount(); ++c)
        prgmlistCells.SetColWidth(c, Settings->ReadInteger(kTamanhos, "prgmlc" + std::to_string(c),
                                                           prgmlistCells.ColWidth(c)));
}

void TForm1::FormClose() {
    stationClosing();
    {
        const nowplaying::CauseScope cause = Because(nowplaying::reason::kExit);
        if (EnginePlaying()) FadeOutAndStop();
    }
    nowPlayingClosing();
    UnloadDSPModules();
}

void TForm1::closeEvent(QCloseEvent* event) {
    FormClose();
    event->accept();
    // Closing the main window ends the program, also while it is hidden in
    // the notification area, where Qt would not count it as the last window.
    QCoreApplication::quit();
}

void TForm1::FormDestroy() {
    if (destroyed_) return;
    destroyed_ = true;
    Timer1.SetEnabled(false);
    SaveTimer.SetEnabled(false);
    saveAllAtExit();
    stopOnAir();  // the servers free the mounts at once
    endStation();
    Settings.reset();
}

void TForm1::Fechar1Click() {
    close();
}

void TForm1::compressorClick() {
    if (!compressor->isChecked()) {
        BASSPlayer1->UnloadDSPPlugin();
        return;
    }
    const std::string path = AppDir + win::PathDelim + "dsp_wd.dll";
    // The main window has no handle of the platform layer to give as the
    // plug-in's parent (the engine gets none either). The program ends after
    // a failure: the next start must not fail again.
    if (!BASSPlayer1->LoadDSPPlugin(path, 0, 0)) compressor->setChecked(false);
}

void TForm1::BuildDeviceMenu() {
    OutputDeviceList devices = QueryOutputDevices(AppDir);
    for (const std::string& description : devices.descriptions) {
        QString caption = QString::fromStdString(description).replace('&', "&&");
        QAction* item = mplaca->addAction(caption);
        item->setCheckable(true);
        mplacaGroup->addAction(item);
        connect(item, &QAction::triggered, this, [this, item] { DevClick(item); });
    }
    // Until the engine has opened a device, the one it is to open stands for it.
    int current = devices.current >= 1 ? devices.current : StartupDevice;
    const QList<QAction*> items = mplaca->actions();
    if (current >= 1 && current <= items.size()) items[current - 1]->setChecked(true);
}

void TForm1::DevClick(QAction* item) {
    item->setChecked(true);
    showMessageAndWait("A alteração só terá efeito após reiniciar o programa.");
}

void TForm1::Sobre1Click() {
    if (fsobre) {
        fsobre->exec();
        return;
    }
    Tfsobre box(this);
    box.exec();
}

// --- The lists --------------------------------------------------------------

bool TForm1::addReportingListErrors(const std::function<void()>& add, bool wait) {
    try {
        add();
        return true;
    } catch (const ListFileError& e) {
        if (wait)
            showMessageAndWait(e.what());
        else
            showMessage(e.what());
        return false;
    }
}

bool TForm1::AddToPlaylist(const std::string& path) {
    return addReportingListErrors([&] { ::AddToPlaylist(playlistCells, path); }, true);
}

bool TForm1::AddToProgrammeList(const std::string& path, const std::string& startText) {
    return addReportingListErrors([&] { ::AddToProgrammeList(prgmlistCells, path, startText); },
                                  true);
}

void TForm1::addChosenFiles(TDropTarget target) {
    if (!somOpenDialog->Execute()) return;
    for (const std::string& file : somOpenDialog->Files) {
        bool ok = target == TDropTarget::ProgrammeList ? AddToProgrammeList(file, kNoStartTime)
                                                       : AddToPlaylist(file);
        if (!ok) break;
    }
}

void TForm1::BadfichplClick() {
    addChosenFiles(TDropTarget::Playlist);
}

void TForm1::BadfichprgmlClick() {
    addChosenFiles(TDropTarget::ProgrammeList);
}

void TForm1::BlimpplClick() {
    ClearGrid(playlistCells);
}

void TForm1::BlimpprgmlClick() {
    ClearGrid(prgmlistCells);
}

void TForm1::editarprgmlClick() {
    prgmlistCells.SetCol(2);
    prgmlistCells.SetCol(1);
    prgmlist->SetEditing(editarprgml->isChecked());
    prgmlist->setFocus();
}

void TForm1::playlistKeyDown(int& key) {
    if (key == kVkDelete) DeleteGridRow(playlistCells);
    if (key == kVkReturn) playlistDblClick();
}

void TForm1::prgmlistKeyDown(int& key) {
    if (key == kVkDelete && !editarprgml->isChecked()) DeleteGridRow(prgmlistCells);
    if (key == kVkReturn) prgmlistDblClick();
}

void TForm1::playlistMouseMove() {
    DropTarget = TDropTarget::Playlist;
}

void TForm1::prgmlistMouseMove() {
    DropTarget = TDropTarget::ProgrammeList;
}

void TForm1::DropFiles(const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        bool ok = DropTarget == TDropTarget::ProgrammeList ? AddToProgrammeList(name, kNoStartTime)
                                                           : AddToPlaylist(name);
        if (!ok) break;
    }
}

void TForm1::trackDropTarget(const QPoint& pos) {
    QWidget* under = childAt(pos);
    for (QWidget* w = under; w; w = w->parentWidget()) {
        if (w == playlist) return playlistMouseMove();
        if (w == prgmlist) return prgmlistMouseMove();
    }
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TForm1::dragMoveEvent(QDragMoveEvent* event) {
    trackDropTarget(event->position().toPoint());
    event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
    std::vector<std::string> names;
    for (const QUrl& url : event->mimeData()->urls())
        names.push_back((url.isLocalFile() ? url.toLocalFile() : url.toString()).toStdString());
    event->acceptProposedAction();
    DropFiles(names);
}

// --- The tick and the controls of playback ----------------------------------

void TForm1::Timer1Timer() {
    QString rows = QString::number(playlistCells.DataRows());
    if (Ltotpl->text() != rows) Ltotpl->setText(rows);
    rows = QString::number(prgmlistCells.DataRows());
    if (Ltotprgml->text() != rows) Ltotprgml->setText(rows);
    QString hint = QString::number(volume->Value() * 100 / 255) + "%";
    if (volume->Hint() != hint) volume->SetHint(hint);
    ScheduleTick();
}

void TForm1::volumeChange() {
    SetOutputVolume(volume->Value());
    if (Station && Station->mpris) Station->mpris->VolumeChanged();
}

void TForm1::volumeMouseWheelDown() {
    volume->SetValue(volume->Value() - 2);
}

void TForm1::volumeMouseWheelUp() {
    volume->SetValue(volume->Value() + 2);
}

void TForm1::Abrir1Click() {
    show();
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    raise();
    activateWindow();
}

void TForm1::MarkPlaylistRow(unsigned row) {
    Automation->MarkPlaylistRow(row);
}

void TForm1::MarkProgrammeRow(unsigned row) {
    Automation->MarkProgrammeRow(row);
}

void TForm1::SetOutputVolume(int value) {
    outputVolume_ = value;
    if (BASSPlayer1) BASSPlayer1->SetOutputVolume(std::uint32_t(value));
}
