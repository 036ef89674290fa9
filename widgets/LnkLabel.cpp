#include "widgets/LnkLabel.h"

#include <QDesktopServices>
#include <QMouseEvent>
#include <QUrl>

TLnkLabel::TLnkLabel(QWidget* parent) : QLabel(parent) {
    QFont f = font();
    f.setUnderline(true);
    setFont(f);
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_TranslucentBackground);
    setFontColor(LeaveFontColor);
}

void TLnkLabel::setFontColor(const QColor& color) {
    QPalette p = palette();
    p.setColor(QPalette::WindowText, color);
    setPalette(p);
}

void TLnkLabel::enterEvent(QEnterEvent* event) {
    setFontColor(EnterFontColor);
    QLabel::enterEvent(event);
}

void TLnkLabel::leaveEvent(QEvent* event) {
    setFontColor(LeaveFontColor);
    QLabel::leaveEvent(event);
}

void TLnkLabel::mousePressEvent(QMouseEvent* event) {
    pressed_ = event->button() == Qt::LeftButton;
}

// A click: the press and the release both on the label. What the desktop
// makes of the link is not examined.
void TLnkLabel::mouseReleaseEvent(QMouseEvent* event) {
    const bool click = pressed_ && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint());
    pressed_ = false;
    if (!click) return;
    QDesktopServices::openUrl(QUrl(Link));
    LeaveFontColor = VisitedColor;
}
