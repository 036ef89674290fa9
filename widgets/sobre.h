// The about box: the program's name and version in a small frameless window.
#pragma once

#include <QDialog>

class Tfsobre : public QDialog {
  public:
    explicit Tfsobre(QWidget* parent = nullptr);

  protected:
    void mousePressEvent(QMouseEvent* event) override;
};

// The one about box, created by the program entry after the main window.
extern Tfsobre* fsobre;
