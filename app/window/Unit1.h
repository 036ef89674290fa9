// The main window: both lists, the now-playing display, the menus, the
// settings in kav.ini and the list files in the data folder (beside the
// executable unless it cannot write there).
#pragma once

#include <QMainWindow>
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Automation.h"
#include "DeadAir.h"
#include "GridView.h"
#include "OpenDialog.h"
#include "StringGrid.h"
#include "app/onair/OnAirSettings.h"
#include "platform/win/IniFile.h"
#include "platform/win/Timer.h"

namespace onair {
class OnAir;
}  // namespace onair

class QAction;
class QActionGroup;
class QCheckBox;
class QFrame;
class QLabel;
class QMenu;
class QToolButton;
class TBASSPlayer;
class TCoolTrayIcon;
class TRxClock;
class TRxSlider;
struct TStationParts;
namespace nowplaying {
class CauseScope;
class Notifier;
struct Attempt;
}  // namespace nowplaying

enum class TDropTarget { Playlist, ProgrammeList };

class TForm1 : public QMainWindow {
  public:
    // Builds the controls, then runs FormCreate. playAtStart: this start plays
    // by itself whatever [estacao] autoplay says (kav --play).
    explicit TForm1(QWidget* parent = nullptr, bool playAtStart = false);
    // Runs FormDestroy.
    ~TForm1() override;

    // --- Controls, by their names -------------------------------------------
    TRxSlider* volume = nullptr;
    QFrame* Panel2 = nullptr;
    QLabel* Lartist = nullptr;
    QLabel* Ltitle = nullptr;
    QLabel* Lpos = nullptr;
    QLabel* Ldur = nullptr;
    QLabel* Lparam = nullptr;
    QLabel* Ltotpl = nullptr;
    QLabel* Ltotprgml = nullptr;
    QToolButton* SpeedButton1 = nullptr;  // "Pla&y"
    QToolButton* SpeedButton2 = nullptr;  // "&Parar"
    QToolButton* SpeedButton3 = nullptr;  // "&Baralhar"
    QToolButton* SpeedButton4 = nullptr;  // "&Adicionar" (playlist)
    QToolButton* SpeedButton5 = nullptr;  // "&Limpar" (playlist)
    QToolButton* SpeedButton6 = nullptr;  // "L&impar" (programme list)
    QToolButton* SpeedButton7 = nullptr;  // "A&dicionar" (programme list)
    QToolButton* SpeedButton8 = nullptr;  // "&Sobre...", hidden
    QCheckBox* editarprgml = nullptr;
    TRxClock* RxClock1 = nullptr;
    StringGrid playlistCells{{25, 403, 342}};
    StringGrid prgmlistCells{{25, 68, 163, 249}};
    TStringGridView* playlist = nullptr;
    TStringGridView* prgmlist = nullptr;
    QFrame* Panel1 = nullptr;  // "Fading..."
    std::unique_ptr<TOpenDialog> somOpenDialog;
    win::Timer Timer1;
    TCoolTrayIcon* CoolTrayIcon1 = nullptr;
    QMenu* PopupMenu1 = nullptr;
    QMenu* Ficheiro1 = nullptr;
    QMenu* Opcoes1 = nullptr;
    QMenu* mplaca = nullptr;
    QMenu* Ajuda1 = nullptr;
    QAction* Sair1 = nullptr;
    QAction* compressor = nullptr;
    QAction* repetepl = nullptr;
    QAction* autobaralhar = nullptr;
    QAction* autoplay = nullptr;      // "Tocar ao iniciar", [estacao] autoplay
    QAction* pontual = nullptr;       // "Início pontual", [estacao] pontual
    QAction* Transmissao1 = nullptr;  // "Transmissão...": the stream outputs
    QAction* Sobre1 = nullptr;
    QActionGroup* mplacaGroup = nullptr;

    // --- State ----------------------------------------------------------------
    std::string AppDir;
    std::string DataDir;  // where the settings, the lists and the state are written
    std::unique_ptr<win::IniFile> Settings;  // open from FormCreate to FormDestroy
    // An addition for a station left alone: a tick at the moment the next programme entry is due.
    win::Timer DueTimer;
    std::uint8_t StartupDevice = 1;  // the device the engine initialises
    // The engine, from FormCreate on.
    std::unique_ptr<TBASSPlayer> BASSPlayer1;
    TDropTarget DropTarget = TDropTarget::Playlist;

    // --- Start-up, settings and shutdown ------------------------------------
    void FormCreate();
    void FormClose();
    void FormDestroy();
    void Fechar1Click();
    void compressorClick();
    void BuildDeviceMenu();
    void DevClick(QAction* item);
    void Sobre1Click();

    // --- The lists ------------------------------------------------------------
    void BadfichplClick();
    void BadfichprgmlClick();
    void BlimpplClick();
    void BlimpprgmlClick();
    void editarprgmlClick();
    void playlistKeyDown(int& key);
    void prgmlistKeyDown(int& key);
    void playlistMouseMove();
    void prgmlistMouseMove();
    // The shell's dropped files, in the order given, to the DropTarget grid.
    void DropFiles(const std::vector<std::string>& names);
    // Both add through these: a list that cannot be read is reported (the box
    // answers the operator's command and waits), and the add stops there.
    // False when it stopped.
    bool AddToPlaylist(const std::string& path);
    bool AddToProgrammeList(const std::string& path, const std::string& startText);

