// The last frames a channel's mixer has heard, for readers on other threads.
// One writer (the output thread) appends runs of interleaved 16-bit samples;
// any thread may copy the latest frames out. Samples are kept four to an
// atomic 64-bit word, so an append is a quarter as many stores as samples
// and a reader never sees a torn sample (a frame may mix two passes, which
// a view of the sound does not mind).
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace kavbass {

class SampleHistory {
  public:
    static constexpr size_t kFrames = 4096;  // a power of two

    explicit SampleHistory(size_t chans) : chans_(chans), words_(kFrames * chans / 4) {}

    // Writer side: count interleaved samples, in order (whole frames by the
    // next publish).
    void append(const int16_t* samples, size_t count) {
        const size_t size = kFrames * chans_;
        while (count > 0) {
            const size_t n = std::min(count, size - at_);
            store(at_, samples, n);
            at_ = at_ + n == size ? 0 : at_ + n;
            samples += n;
            count -= n;
            written_ += n;
        }
    }
    // Makes what was appended visible to readers (once per mix pass).
    void publish() { count_.store(written_ / chans_, std::memory_order_release); }

    // Reader side: the latest frames (zeros before the first); false when
    // nothing has been heard yet.
    bool latest(int16_t* out, size_t frames) const {
        const uint64_t count = count_.load(std::memory_order_acquire);
        if (count == 0) return false;
        frames = std::min(frames, kFrames);
        const uint64_t missing = frames > count ? frames - count : 0;
        std::fill(out, out + missing * chans_, int16_t{0});
        const uint64_t first = count - (frames - missing);
        int16_t* to = out + missing * chans_;
        for (uint64_t f = first; f < count; ++f) {
            const size_t base = (f & (kFrames - 1)) * chans_;
            for (size_t c = 0; c < chans_; ++c) *to++ = load(base + c);
        }
        return true;
    }

  private:
    int16_t load(size_t sample) const {
        const uint64_t w = words_[sample / 4].load(std::memory_order_relaxed);
        int16_t s[4];
        std::memcpy(s, &w, sizeof w);
        return s[sample % 4];
    }

    // n samples from index at on, within the storage (no wrap).
    void store(size_t at, const int16_t* samples, size_t n) {
        // A partial word first and last: only this thread writes, so its own
        // last value is read back and merged.
        while (n > 0 && at % 4 != 0) {
            storeOne(at++, *samples++);
            --n;
        }
        for (; n >= 4; n -= 4, at += 4, samples += 4) {
            uint64_t w;
            std::memcpy(&w, samples, sizeof w);
            words_[at / 4].store(w, std::memory_order_relaxed);
        }
        while (n > 0) {
            storeOne(at++, *samples++);
            --n;
        }
    }
    void storeOne(size_t sample, int16_t value) {
        std::atomic<uint64_t>& word = words_[sample / 4];
        uint64_t w = word.load(std::memory_order_relaxed);
        int16_t s[4];
        std::memcpy(s, &w, sizeof w);
        s[sample % 4] = value;
        std::memcpy(&w, s, sizeof w);
        word.store(w, std::memory_order_relaxed);
    }

    const size_t chans_;
    std::vector<std::atomic<uint64_t>> words_;
    size_t at_ = 0;         // writer only: the next sample's place
    uint64_t written_ = 0;  // writer only: samples appended
    std::atomic<uint64_t> count_{0};
};

}  // namespace kavbass
