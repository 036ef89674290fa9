// A count of events that one thread can sleep on until it moves: raising it
// never locks, allocates or sleeps, so the output callback may raise one.
#pragma once

#include <atomic>
#include <cstdint>

namespace kavbass {

class Signal {
  public:
    // Read before looking at the state the signal announces changes of.
    uint32_t seen() const { return count_.load(std::memory_order_acquire); }
    // Returns once the signal has been raised since seen was read.
    void wait(uint32_t seen) const { count_.wait(seen, std::memory_order_acquire); }
    void raise() {
        count_.fetch_add(1, std::memory_order_release);
        count_.notify_all();
    }

  private:
    std::atomic<uint32_t> count_{0};
};

}  // namespace kavbass
