// Lock-free single-producer/single-consumer ring of 16-bit samples. The
// producer is a channel's worker thread, the consumer the output mixer.
//
// The storage is a power of two long and the two positions run freely, so a
// sample's place is a mask away and what is readable is at most two
// contiguous pieces: nothing is divided per sample.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace kavbass {

class SampleRing {
  public:
    // At most two contiguous runs of samples, in order.
    struct Pieces {
        const int16_t* data[2] = {nullptr, nullptr};
        size_t size[2] = {0, 0};
    };

    explicit SampleRing(size_t capacity)
        : capacity_(capacity), buf_(storageFor(capacity)), mask_(buf_.size() - 1) {}

    size_t capacity() const { return capacity_; }

    // Producer side.
    size_t writable() const {
        const size_t w = write_.load(std::memory_order_relaxed);
        const size_t r = read_.load(std::memory_order_acquire);
        return capacity_ - (w - r);
    }
    size_t write(const int16_t* data, size_t count) {
        const size_t n = std::min(count, writable());
        const size_t w = write_.load(std::memory_order_relaxed);
        const size_t at = w & mask_;
        const size_t first = std::min(n, buf_.size() - at);
        std::memcpy(buf_.data() + at, data, first * sizeof(int16_t));
        std::memcpy(buf_.data(), data + first, (n - first) * sizeof(int16_t));
        write_.store(w + n, std::memory_order_release);
        return n;
    }
    // Or in place: the writable samples up to the storage's end, filled by
    // the caller, then committed (count at most what was given).
    int16_t* space(size_t& count) {
        const size_t w = write_.load(std::memory_order_relaxed);
        const size_t at = w & mask_;
        count = std::min(writable(), buf_.size() - at);
        return buf_.data() + at;
    }
    void commit(size_t count) {
        write_.store(write_.load(std::memory_order_relaxed) + count, std::memory_order_release);
    }

    // Consumer side: look at readable samples from offset on, then consume.
    size_t readable() const {
        const size_t w = write_.load(std::memory_order_acquire);
        const size_t r = read_.load(std::memory_order_relaxed);
        return w - r;
    }
    int16_t at(size_t i) const { return buf_[(read_.load(std::memory_order_relaxed) + i) & mask_]; }
    // count samples from offset on, which the caller knows to be readable.
    Pieces peek(size_t offset, size_t count) const {
        Pieces p;
        const size_t at = (read_.load(std::memory_order_relaxed) + offset) & mask_;
        const size_t first = std::min(count, buf_.size() - at);
        p.data[0] = buf_.data() + at;
        p.size[0] = first;
        p.data[1] = buf_.data();
        p.size[1] = count - first;
        return p;
    }
    void consume(size_t n) {
        read_.store(read_.load(std::memory_order_relaxed) + n, std::memory_order_release);
    }

    // Only while neither side works on the ring.
    void reset() {
        read_.store(0, std::memory_order_relaxed);
        write_.store(0, std::memory_order_release);
    }

  private:
    static size_t storageFor(size_t capacity) {
        size_t n = 1;
        while (n < capacity) n <<= 1;
        return n;
    }

    const size_t capacity_;
    std::vector<int16_t> buf_;
    const size_t mask_;
    std::atomic<size_t> read_{0};
    std::atomic<size_t> write_{0};
};

}  // namespace kavbass
