// A count of events that one thread can sleep on until it moves: raising it
// never locks, allocates or sleeps, so the output callback may raise one.
//
// The sleep is the kernel's wait on the count's own word, entered at once:
// the standard atomic wait first spins and yields the processor several
// times, a context switch each while other threads run.
#pragma once

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdint>

namespace kavbass {

class Signal {
  public:
    // Read before looking at the state the signal announces changes of.
    uint32_t seen() const { return count_.load(std::memory_order_acquire); }
    // Returns once the signal has been raised since seen was read.
    void wait(uint32_t seen) const {
        while (count_.load(std::memory_order_acquire) == seen) futex(FUTEX_WAIT_PRIVATE, seen);
    }
    void raise() {
        count_.fetch_add(1, std::memory_order_release);
        futex(FUTEX_WAKE_PRIVATE, INT_MAX);
    }

  private:
    static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t));
    void futex(int op, uint32_t value) const {
        syscall(SYS_futex, reinterpret_cast<const uint32_t*>(&count_), op, value, nullptr, nullptr,
                0);
    }

    std::atomic<uint32_t> count_{0};
};

}  // namespace kavbass
