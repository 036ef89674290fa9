// A label that is a link: its colour follows the mouse, and a click asks the
// desktop to open Link. After a click the label takes VisitedColor once the
// mouse has left it.
#pragma once

#include <QColor>
#include <QLabel>

class TLnkLabel : public QLabel {
  public:
    explicit TLnkLabel(QWidget* parent = nullptr);

    QString Link;
    QColor EnterFontColor = Qt::red;
    QColor LeaveFontColor = Qt::blue;
    QColor VisitedColor = QColor(0, 0, 128);

    QColor FontColor() const { return palette().color(QPalette::WindowText); }

  protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    void setFontColor(const QColor& color);
    bool pressed_ = false;
};
