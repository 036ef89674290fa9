// Mixes every playing channel into 16-bit stereo at the device rate. mix()
// runs on the output thread (a device callback or the null output) and never
// blocks, locks, sleeps or allocates.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "bass_types.h"

namespace kavbass {

class Channel;

class Mixer {
  public:
    static Mixer& instance();

    bool attach(Channel* c);  // false when all slots are taken
    void detach(Channel* c);  // returns once the output no longer uses c
    // Returns once any mix pass in progress has finished.
    void quiesce() const;

    void setRate(DWORD rate) { rate_.store(rate, std::memory_order_relaxed); }
    DWORD rate() const { return rate_.load(std::memory_order_relaxed); }

    void mix(int16_t* out, size_t frames);
    // The output has handed the last mixed block on (written or played).
    void delivered() { delivered_.store(mixPasses_.load()); }
    uint64_t deliveredPasses() const { return delivered_.load(); }
    // For an output that runs as fast as it is fed: something plays and every
    // playing channel holds data for frames more output frames.
    bool readyToMix(size_t frames);

    // Master volumes 0..max, the scale max (configs 5, 6 and 3).
    std::atomic<DWORD> streamVolume{100}, musicVolume{100}, maxVolume{100};

  private:
    static constexpr size_t kSlots = 128;
    static constexpr size_t kBlock = 1024;
    void mixBlock(int16_t* out, size_t frames);
    std::atomic<Channel*> slots_[kSlots] = {};
    std::atomic<bool> inMix_{false};
    std::atomic<uint64_t> passes_{0};     // every pass over the slots
    std::atomic<uint64_t> mixPasses_{0};  // mixed blocks
    std::atomic<uint64_t> delivered_{0};
    std::atomic<DWORD> rate_{44100};
    float acc_[kBlock * 2];
    uint64_t pass_ = 0;  // number of the block being mixed
};

}  // namespace kavbass
