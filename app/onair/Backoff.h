// The waits between an output's tries to connect: 1 s, then twice as long
// after each failure up to 30 s, each stretched or shortened by up to a
// fifth at random (so that outputs, or stations, that lost the same server
// do not all come back in the same instant), and never outside 1 to 30 s.
//
// Plain data; one thread.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <random>

namespace onair {

class Backoff {
  public:
    using ms = std::chrono::milliseconds;
    static constexpr ms kFirst{1000};
    static constexpr ms kLongest{30000};

    explicit Backoff(std::uint32_t seed) : random_(seed) {}

    // The wait before the next try, after one more failure.
    ms Next() {
        const ms wait = jittered(base_);
        base_ = std::min(base_ * 2, kLongest);
        return wait;
    }
    // The longest wait, jittered but within bounds (a refusal that will not
    // change by itself is tried again this seldom).
    ms Longest() { return jittered(kLongest); }
    // Connected: the next failure starts from the first wait again.
    void Reset() { base_ = kFirst; }

  private:
    ms jittered(ms base) {
        std::uniform_real_distribution<double> factor(0.8, 1.2);
        const auto wait = ms(std::int64_t(double(base.count()) * factor(random_)));
        return std::clamp(wait, kFirst, kLongest);
    }

    ms base_ = kFirst;
    std::minstd_rand random_;
};

}  // namespace onair
