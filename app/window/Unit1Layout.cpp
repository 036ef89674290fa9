// The main window's controls, menus and tray icon, and which handler each
// control calls.
#include <QActionGroup>
#include <QCheckBox>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QSplitter>
#include <QToolButton>
#include <QVBoxLayout>

#include "Unit1.h"
#include "widgets/CoolTrayIcon.h"
#include "widgets/ProgramIcon.h"
#include "widgets/RXClock.h"
#include "widgets/RXSlider.h"

namespace {

QLabel* label(QWidget* parent, const char* text, const char* style) {
    auto* l = new QLabel(QString::fromUtf8(text), parent);
    l->setStyleSheet(style);
    return l;
}

QToolButton* flatButton(QWidget* parent, const char* caption) {
    auto* b = new QToolButton(parent);
    b->setText(QString::fromUtf8(caption));
    b->setAutoRaise(true);
    return b;
}

const char* kWhite = "color: white;";
const char* kTime = "color: white; font-weight: bold; font-size: 24px;";
const char* kBold = "font-weight: bold;";

}  // namespace

void TForm1::createControls() {
    setWindowTitle("KAV");
    setWindowIcon(ProgramIcon());
    resize(620, 420);
    setMinimumSize(600, 270);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(4, 4, 4, 4);
    column->addWidget(createDisplay());

    auto* split = new QSplitter(Qt::Horizontal, central);
    split->addWidget(createPlaylistPane());
    split->addWidget(createProgrammePane());
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    column->addWidget(split, 1);
    setCentralWidget(central);

    Panel1 = new QFrame(central);
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel1->setAutoFillBackground(true);
    auto* fading = new QHBoxLayout(Panel1);
    fading->addWidget(label(Panel1, "Fading...", kBold), 0, Qt::AlignCenter);
    Panel1->resize(185, 41);
    Panel1->hide();

    somOpenDialog = std::make_unique<TOpenDialog>(this);
    somOpenDialog->DefaultExt = "mp3";
    somOpenDialog->Filter =
        "Tudo (*.mp3; *.m3u)|*.mp3; *.m3u|MP3 (*.mp3)|*.mp3|Playlist (*.m3u)|*.m3u";
    somOpenDialog->FilterIndex = 1;

    Timer1.SetInterval(100);
    // An addition for a station left alone: on the clock's tenths of a second, so that an entry's
    // whole second is seen as it comes, not up to a tick later.
    Timer1.SetAlignedToClock(true);
    Timer1.SetEnabled(false);
    createMenus();
    createTrayIcon();
    connectHandlers();
}

QWidget* TForm1::createDisplay() {
    auto* top = new QWidget(this);
    auto* row = new QHBoxLayout(top);
    row->setContentsMargins(0, 0, 0, 0);

    volume = new TRxSlider(top);
    volume->SetOrientation(soVertical);
    volume->SetOptions(soShowPoints | soSmooth);
    volume->SetBevelStyle(TBevelStyle::Raised);
    volume->SetRange(0, 255);
    volume->SetIncrement(4);
    volume->SetValue(100);
    volume->SetHint("100%");
    volume->setFixedSize(37, 153);
    row->addWidget(volume);

    Panel2 = new QFrame(top);
    Panel2->setStyleSheet("QFrame { background: black; }");
    Panel2->setMinimumHeight(153);
    auto* display = new QVBoxLayout(Panel2);
    Lartist = label(Panel2, "---", kWhite);
    Ltitle = label(Panel2, "---", kWhite);
    Lparam = label(Panel2, "---", kWhite);
    Lpos = label(Panel2, "00:00:00", kTime);
    Ldur = label(Panel2, "00:00:00", kTime);
    display->addWidget(Lartist);
    display->addWidget(Ltitle);
    display->addStretch();
    auto* times = new QHBoxLayout();
    times->addWidget(Lpos);
    times->addStretch();
    times->addWidget(Ldur);
    display->addLayout(times);
    display->addWidget(Lparam);
    row->addWidget(Panel2, 1);

    auto* side = new QVBoxLayout();
    RxClock1 = new TRxClock(top);
    RxClock1->setStyleSheet("font-weight: bold; font-size: 11px; color: rgb(0, 64, 128);");
    RxClock1->setFixedSize(69, 17);
    side->addWidget(RxClock1);
    side->addStretch();
    SpeedButton8 = flatButton(top, "&Sobre...");
    SpeedButton8->hide();
    side->addWidget(SpeedButton8);
    row->addLayout(side);
    return top;
}

QWidget* TForm1::createPlaylistPane() {
    auto* pane = new QWidget(this);
    auto* column = new QVBoxLayout(pane);
    column->setContentsMargins(0, 0, 0, 0);
    auto* buttons = new QHBoxLayout();
    SpeedButton5 = flatButton(pane, "&Limpar");
    SpeedButton4 = flatButton(pane, "&Adicionar");
    SpeedButton3 = flatButton(pane, "&Baralhar");
    SpeedButton1 = flatButton(pane, "Pla&y");
    SpeedButton2 = flatButton(pane, "&Parar");
    for (auto* b : {SpeedButton5, SpeedButton4, SpeedButton3, SpeedButton1, SpeedButton2})
        buttons->addWidget(b);
    buttons->addStretch();
    Ltotpl = label(pane, "0000", kBold);
    buttons->addWidget(Ltotpl);
    column->addLayout(buttons);
    playlist = new TStringGridView(playlistCells, pane);
    playlist->setObjectName("playlist");
    column->addWidget(playlist, 1);
    return pane;
}

