// A consumer of what the output takes (Tap.h): the level meter, the WAV
// capture, a stream output's ring.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

namespace kavbass {

class TapConsumer {
  public:
    virtual ~TapConsumer() = default;
    // Must only be called from the output thread, with each block the output
    // takes (interleaved 16-bit stereo, count frames), in order. Never
    // blocks, locks, allocates or makes a system call.
    virtual void take(const int16_t* frames, size_t count) = 0;
    // Output thread only: how many frames take() would keep now.
    virtual size_t room() const { return std::numeric_limits<size_t>::max(); }
};

}  // namespace kavbass
