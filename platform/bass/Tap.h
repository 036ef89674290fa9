// The one point after the final mix (the master volumes applied) where the
// heard sound leaves the library: every block the device or the null output
// takes is handed to each attached consumer (the level meter, the WAV
// capture, the rings of stream outputs), each of which is read by a thread
// of its own.
//
// Threads: deliver() must only be called from the output thread and never
// blocks, locks, allocates or makes a system call. attach() and detach() are
// for any other thread; detach() returns once the output thread no longer
// uses the consumer, so it may then be destroyed.
//
// How detach() knows: deliver() counts its passes, odd while one runs. The
// count's increment at the start of a pass and the slot loads after it, and
// detach()'s clearing of the slot and its load of the count, are sequentially
// consistent: either detach() sees an even count, and the next pass (ordered
// after that load) sees the slot cleared, or it sees an odd one and waits for
// that pass to end. The end of a pass is a release that detach()'s acquire
// load takes: what the pass wrote into the consumer happens before detach()
// returns.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <thread>

#include "TapConsumer.h"

namespace kavbass {

class Tap {
  public:
    static constexpr size_t kSlots = 8;

    // continuous: the consumer wants the output's silence too (a file, a
    // stream), so an idle null output keeps running for it. False when every
    // slot is taken.
    bool attach(TapConsumer* consumer, bool continuous) {
        for (Slot& s : slots_) {
            TapConsumer* expected = nullptr;
            if (!s.consumer.compare_exchange_strong(expected, consumer)) continue;
            s.continuous.store(continuous);
            if (continuous) continuous_.fetch_add(1);
            return true;
        }
        return false;
    }

    void detach(TapConsumer* consumer) {
        for (Slot& s : slots_) {
            TapConsumer* expected = consumer;
            if (!s.consumer.compare_exchange_strong(expected, nullptr)) continue;
            if (s.continuous.exchange(false)) continuous_.fetch_sub(1);
        }
        const uint64_t pass = passes_.load();
        if (pass % 2 == 0) return;
        while (passes_.load(std::memory_order_acquire) == pass) std::this_thread::yield();
    }

    // Output thread only.
    void deliver(const int16_t* frames, size_t count) {
        passes_.fetch_add(1);
        for (Slot& s : slots_)
            if (TapConsumer* c = s.consumer.load()) c->take(frames, count);
        passes_.fetch_add(1, std::memory_order_release);
    }

    // Output thread only: whether every consumer that wants all the sound
    // has room for frames more (an output that is not paced by real time
    // waits for them rather than lose what they want).
    bool roomFor(size_t frames) {
        bool room = true;
        passes_.fetch_add(1);
        for (Slot& s : slots_) {
            TapConsumer* c = s.consumer.load();
            if (c && s.continuous.load() && c->room() < frames) room = false;
        }
        passes_.fetch_add(1, std::memory_order_release);
        return room;
    }

    // Whether an attached consumer wants the silence too.
    bool continuous() const { return continuous_.load(std::memory_order_relaxed) > 0; }

  private:
    struct Slot {
        std::atomic<TapConsumer*> consumer{nullptr};
        std::atomic<bool> continuous{false};
    };
    Slot slots_[kSlots];
    std::atomic<uint64_t> passes_{0};
    std::atomic<int> continuous_{0};
};

}  // namespace kavbass
