// A GUI-thread timer (the platform's window timers): fires OnTimer every
// Interval ms while Enabled. Runs on the Qt event loop, so it also fires
// inside ProcessMessages().
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

    std::function<void()> OnTimer;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace win
