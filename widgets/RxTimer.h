// A timer component for the widgets: fires OnTimer every Interval ms on the
// GUI thread while Enabled, Interval > 0 and OnTimer is set. Each property
// change takes effect at once.
#pragma once

#include <functional>

#include "platform/win/Timer.h"

class TRxTimer {
  public:
    TRxTimer();

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    unsigned Interval() const { return timer_.Interval(); }
    void SetInterval(unsigned ms);
    void SetOnTimer(std::function<void()> onTimer);

  private:
    void apply();

    win::Timer timer_;
    bool enabled_ = true;
    std::function<void()> onTimer_;
};
