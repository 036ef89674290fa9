// The keep-alives owed to a service manager's watchdog: one per period, and
// only while the program really works. They are judged on the GUI thread's
// own ticks, so a GUI thread that no longer turns sends none; while the
// program plays, a keep-alive also needs the playing position to have moved
// since the one before, so a stuck output sends none either. The manager
// then restarts the program.
//
// GUI thread only; time from the program's clock (win::GetTickCount).
#pragma once

#include <cstdint>
#include <optional>

namespace station {

class ServiceWatch {
  public:
    // periodMs: the time between keep-alives (0: no watchdog).
    explicit ServiceWatch(std::uint32_t periodMs) : periodMs_(periodMs) {}

    std::uint32_t PeriodMs() const { return periodMs_; }
    // On every tick: true when a keep-alive is to be sent now.
    bool KeepAliveDue(bool playing, std::uint32_t positionMs);

  private:
    std::uint32_t periodMs_;
    std::optional<std::uint32_t> lastSent_;
    bool moved_ = true;  // playing and moving, or not playing, since the last one
    std::optional<std::uint32_t> lastPosition_;
};

// Half the manager's watchdog time, so that one late tick is not fatal.
std::uint32_t KeepAlivePeriodMs(std::uint64_t watchdogUsec);

}  // namespace station
