// A GUI-thread timer (the platform's window timers): fires OnTimer every
// Interval ms while Enabled. Runs on the Qt event loop, so it also fires
// inside ProcessMessages(). A timer does not fire again while its own
// OnTimer runs.
#pragma once

#include <functional>
#include <memory>

namespace win {

class Timer {
  public:
    Timer();
    ~Timer();
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    void SetInterval(unsigned ms);
    unsigned Interval() const;
    void SetEnabled(bool enabled);
    bool Enabled() const;
    // Beyond the platform's timers. Aligned: each firing comes when the
    // clock's time of day (win::TimeOfDayMs) reaches a multiple of Interval,
    // so its phase within the second is the same every time.
    void SetAlignedToClock(bool aligned);
    // Fires once, ms from now, then is disabled (Interval is not changed).
    void StartOnce(unsigned ms);

    std::function<void()> OnTimer;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace win
