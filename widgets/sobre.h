// The about box: the program's name, its version, a notice and two links, in
// a small window without a title bar that is dragged by its background and
// its icon. Closed by OK, Enter or Esc.
#pragma once

#include <QDialog>
#include <QPoint>

class QLabel;
class QPushButton;
class TLnkLabel;

class Tfsobre : public QDialog {
  public:
    explicit Tfsobre(QWidget* parent = nullptr);

    QWidget* Shape1 = nullptr;  // the background
    QLabel* Image2 = nullptr;   // the program's icon
    QLabel* Label1 = nullptr;   // "KAV"
    QLabel* Label4 = nullptr;   // the version
    QLabel* Label5 = nullptr;   // the notice
    TLnkLabel* LnkLabel1 = nullptr;
    TLnkLabel* LnkLabel2 = nullptr;
    // An addition for a station left alone: the data folder, on a line below the box's own when
    // it is not the program directory (then the box is as it always was).
    QLabel* DataLabel = nullptr;
    QPushButton* Button1 = nullptr;  // "&OK"

    void FormCreate();
    void Button1Click() { accept(); }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void showDataFolder();
    void Shape1MouseDown(QMouseEvent* event);
    void Shape1MouseMove(QMouseEvent* event);
    void Shape1MouseUp(QMouseEvent* event);

    bool dragging_ = false;
    QPoint pressedAt_;  // in the pressed control's coordinates
};

// The one about box, created by the program entry after the main window.
extern Tfsobre* fsobre;
