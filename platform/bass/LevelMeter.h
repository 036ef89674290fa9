// The level of what the output delivers, taken at the one point after the
// final mix (master volumes applied) where the device or the null output
// receives the audio. Each block the output takes is one entry: its mean
// square, and the frames taken up to its end.
//
// The meter is one of the output's tap consumers (Tap.h): what it keeps of a
// block is the block's level, worked out as the block is taken, so its ring
// holds a number per block instead of the samples.
//
// Threads: feed() (take(), for the tap) must only be called from the output
// thread (the device's callback or the null output's loop); it never blocks,
// locks, allocates or makes a system call, and does nothing until a reader
// has asked once. read() must only be called from one reader thread (the
// engine's, through BASS_GetOutputLevel).
//
// The ring of entries is a power of two long and never makes the writer
// wait: a writer that laps a slow reader overwrites the oldest entries, and
// the reader then takes the newest ring's worth. The writer stores an entry,
// then publishes the count with release; the reader takes the count with
// acquire and reads the entries below it. An entry the writer overwrites while
// the reader is at it holds a newer block's level, which is also a true level
// of what was heard: a reading may then include a block of the next one, and
// is never made of anything but measured blocks. The frames come from the
// newest entry's running total, so they are exact however many entries the
// reader missed, and a reading has frames exactly when it has blocks.
#pragma once

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "TapConsumer.h"

namespace kavbass {

class LevelMeter final : public TapConsumer {
  public:
    // Digital silence, or no block at all.
    static constexpr float kSilentDb = -200.0f;

    struct Reading {
        float loudestDb = kSilentDb;  // the loudest block's RMS, dB relative to full scale
        uint64_t frames = 0;          // frames the output took since the previous read
    };

    // Output thread only. frames: interleaved stereo 16-bit, frameCount long.
    void feed(const int16_t* frames, size_t frameCount) {
        if (frameCount == 0 || !armed_.load(std::memory_order_relaxed)) return;
        const size_t samples = frameCount * 2;
        int64_t sum = 0;
        for (size_t i = 0; i < samples; ++i) sum += int32_t(frames[i]) * int32_t(frames[i]);
        const float meanSquare = float(double(sum) / double(samples) / (32768.0 * 32768.0));
        fedTotal_ += frameCount;
        const uint64_t n = written_.load(std::memory_order_relaxed);
        levels_[n & kMask].store(std::bit_cast<uint32_t>(meanSquare), std::memory_order_relaxed);
        totals_[n & kMask].store(fedTotal_, std::memory_order_relaxed);
        written_.store(n + 1, std::memory_order_release);
    }
    void take(const int16_t* frames, size_t frameCount) override { feed(frames, frameCount); }

    // Reader thread only: the entries written since the previous read. The
    // first read arms the meter and reads nothing.
    Reading read() {
        Reading r;
        const uint64_t end = written_.load(std::memory_order_acquire);
        if (!armed_.exchange(true, std::memory_order_relaxed)) read_ = end;
        if (end == read_) return r;
        float loudest = 0.0f;
        for (uint64_t i = first(end); i < end; ++i)
            loudest = std::max(
                loudest, std::bit_cast<float>(levels_[i & kMask].load(std::memory_order_relaxed)));
        const uint64_t total = totals_[(end - 1) & kMask].load(std::memory_order_relaxed);
        r.frames = total - framesRead_;
        framesRead_ = total;
        read_ = end;
        if (loudest > 0.0f) r.loudestDb = 10.0f * std::log10(loudest);
        return r;
    }

    bool armed() const { return armed_.load(std::memory_order_relaxed); }

  private:
    static constexpr size_t kEntries = 256;
    static constexpr uint64_t kMask = kEntries - 1;
    static_assert(std::has_single_bit(kEntries));

    // The oldest entry still in the ring when `end` have been written.
    uint64_t first(uint64_t end) const { return end - read_ > kEntries ? end - kEntries : read_; }

    std::atomic<uint32_t> levels_[kEntries] = {};  // the blocks' mean squares, as float bits
    std::atomic<uint64_t> totals_[kEntries] = {};  // frames fed up to each block's end
    std::atomic<uint64_t> written_{0};
    std::atomic<bool> armed_{false};
    uint64_t fedTotal_ = 0;    // writer only
    uint64_t read_ = 0;        // reader only
    uint64_t framesRead_ = 0;  // reader only
};

}  // namespace kavbass
