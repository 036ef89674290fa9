// The wall clock: the time of day as hh:mm:ss, refreshed from the program's clock.
#pragma once

#include <QLabel>
#include <QTimer>

class TRxClock : public QLabel {
  public:
    explicit TRxClock(QWidget* parent = nullptr);
    // Reads the clock and shows it; the clock's own timer calls it.
    void Tick();

  private:
    QTimer timer_;
};
