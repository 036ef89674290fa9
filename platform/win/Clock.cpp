#include "platform/win/Clock.h"

#include <atomic>
#include <chrono>
#include <ctime>
#include <thread>

namespace win {
namespace {

constexpr std::uint32_t kDayMs = 86'400'000u;

RealClock& realClock() {
    static RealClock clock;
    return clock;
}

std::atomic<Clock*> currentClock{nullptr};

}  // namespace

Clock& GetClock() {
    Clock* c = currentClock.load(std::memory_order_acquire);
    return c ? *c : realClock();
}

void SetClock(Clock* clock) {
    currentClock.store(clock, std::memory_order_release);
}

std::uint32_t RealClock::TimeOfDayMs() {
    using namespace std::chrono;
    auto now = system_clock::now();
    std::time_t seconds = system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::uint32_t t = (local.tm_hour * 3600u + local.tm_min * 60u + local.tm_sec) * 1000u;
    return (t + static_cast<std::uint32_t>(ms)) % kDayMs;
}

std::uint32_t RealClock::TickCount() {
    using namespace std::chrono;
    auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    return static_cast<std::uint32_t>(ms);
}

std::uint64_t RealClock::PerformanceCounter() {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count());
}

void RealClock::Sleep(std::uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::uint32_t ManualClock::TimeOfDayMs() {
    std::lock_guard lock(mutex_);
    return time_;
}

std::uint32_t ManualClock::TickCount() {
    std::lock_guard lock(mutex_);
    return tick_;
}

std::uint64_t ManualClock::PerformanceCounter() {
    std::lock_guard lock(mutex_);
    return counter_;
}

void ManualClock::Sleep(std::uint32_t ms) {
    Advance(ms);
    std::function<void(std::uint32_t)> hook;
    {
        std::lock_guard lock(mutex_);
        hook = sleepHook_;
    }
    if (hook) hook(ms);
}

void ManualClock::SetTimeOfDay(std::uint32_t ms) {
    std::lock_guard lock(mutex_);
    time_ = ms % kDayMs;
}

void ManualClock::SetTickCount(std::uint32_t tick) {
    std::lock_guard lock(mutex_);
    tick_ = tick;
}

void ManualClock::Advance(std::uint32_t ms) {
    std::lock_guard lock(mutex_);
    tick_ += ms;  // wraps like the real 32-bit counter
    time_ = static_cast<std::uint32_t>((static_cast<std::uint64_t>(time_) + ms) % kDayMs);
    counter_ += static_cast<std::uint64_t>(ms) * 1'000'000u;
}

void ManualClock::SetSleepHook(std::function<void(std::uint32_t)> hook) {
    std::lock_guard lock(mutex_);
    sleepHook_ = std::move(hook);
}

void ManualClock::SetPerformanceCounter(std::uint64_t value) {
    std::lock_guard lock(mutex_);
    counter_ = value;
}

}  // namespace win
