// Lock-free single-producer/single-consumer ring of 16-bit samples. The
// producer is a channel's worker thread, the consumer the output mixer.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kavbass {

class SampleRing {
  public:
    explicit SampleRing(size_t capacity) : buf_(capacity + 1) {}

    size_t capacity() const { return buf_.size() - 1; }

    // Producer side.
    size_t writable() const {
        size_t w = write_.load(std::memory_order_relaxed);
        size_t r = read_.load(std::memory_order_acquire);
        return (r + buf_.size() - w - 1) % buf_.size();
    }
    size_t write(const int16_t* data, size_t count) {
        size_t n = std::min(count, writable());
        size_t w = write_.load(std::memory_order_relaxed);
        for (size_t i = 0; i < n; ++i) {
            buf_[w] = data[i];
            if (++w == buf_.size()) w = 0;
        }
        write_.store(w, std::memory_order_release);
        return n;
    }

    // Consumer side: look at the i-th readable sample, then consume.
    size_t readable() const {
        size_t w = write_.load(std::memory_order_acquire);
        size_t r = read_.load(std::memory_order_relaxed);
        return (w + buf_.size() - r) % buf_.size();
    }
    int16_t at(size_t i) const {
        size_t r = read_.load(std::memory_order_relaxed) + i;
        return buf_[r % buf_.size()];
    }
    void consume(size_t n) {
        size_t r = read_.load(std::memory_order_relaxed);
        read_.store((r + n) % buf_.size(), std::memory_order_release);
    }

    // Only while neither side works on the ring.
    void reset() {
        read_.store(0, std::memory_order_relaxed);
        write_.store(0, std::memory_order_release);
    }

  private:
    std::vector<int16_t> buf_;
    std::atomic<size_t> read_{0};
    std::atomic<size_t> write_{0};
};

}  // namespace kavbass
