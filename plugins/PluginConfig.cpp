#include "plugins/PluginConfig.h"

#define KAV_WINAMP_HOST
#include <QCheckBox>
#include <QFont>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QTableWidget>

#include <algorithm>
#include <array>

#include "platform/win/MessageBox.h"
#include "platform/winamp/In_Module.h"
#include "plugins/PluginCtrl.h"

namespace {

constexpr int kRows = 8;  // grid rows below the fixed one
constexpr int kRowHeight = 16;

// Texts of the manager's result codes 1..9.
const char* const kCodeTexts[] = {
    "",
    "Load denied : Output plug-in is not ready",
    "Load denied : Already loaded before",
    "Load denied : Max. number of plug-ins loaded",
    "Load denied : Unknown Error",
    "Load denied : Not a valid Winamp 2 input plug-in",
    "Cannot unload : Unknown Error",
    "Cannot unload : Plug-in is not loaded",
    "Cannot unload : Plug-in is in use",
    "Load denied : Plug-in was retired after a fault",
};

QLabel* MakeLabel(QWidget* parent, int x, int y, const char* text) {
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    label->move(x, y);
    label->adjustSize();
    return label;
}

QPushButton* MakeButton(QWidget* parent, int x, int y, const char* text) {
    auto* button = new QPushButton(QString::fromUtf8(text), parent);
    button->setGeometry(x, y, 75, 25);
    return button;
}

std::string FromQ(const QString& text) {
    return text.toUtf8().toStdString();
}

}  // namespace

TPluginConfigForm::TPluginConfigForm(QWidget* parent) : QDialog(parent) {
    setWindowTitle("Input plug-in Configuration");
    setFixedSize(582, 338);
    setFont(QFont("Arial", 9));
    CreateControls();
    if (QScreen* screen = this->screen()) move(screen->geometry().center() - rect().center());
}

void TPluginConfigForm::CreateControls() {
    Label2 = MakeLabel(this, 24, 12,
                       "Note : Plug-ins must reside in <program_directory>\\Plugins directory.");
    Label4 = MakeLabel(this, 62, 31, "Only Winamp 2 version is acceptable.");
    Label5 = MakeLabel(this, 63, 49, "Maximum 8 plug-ins can be loaded simultaneously.");
    PluginFirst = new QCheckBox("Plugin First", this);
    PluginFirst->setGeometry(24, 74, 88, 17);
    Label6 = MakeLabel(this, 114, 73,
                       "( if checked then Winamp plug-in is applied for the file types which can");
    Label7 = MakeLabel(this, 122, 90, "be decoded by both BASS and Winamp plug-in )");
    Label1 = MakeLabel(this, 29, 116, "Dected plug-ins");
    Label3 = MakeLabel(this, 302, 116, "Loaded plug-ins");
    PluginList = new QListWidget(this);
    PluginList->setGeometry(16, 136, 121, 159);
    PluginGrid = new QTableWidget(kRows, 3, this);
    PluginGrid->setGeometry(152, 136, 417, 158);
    PluginGrid->setHorizontalHeaderLabels({"Name", "Description", "Extensions"});
    PluginGrid->verticalHeader()->hide();
    PluginGrid->verticalHeader()->setMinimumSectionSize(kRowHeight);
    PluginGrid->verticalHeader()->setDefaultSectionSize(kRowHeight);
    PluginGrid->horizontalHeader()->setFixedHeight(kRowHeight);
    PluginGrid->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    for (int c = 0; c < 3; ++c) PluginGrid->setColumnWidth(c, std::array{84, 173, 151}[c]);
    PluginGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    PluginGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    btnLoad = MakeButton(this, 41, 303, "Load");
    btnUnload = MakeButton(this, 224, 303, "Unload");
    btnAbout = MakeButton(this, 336, 303, "About");
    btnConfigure = MakeButton(this, 448, 303, "Configure");
    btnClose = MakeButton(this, 480, 24, "Close");
    connect(btnLoad, &QPushButton::clicked, this, [this] { btnLoadClick(); });
    connect(btnUnload, &QPushButton::clicked, this, [this] { btnUnloadClick(); });
    connect(btnAbout, &QPushButton::clicked, this, [this] { btnAboutClick(); });
    connect(btnConfigure, &QPushButton::clicked, this, [this] { btnConfigureClick(); });
    connect(btnClose, &QPushButton::clicked, this, [this] { btnCloseClick(); });
    connect(PluginFirst, &QCheckBox::clicked, this, [this] { PluginFirstClick(); });
}

