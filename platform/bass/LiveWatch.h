// How a live stream that runs dry is heard, counted in output frames (the
// output's own time): it is silent until kRefillSeconds are buffered again
// (one clean pause instead of a stutter), and it ends, as a dead stream does,
// on its kMaxDries-th run dry within kDryWindowSeconds, or once it has waited
// more than kMaxWaitSeconds of the last kWaitWindowSeconds (it played less
// than 80 % of real time). Only the mixer uses one: no locks, no allocation.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kavbass {

class LiveWatch {
  public:
    static constexpr double kRefillSeconds = 2.0;
    static constexpr int kMaxDries = 3;
    static constexpr uint32_t kDryWindowSeconds = 60;
    static constexpr uint32_t kWaitWindowSeconds = 20;
    static constexpr uint32_t kMaxWaitSeconds = 4;

    // frames of output passed at rate, waited of them silent; false: give up.
    bool pass(size_t frames, size_t waited, uint32_t rate) {
        clock_ += frames;
        const uint64_t second = clock_ / rate;
        for (uint64_t s = second_ + 1; s <= second && s <= second_ + kWaitWindowSeconds; ++s)
            waited_[s % kWaitWindowSeconds] = 0;
        second_ = second;
        waited_[second % kWaitWindowSeconds] += waited;
        uint64_t total = 0;
        for (uint64_t w : waited_) total += w;
        return total <= uint64_t(kMaxWaitSeconds) * rate;
    }

    // The stream ran dry now; false: give up.
    bool ranDry(uint32_t rate) {
        dries_[dryCount_ % kMaxDries] = clock_;
        ++dryCount_;
        if (dryCount_ < kMaxDries) return true;
        // The oldest of the last kMaxDries is the one to be overwritten next.
        const uint64_t oldest = dries_[dryCount_ % kMaxDries];
        return clock_ - oldest > uint64_t(kDryWindowSeconds) * rate;
    }

  private:
    uint64_t clock_ = 0;  // output frames passed while playing
    uint64_t dries_[kMaxDries] = {};
    uint64_t dryCount_ = 0;
    uint64_t waited_[kWaitWindowSeconds] = {};  // silent frames by second of the clock
    uint64_t second_ = 0;                       // the clock's current second
};

}  // namespace kavbass