QWidget* TForm1::createProgrammePane() {
    auto* pane = new QWidget(this);
    auto* column = new QVBoxLayout(pane);
    column->setContentsMargins(0, 0, 0, 0);
    auto* buttons = new QHBoxLayout();
    SpeedButton6 = flatButton(pane, "L&impar");
    SpeedButton7 = flatButton(pane, "A&dicionar");
    editarprgml = new QCheckBox("&Editar", pane);
    buttons->addWidget(SpeedButton6);
    buttons->addWidget(SpeedButton7);
    buttons->addWidget(editarprgml);
    buttons->addStretch();
    Ltotprgml = label(pane, "0000", kBold);
    buttons->addWidget(Ltotprgml);
    column->addLayout(buttons);
    prgmlist = new TStringGridView(prgmlistCells, pane);
    prgmlist->setObjectName("prgmlist");
    column->addWidget(prgmlist, 1);
    return pane;
}

void TForm1::createMenus() {
    Ficheiro1 = menuBar()->addMenu("Ficheiro");
    Sair1 = Ficheiro1->addAction("Sair");

    Opcoes1 = menuBar()->addMenu(QString::fromUtf8("Opções"));
    compressor = Opcoes1->addAction("Compressor");
    repetepl = Opcoes1->addAction("Repetir playlist ao chegar ao fim");
    autobaralhar = Opcoes1->addAction("Baralhar playlist automaticamente ao chegar ao fim");
    for (QAction* item : {compressor, repetepl, autobaralhar}) item->setCheckable(true);
    // An addition for a station left alone: the station's own options, apart from the three above.
    Opcoes1->addSeparator();
    autoplay = Opcoes1->addAction("Tocar ao iniciar");
    autoplay->setCheckable(true);
    pontual = Opcoes1->addAction(QString::fromUtf8("Início pontual"));
    pontual->setCheckable(true);
    Transmissao1 = Opcoes1->addAction(QString::fromUtf8("Transmissão..."));

    mplaca = menuBar()->addMenu("Placa");
    mplacaGroup = new QActionGroup(this);
    mplacaGroup->setExclusive(true);

    Ajuda1 = menuBar()->addMenu("Ajuda");
    Sobre1 = Ajuda1->addAction("Sobre...");
}

void TForm1::createTrayIcon() {
    PopupMenu1 = new QMenu(this);
    QAction* abrir = PopupMenu1->addAction("Abrir...");
    PopupMenu1->addSeparator();
    QAction* play = PopupMenu1->addAction("Play");
    QAction* parar = PopupMenu1->addAction("Parar");
    PopupMenu1->addSeparator();
    QAction* sobre = PopupMenu1->addAction("Sobre...");
    PopupMenu1->addSeparator();
    QAction* fechar = PopupMenu1->addAction("Fechar");
    connect(abrir, &QAction::triggered, this, [this] { Abrir1Click(); });
    connect(play, &QAction::triggered, this, [this] { BPlayClick(); });
    connect(parar, &QAction::triggered, this, [this] { BPararClick(); });
    connect(sobre, &QAction::triggered, this, [this] { Sobre1Click(); });
    connect(fechar, &QAction::triggered, this, [this] { Fechar1Click(); });

    CoolTrayIcon1 = new TCoolTrayIcon(this);
    CoolTrayIcon1->SetIcon(windowIcon());
    CoolTrayIcon1->SetHint("KAV");
    CoolTrayIcon1->SetPopupMenu(PopupMenu1);
    CoolTrayIcon1->MinimizeToTray = true;
    CoolTrayIcon1->OnDblClick = [this] { Abrir1Click(); };
}

void TForm1::connectHandlers() {
    auto click = [this](QToolButton* b, void (TForm1::*handler)()) {
        connect(b, &QToolButton::clicked, this, [this, handler] { (this->*handler)(); });
    };
    click(SpeedButton5, &TForm1::BlimpplClick);
    click(SpeedButton4, &TForm1::BadfichplClick);
    click(SpeedButton3, &TForm1::SpeedButton3Click);
    click(SpeedButton1, &TForm1::BPlayClick);
    click(SpeedButton2, &TForm1::BPararClick);
    click(SpeedButton6, &TForm1::BlimpprgmlClick);
    click(SpeedButton7, &TForm1::BadfichprgmlClick);
    click(SpeedButton8, &TForm1::Sobre1Click);
    connect(editarprgml, &QCheckBox::clicked, this, [this] { editarprgmlClick(); });

    connect(Sair1, &QAction::triggered, this, [this] { Fechar1Click(); });
    connect(compressor, &QAction::triggered, this, [this] { compressorClick(); });
    connect(Sobre1, &QAction::triggered, this, [this] { Sobre1Click(); });
    connect(Transmissao1, &QAction::triggered, this, [this] { TransmissaoClick(); });

    playlist->OnKeyDown = [this](int& key) { playlistKeyDown(key); };
    prgmlist->OnKeyDown = [this](int& key) { prgmlistKeyDown(key); };
    playlist->OnMouseMove = [this] { playlistMouseMove(); };
    prgmlist->OnMouseMove = [this] { prgmlistMouseMove(); };
    playlist->OnDblClick = [this] { playlistDblClick(); };
    prgmlist->OnDblClick = [this] { prgmlistDblClick(); };

    volume->OnChange = [this] { volumeChange(); };
    volume->OnMouseWheelDown = [this] { volumeMouseWheelDown(); };
    volume->OnMouseWheelUp = [this] { volumeMouseWheelUp(); };
    Timer1.OnTimer = [this] { Timer1Timer(); };
    DueTimer.OnTimer = [this] { Timer1Timer(); };
    connect(pontual, &QAction::triggered, this,
            [this](bool checked) { Automation->SetPunctual(checked); });
}
