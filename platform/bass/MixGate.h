// What the channels, the mixer, the outputs and the sync thread share without
// knowing one another: whether a mix pass is running (so a channel can wait
// until the output is off it), and two signals that wake sleeping threads.
#pragma once

#include <atomic>
#include <cstdint>

#include "Signal.h"

namespace kavbass {

class MixGate {
  public:
    static MixGate& instance();

    // Around every pass of the output over the channels.
    void enter() { inMix_.store(true); }
    void leave() {
        passes_.fetch_add(1);
        inMix_.store(false);
    }
    // Returns once any pass in progress has finished.
    void quiesce() const;

    // Something may have started to play: an idle output mixes again.
    Signal playing;
    // A sync may be due (an event queued, an end delivered, a download
    // complete, a sync set): the sync thread looks.
    Signal syncs;

  private:
    std::atomic<bool> inMix_{false};
    std::atomic<uint64_t> passes_{0};
};

}  // namespace kavbass
