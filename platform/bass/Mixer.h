// Mixes every playing channel into 16-bit stereo at the device rate. mix()
// runs on the output thread (a device callback or the null output) and never
// blocks, locks, sleeps or allocates.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "Mixable.h"
#include "bass_types.h"

namespace kavbass {

class Mixer {
  public:
    static Mixer& instance();

    bool attach(Mixable* c);  // false when all slots are taken
    void detach(Mixable* c);  // returns once the output no longer uses c

    void setRate(DWORD rate) { rate_.store(rate, std::memory_order_relaxed); }
    DWORD rate() const { return rate_.load(std::memory_order_relaxed); }

    void mix(int16_t* out, size_t frames);
    // The output has handed the last mixed block on (written or played);
    // wakes the sync thread when a channel played its end in it.
    void delivered();
    uint64_t deliveredPasses() const { return delivered_.load(); }
    // Whether no attached channel has anything to mix.
    bool idle() const;
    // For an output that runs as fast as it is fed: something plays and every
    // playing channel holds data for frames more output frames (those that do
    // not are asked to hurry).
    bool readyToMix(size_t frames);

    // Master volumes 0..max, the scale max (configs 5, 6 and 3).
    std::atomic<DWORD> streamVolume{100}, musicVolume{100}, maxVolume{100};

  private:
    static constexpr size_t kSlots = 128;
    static constexpr size_t kBlock = 1024;
    // Channels started within one block by the end of the one they were
    // queued after: mixed from that sample on, and not again in the block.
    static constexpr size_t kMaxStartsPerBlock = 8;
    struct BlockStarts {
        Mixable* started[kMaxStartsPerBlock] = {};
        size_t count = 0;
        bool contains(const Mixable* c) const;
    };
    void mixBlock(int16_t* out, size_t frames);
    // Mixes c into acc_ from frame `from`; true when it played its end there.
    bool mixFrom(Mixable* c, size_t from, size_t frames, DWORD devRate, float streamGain,
                 float musicGain);
    // Starts what was queued after leader, at the frame after its last.
    void startFollowers(const Mixable* leader, size_t at, size_t frames, DWORD devRate,
                        float streamGain, float musicGain, BlockStarts& starts);
    std::atomic<Mixable*> slots_[kSlots] = {};
    // One past the highest slot ever taken: the passes look no further.
    std::atomic<size_t> inUse_{0};
    std::atomic<uint64_t> mixPasses_{0};  // mixed blocks
    std::atomic<uint64_t> delivered_{0};
    std::atomic<bool> endMixed_{false};  // a channel ended in the last block
    std::atomic<DWORD> rate_{44100};
    float acc_[kBlock * 2];
    uint64_t pass_ = 0;  // number of the block being mixed
};

}  // namespace kavbass
