#include "widgets/RXClock.h"

#include <QPainter>

#include "platform/win/Clock.h"

QString ClockText(std::uint32_t timeOfDayMs, bool leadingZero, bool showSeconds, bool twelveHour) {
    const unsigned s = timeOfDayMs / 1000 % 86400;
    unsigned hour = s / 3600;
    const bool pm = hour >= 12;
    if (twelveHour) hour = hour % 12 == 0 ? 12 : hour % 12;
    QString text = QString::asprintf(leadingZero ? "%.2u:%.2u" : "%u:%.2u", hour, s / 60 % 60);
    if (showSeconds) text += QString::asprintf(":%.2u", s % 60);
    if (twelveHour) text += pm ? " PM" : " AM";
    return text;
}

TRxClock::TRxClock(QWidget* parent) : QWidget(parent) {
    timer_.SetInterval(450);
    timer_.SetOnTimer([this] { Tick(); });
    Tick();
}

int TRxClock::timeLength() const {
    return TwelveHour ? int(text_.size()) - 3 : int(text_.size());
}

int TRxClock::cellWidth() const {
    return fontMetrics().horizontalAdvance(QLatin1Char('8'));
}

QRect TRxClock::cells(int first, int count) const {
    const QFontMetrics fm = fontMetrics();
    const int cell = cellWidth();
    const int ampm = TwelveHour ? fm.horizontalAdvance(text_.mid(timeLength())) : 0;
    const int left = (width() - cell * timeLength() - ampm) / 2;
    const int top = (height() - fm.height()) / 2;
    return QRect(left + first * cell, top, count * cell, fm.height());
}

void TRxClock::Tick() {
    const QString now = ClockText(win::TimeOfDayMs(), LeadingZero, ShowSeconds, TwelveHour);
    if (now == text_) {
        lastRepaint_ = {};
        return;
    }
    const QString before = text_;
    text_ = now;
    // The hour's change, a change of length, or the first reading: all of it.
    const int hourEnd = int(now.indexOf(':'));
    if (before.size() != now.size() || before.left(hourEnd) != now.left(hourEnd) ||
        before.mid(timeLength()) != now.mid(timeLength())) {
        lastRepaint_ = rect();
        update();
        return;
    }
    // Minutes, or the seconds alone when the minutes stayed.
    int first = hourEnd + 1;
    if (before.mid(first, 2) == now.mid(first, 2)) first += 3;
    lastRepaint_ = cells(first, timeLength() - first);
    update(lastRepaint_);
}

void TRxClock::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setFont(font());
    p.setPen(palette().color(QPalette::WindowText));
    for (int i = 0; i < timeLength(); ++i)
        p.drawText(cells(i, 1), Qt::AlignCenter, QString(text_[i]));
    if (TwelveHour) {
        const QRect last = cells(timeLength(), 0);
        p.drawText(QRect(last.left(), last.top(), width() - last.left(), last.height()),
                   Qt::AlignLeft | Qt::AlignVCenter, text_.mid(timeLength()));
    }
}
