// The one clock every time reading, tick and sleep goes through, so that tests
// can replace it with a clock they drive (a whole day in seconds).
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>

namespace win {

class Clock {
  public:
    virtual ~Clock() = default;
    // Local time of day in milliseconds since midnight, 0..86'399'999.
    virtual std::uint32_t TimeOfDayMs() = 0;
    // The platform's millisecond tick counter: 32 bits, wraps after ~49.7 days.
    virtual std::uint32_t TickCount() = 0;
    // High-resolution counter (used to seed generators); never 0 on a real clock.
    virtual std::uint64_t PerformanceCounter() = 0;
    virtual void Sleep(std::uint32_t ms) = 0;
};

// The clock in force: the real one unless a test has installed another.
Clock& GetClock();
// Installs a clock (nullptr puts the real clock back). Not owned.
void SetClock(Clock* clock);

// Shorthands over GetClock().
inline std::uint32_t TimeOfDayMs() {
    return GetClock().TimeOfDayMs();
}
inline std::uint32_t GetTickCount() {
    return GetClock().TickCount();
}
inline void Sleep(std::uint32_t ms) {
    GetClock().Sleep(ms);
}
// The current hour, 0..23.
inline unsigned CurrentHour() {
    return TimeOfDayMs() / 3'600'000u;
}

class RealClock : public Clock {
  public:
    std::uint32_t TimeOfDayMs() override;
    std::uint32_t TickCount() override;
    std::uint64_t PerformanceCounter() override;
    void Sleep(std::uint32_t ms) override;
};

// A clock for tests: time moves only when told to, or when something sleeps.
// Sleep(ms) advances both the tick counter and the time of day by ms and then
// calls the sleep hook (tests use it to run message dispatching or to act at
// a given moment). Thread-safe.
class ManualClock : public Clock {
  public:
    explicit ManualClock(std::uint32_t timeOfDayMs = 12 * 3'600'000u, std::uint32_t tick = 1000)
        : time_(timeOfDayMs), tick_(tick) {}

    std::uint32_t TimeOfDayMs() override;
    std::uint32_t TickCount() override;
    std::uint64_t PerformanceCounter() override;
    void Sleep(std::uint32_t ms) override;

    // Sets the time of day (wraps at midnight); the tick counter is not touched.
    void SetTimeOfDay(std::uint32_t ms);
    void SetTickCount(std::uint32_t tick);
    // Advances tick counter and time of day (wrapping at midnight).
    void Advance(std::uint32_t ms);
    void SetSleepHook(std::function<void(std::uint32_t ms)> hook);
    void SetPerformanceCounter(std::uint64_t value);

  private:
    std::mutex mutex_;
    std::uint32_t time_;
    std::uint32_t tick_;
    std::uint64_t counter_ = 1;
    std::function<void(std::uint32_t)> sleepHook_;
};

}  // namespace win
