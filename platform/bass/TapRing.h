// What the output takes, for one consumer: a wait-free single-producer,
// single-consumer ring of interleaved 16-bit stereo frames.
//
// Threads: take() must only be called from the output thread (the device's
// callback or the null output's loop, through Tap::deliver); it never blocks,
// locks, allocates or makes a system call. read(), readable() and lost() are
// for the one consumer thread.
//
// A block that does not fit whole is dropped and counted, never waited for:
// a consumer that falls behind loses audio and the output goes on.
//
// The storage is a power of two long and the positions (in frames) run
// freely, so a frame's place is a mask away and a read or a write is at most
// two copies. The producer copies a block, then publishes its end with
// release; the consumer takes the end with acquire, copies what lies below
// it, then publishes its own position with release, which the producer takes
// with acquire before it reuses that room.
#pragma once

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "TapConsumer.h"

namespace kavbass {

class TapRing final : public TapConsumer {
  public:
    // Room for at least capacity frames.
    explicit TapRing(size_t capacity)
        : frames_(std::bit_ceil(std::max<size_t>(capacity, 2))),
          mask_(frames_ - 1),
          buf_(frames_ * 2) {}

    size_t capacity() const { return frames_; }

    // Output thread only: the whole block, or nothing (counted as lost).
    void take(const int16_t* frames, size_t count) override {
        const uint64_t w = write_.load(std::memory_order_relaxed);
        const uint64_t r = read_.load(std::memory_order_acquire);
        if (count > frames_ - (w - r)) {
            lost_.store(lost_.load(std::memory_order_relaxed) + count, std::memory_order_relaxed);
            return;
        }
        const size_t at = size_t(w & mask_);
        const size_t first = std::min(count, frames_ - at);
        std::memcpy(&buf_[at * 2], frames, first * kFrameBytes);
        std::memcpy(&buf_[0], frames + first * 2, (count - first) * kFrameBytes);
        write_.store(w + count, std::memory_order_release);
    }

    size_t room() const override {
        return frames_ - size_t(write_.load(std::memory_order_relaxed) -
                                read_.load(std::memory_order_acquire));
    }

    // Consumer thread only: copies up to maxFrames frames into out and
    // consumes them; returns how many.
    size_t read(int16_t* out, size_t maxFrames) {
        const uint64_t r = read_.load(std::memory_order_relaxed);
        const size_t n = size_t(std::min<uint64_t>(maxFrames, readable()));
        const size_t at = size_t(r & mask_);
        const size_t first = std::min(n, frames_ - at);
        std::memcpy(out, &buf_[at * 2], first * kFrameBytes);
        std::memcpy(out + first * 2, &buf_[0], (n - first) * kFrameBytes);
        read_.store(r + n, std::memory_order_release);
        return n;
    }
    size_t readable() const {
        return size_t(write_.load(std::memory_order_acquire) -
                      read_.load(std::memory_order_relaxed));
    }
    // Frames dropped because the ring was full, since it was made.
    uint64_t lost() const { return lost_.load(std::memory_order_relaxed); }

  private:
    static constexpr size_t kFrameBytes = 2 * sizeof(int16_t);
    const size_t frames_;
    const uint64_t mask_;
    std::vector<int16_t> buf_;
    std::atomic<uint64_t> write_{0};  // frames written: the producer's
    std::atomic<uint64_t> read_{0};   // frames read: the consumer's
    std::atomic<uint64_t> lost_{0};   // written by the producer only
};

}  // namespace kavbass
