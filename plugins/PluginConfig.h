// TPluginConfigForm: the dialog for managing input plug-ins by hand: load one
// from the list of candidates, unload one, open a plug-in's About and
// configuration windows, and switch the engine's PluginFirst setting.
// GUI thread only; every answer box waits for OK (the operator's own command).
#pragma once

#include <QDialog>

#include <string>
#include <vector>

#include "platform/win/Messages.h"

class QCheckBox;
class QLabel;
class QListWidget;
class QPushButton;
class QTableWidget;

// Posted to the engine's window by the "Plugin First" box: lParam 1 checked, 0 not.
constexpr unsigned WM_BP_PLUGINFIRST_REQUEST = win::WM_USER + 109;

class TPluginConfigForm : public QDialog {
  public:
    explicit TPluginConfigForm(QWidget* parent = nullptr);

    // What the engine hands over when it shows the dialog.
    void SetEngineWindow(win::HWND window) { FEngineWindow = window; }
    void SetCandidates(const std::vector<std::string>& names);
    int LoadedCount() const { return FLoadedCount; }
    // Grid cell text of a loaded plug-in's row (1..8) and column (0..2).
    std::string Cell(int row, int column) const;
    // Selects grid row (1..8), or nothing with 0.
    void SelectRow(int row);

    void btnLoadClick();
    void btnUnloadClick();
    void btnAboutClick();
    void btnConfigureClick();
    void btnCloseClick();
    void PluginFirstClick();

    QLabel *Label1, *Label2, *Label3, *Label4, *Label5, *Label6, *Label7;
    QCheckBox* PluginFirst;
    QListWidget* PluginList;
    QTableWidget* PluginGrid;
    QPushButton *btnLoad, *btnUnload, *btnAbout, *btnConfigure, *btnClose;

  private:
    void CreateControls();
    void SetRow(int row, int slot);
    void RebuildGrid();
    int SelectedRow() const;
    std::string SelectedName() const;
    // The selected plug-in's slot, or -1 after showing `emptyText` or `selectText`.
    int SelectedSlot(const char* emptyText, const char* selectText);
    void Say(const std::string& text);

    int FLoadedCount = 0;
    win::HWND FEngineWindow = 0;
};
