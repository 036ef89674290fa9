// The output emulator's ring: a fixed block of PCM bytes between one writer
// (the input plug-in's decoding thread, or the GUI thread inside a plug-in
// call) and one reader (the audio library's worker thread for the emulator's
// user stream).
//
// Ordering. The writer owns the write position and only reads the read
// position; the reader the other way round. The writer copies the bytes in,
// then stores the write position with release: a reader that loads it with
// acquire sees every byte before it. The reader copies the bytes out, then
// stores the read position with release: a writer that loads it with acquire
// knows the reader is done with the space it gives back, so it may be
// overwritten. Both positions are always in 0..Size-1 and r == w means empty,
// because a block is taken only when it is strictly smaller than the free
// space (the ring never holds more than Size-1 bytes).
//
// reset() moves both positions and is only safe while neither side is inside
// the ring: the emulator keeps them out with its busy flags (ioplug.cpp).
//
// No allocation after construction; each copy is at most two contiguous
// pieces.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>

namespace kav {

class PcmRing {
  public:
    static constexpr uint32_t Size = 88200;  // 500 ms of 44.1 kHz 16-bit stereo

    static uint32_t Used(uint32_t r, uint32_t w) { return w >= r ? w - r : w + Size - r; }
    static uint32_t Free(uint32_t r, uint32_t w) { return w < r ? r - w : Size - w + r; }

    uint32_t used() const { return Used(read_.load(std::memory_order_acquire), writePos()); }
    uint32_t free() const { return Free(read_.load(std::memory_order_acquire), writePos()); }
    uint32_t readPos() const { return read_.load(std::memory_order_acquire); }
    uint32_t writePos() const { return write_.load(std::memory_order_acquire); }

    // Writer side. Takes the whole block only when len < free(); false leaves
    // the ring unchanged.
    bool write(const uint8_t* data, uint32_t len) {
        const uint32_t w = write_.load(std::memory_order_relaxed);
        if (len >= Free(read_.load(std::memory_order_acquire), w)) return false;
        const uint32_t first = std::min(len, Size - w);
        std::memcpy(bytes_.data() + w, data, first);
        std::memcpy(bytes_.data(), data + first, len - first);
        write_.store((w + len) % Size, std::memory_order_release);
        return true;
    }

    // Reader side. Copies min(len, used) bytes and returns that count.
    uint32_t read(uint8_t* out, uint32_t len) {
        const uint32_t r = read_.load(std::memory_order_relaxed);
        const uint32_t n = std::min(len, Used(r, write_.load(std::memory_order_acquire)));
        const uint32_t first = std::min(n, Size - r);
        std::memcpy(out, bytes_.data() + r, first);
        std::memcpy(out + first, bytes_.data(), n - first);
        read_.store((r + n) % Size, std::memory_order_release);
        return n;
    }

    // Neither side may be inside the ring (see above).
    void reset(uint32_t pos = 0) {
        read_.store(pos, std::memory_order_release);
        write_.store(pos, std::memory_order_release);
    }

  private:
    std::array<uint8_t, Size> bytes_{};
    std::atomic<uint32_t> read_{0};
    std::atomic<uint32_t> write_{0};
};

}  // namespace kav
