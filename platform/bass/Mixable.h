// What the mixer asks of each attached channel. Only the output thread calls
// mixInto; none of these blocks, locks, sleeps or allocates.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bass_types.h"

namespace kavbass {

class Mixable {
  public:
    // Adds frames of 16-bit stereo at the device rate to acc (pairs of
    // floats); true when the channel played its last frame in this pass.
    virtual bool mixInto(float* acc, size_t frames, DWORD deviceRate, float masterGain,
                         uint64_t pass) = 0;
    // Whether the channel holds enough for frames of output (or ends).
    virtual bool fedFor(size_t frames, DWORD deviceRate) const = 0;
    // For an output that runs as fast as it is fed: fill ahead now.
    virtual void hurry() = 0;
    // BASS_ACTIVE_*; PLAYING or STALLED is something to mix.
    virtual DWORD active() const = 0;
    virtual bool isMusic() const = 0;
    virtual DWORD handle() const = 0;
    // After a mixInto that played the last frame: the output frames it filled
    // before that end.
    virtual size_t framesBeforeEnd() const = 0;
    // A channel queued after leader starts now (it is mixed from here on);
    // false for any other.
    virtual bool startAfter(DWORD leader) = 0;

  protected:
    ~Mixable() = default;
};

}  // namespace kavbass
