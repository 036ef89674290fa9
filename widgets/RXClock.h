// The wall clock in digital mode: the time of day from the program's clock,
// each character in a cell as wide as the digit 8, the block centred. Each
// tick of its timer repaints only the fields that changed.
#pragma once

#include <QWidget>
#include <cstdint>

#include "widgets/RxTimer.h"

// "hh:mm" ("h:mm" without leading zero), then ":ss" and " AM"/" PM" as asked.
QString ClockText(std::uint32_t timeOfDayMs, bool leadingZero, bool showSeconds, bool twelveHour);

class TRxClock : public QWidget {
  public:
    explicit TRxClock(QWidget* parent = nullptr);

    bool ShowSeconds = true;
    bool LeadingZero = true;
    bool TwelveHour = false;

    // What the clock shows now.
    QString Text() const { return text_; }
    // Reads the clock and repaints what changed; the clock's timer calls it.
    void Tick();
    // The area that the last tick asked to repaint (empty when nothing changed).
    QRect LastRepaint() const { return lastRepaint_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    int cellWidth() const;
    // The rectangle of the time characters [first, first + count).
    QRect cells(int first, int count) const;
    // The time part's length (the text without " AM"/" PM").
    int timeLength() const;

    QString text_;
    QRect lastRepaint_;
    TRxTimer timer_;
};
