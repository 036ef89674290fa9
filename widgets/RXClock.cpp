#include "widgets/RXClock.h"

#include "platform/win/Clock.h"

TRxClock::TRxClock(QWidget* parent) : QLabel(parent) {
    setAlignment(Qt::AlignCenter);
    timer_.setInterval(450);
    connect(&timer_, &QTimer::timeout, this, [this] { Tick(); });
    timer_.start();
    Tick();
}

void TRxClock::Tick() {
    unsigned s = win::TimeOfDayMs() / 1000;
    QString text = QString::asprintf("%.2u:%.2u:%.2u", s / 3600, s / 60 % 60, s % 60);
    if (text != this->text()) setText(text);
}