void TPluginConfigForm::SetCandidates(const std::vector<std::string>& names) {
    PluginList->clear();
    for (const std::string& name : names) PluginList->addItem(QString::fromStdString(name));
}

std::string TPluginConfigForm::Cell(int row, int column) const {
    const QTableWidgetItem* item = PluginGrid->item(row - 1, column);
    return item ? FromQ(item->text()) : std::string();
}

void TPluginConfigForm::SelectRow(int row) {
    PluginGrid->clearSelection();
    if (row >= 1 && row <= kRows) PluginGrid->selectRow(row - 1);
}

void TPluginConfigForm::Say(const std::string& text) {
    win::MessageBox(0, text, "Confirm", win::MB_OK | win::MB_WAIT);
}

// Row (1..8) filled from the manager's slot.
void TPluginConfigForm::SetRow(int row, int slot) {
    const TPluginInfo info = GetPluginInfo(slot);
    const std::string cells[] = {info.Name, info.Description, info.FileExtensions};
    for (int c = 0; c < 3; ++c)
        PluginGrid->setItem(row - 1, c, new QTableWidgetItem(QString::fromStdString(cells[c])));
}

void TPluginConfigForm::RebuildGrid() {
    PluginGrid->clearContents();
    FLoadedCount = 0;
    for (int slot = 0; slot < MaxPluginNum; ++slot)
        if (GetPlugin(slot)) SetRow(++FLoadedCount, slot);
}

int TPluginConfigForm::SelectedRow() const {
    const auto ranges = PluginGrid->selectedRanges();
    if (ranges.isEmpty()) return 0;
    int top = ranges.first().topRow();
    for (const auto& r : ranges) top = std::min(top, r.topRow());
    return top + 1;
}

std::string TPluginConfigForm::SelectedName() const {
    const int row = SelectedRow();
    return row == 0 ? std::string() : Cell(row, 0);
}

void TPluginConfigForm::btnLoadClick() {
    if (PluginList->count() == 0) return Say("No plug-in to load");
    const QListWidgetItem* item = PluginList->currentItem();
    if (!item || !item->isSelected()) return Say("Select plug-in to load first");
    const std::string name = FromQ(item->text());
    const int code = LoadWinampPlugin(name);
    const bool loadCode = (code >= 1 && code <= 5) || code == PLUGIN_RETIRED;
    if (code != PLUGIN_OK) return Say(kCodeTexts[loadCode ? code : 4]);
    SetRow(++FLoadedCount, GetPluginIndex(name));
}

void TPluginConfigForm::btnUnloadClick() {
    if (FLoadedCount == 0) return Say("No plug-ins are loaded");
    const int row = SelectedRow();
    const std::string name = SelectedName();
    if (name.empty()) return Say("Select plug-in to unload first");
    const int code = UnloadWinampPlugin(name);
    if (code != PLUGIN_OK) return Say(kCodeTexts[code >= 6 && code <= 8 ? code : 6]);
    if (row == FLoadedCount) {
        for (int c = 0; c < 3; ++c) delete PluginGrid->takeItem(row - 1, c);
        --FLoadedCount;
    } else {
        RebuildGrid();
    }
}

int TPluginConfigForm::SelectedSlot(const char* emptyText, const char* selectText) {
    if (FLoadedCount == 0) {
        Say(emptyText);
        return -1;
    }
    const std::string name = SelectedName();
    if (name.empty()) {
        Say(selectText);
        return -1;
    }
    return GetPluginIndex(name);
}

void TPluginConfigForm::btnAboutClick() {
    const int slot =
        SelectedSlot("No plug-ins to query are loaded", "Select plug-in to query first");
    if (slot < 0) return;
    PluginShowAbout(GetPlugin(slot), static_cast<win::HWND>(winId()));
    if (!GetPlugin(slot)) RebuildGrid();  // retired: it did not answer in time
}

void TPluginConfigForm::btnConfigureClick() {
    const int slot =
        SelectedSlot("No plug-ins to configure are loaded", "Select plug-in to configure first");
    if (slot < 0) return;
    PluginShowConfig(GetPlugin(slot), static_cast<win::HWND>(winId()));
    if (!GetPlugin(slot)) RebuildGrid();  // retired: it did not answer in time
}

void TPluginConfigForm::btnCloseClick() {
    close();
}

void TPluginConfigForm::PluginFirstClick() {
    win::PostMessage(FEngineWindow, WM_BP_PLUGINFIRST_REQUEST, 0, PluginFirst->isChecked() ? 1 : 0);
}