    // --- The tick and the controls of playback ------------------------------
    void Timer1Timer();
    void volumeChange();
    void volumeMouseWheelDown();
    void volumeMouseWheelUp();
    void Abrir1Click();
    void MarkPlaylistRow(unsigned row);
    void MarkProgrammeRow(unsigned row);
    void SetOutputVolume(int value);
    // The volume last given to the engine.
    int OutputVolume() const { return outputVolume_; }
    // Playback control and the scheduler, through the automation (Unit1Playback.cpp).
    void BASSPlayer1PlayEnd();  // the engine's OnPlayEnd
    void BPlayClick();
    void BPararClick();
    void SpeedButton3Click();
    void playlistDblClick();
    void prgmlistDblClick();
    bool EnginePlaying() const;
    void FadeOutAndStop();
    void ScheduleTick();
    // The current rows, the fade time and the rest of the run's state.
    const RunState& Run() const { return Automation->Run(); }
    std::unique_ptr<TAutomation> Automation;

    // --- A station left alone (Unit1Station.cpp) ----------
    // The stream outputs' dialog (Unit1OnAir.cpp).
    void TransmissaoClick();
    // The playlist's file that plays or played last, and its position.
    const std::string& ResumeFile() const;
    std::uint32_t ResumePositionMs() const;
    // What plays, as told outside the engine (Unit1NowPlaying.cpp); null
    // before the start-up.
    nowplaying::Notifier* NowPlaying();
    // Names the cause of what the commands inside the scope stop.
    nowplaying::CauseScope Because(const char* reason);

  protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    // Unit1Layout.cpp
    void createControls();
    QWidget* createDisplay();
    QWidget* createPlaylistPane();
    QWidget* createProgrammePane();
    void createMenus();
    void createTrayIcon();
    void connectHandlers();

    // Unit1.cpp
    void loadListFiles();
    void readSettings();
    // Shows a box and carries on at once.
    void showMessage(const std::string& text);
    // Shows a box and returns when it is closed: for answers to the operator.
    void showMessageAndWait(const std::string& text);
    // Runs an add; a list that cannot be read is reported. False when it was.
    bool addReportingListErrors(const std::function<void()>& add, bool wait);
    void trackDropTarget(const QPoint& pos);
    void addChosenFiles(TDropTarget target);

    // Unit1Playback.cpp
    void createPlayback();
    void armDueTimer();
    void guarded(const std::function<void()>& action);
    void showNowPlaying(const NowPlayingTexts& texts);
    void beginFade();
    void endFade();
    std::unique_ptr<PlayerPort> player_;

    // Unit1Station.cpp
    void startStation();
    void leaveOutCrashingPlugin();
    std::string openedPlugin() const;
    void startStationWatches();
    void stationStarted();
    void resumePlaylist();
    void stationTick();
    void answerDeadAir(const station::DeadAirVerdict& verdict);
    void itemStarting(const StartingItem& item);
    void followerStarting(const std::string& path, std::int32_t pluginIndex);
    void itemFailed(const std::string& path);
    void tellStatus(const std::string& status);
    void stationClosing();
    void endStation();
    std::vector<win::IniValue> stationValues();
    std::unique_ptr<TStationParts> Station;

    // Unit1NowPlaying.cpp
    void startNowPlaying();
    void logInterruptedItem();
    void startMpris();
    bool mprisMayAct() const;
    nowplaying::Attempt attemptFor(bool fromProgramme, unsigned row, const std::string& path) const;
    bool enginePlaysPlugin() const;
    void nowPlayingStarted();
    void streamTitle(const std::string& title);
    void nowPlayingTick(bool playing, std::uint32_t positionMs);
    void nowPlayingClosing();
    bool playAtStart_ = false;

    // Unit1OnAir.cpp
    void startOnAir();
    void stopOnAir();
    void tellOutputsNowPlaying(const std::string& artist, const std::string& title);
    void onAirTick();
    void applyOnAir(const onair::AllSettings& settings);
    std::vector<win::IniValue> onAirValues() const;
    bool settingsHoldPassword() const;
    std::unique_ptr<onair::OnAir> OnAir_;
    std::array<bool, onair::kOutputs> keepOnAirSection_{};  // written to kav.ini

    // Unit1Save.cpp: kav.ini and both lists are written within two seconds
    // of a change, not only at exit, so that a kill or a power cut loses little.
    struct KeptFile {
        std::string name;                 // beside the program: "kav.ini", ...
        std::size_t savedDigest = 0;      // of what was last written, or as read at start
        std::size_t savedPosition = 0;    // kav.ini: of the playing position last written
        unsigned long long revision = 0;  // the grid's revision when last looked at
        bool failing = false;             // the last write failed and was reported
        int checksToSkip = 0;             // after a failure: wait before writing again
    };
    static constexpr const char* kVarios = "varios";
    static constexpr const char* kTamanhos = "tamanhos";
    void removeLeftoverTemporaries();
    std::string keptPath(const KeptFile& file) const;
    std::vector<win::IniValue> settingsValues();
    bool saveSettings(bool force, std::string* error);
    bool saveList(KeptFile& file, const StringGrid& grid, std::string (*textOf)(const StringGrid&),
                  bool force, std::string* error);
    void startKeepingFiles();
    void saveChanges();
    void keepFile(KeptFile& file, bool ok, const std::string& error);
    void saveAllAtExit();
    KeptFile keptIni_{"kav.ini"};
    KeptFile keptPlaylist_{"pl.m3u"};
    KeptFile keptProgramme_{"prgm.m3u"};
    win::Timer SaveTimer;

    int outputVolume_ = 0;
    bool destroyed_ = false;
};

// The one main window, while it exists.
extern TForm1* Form1;
