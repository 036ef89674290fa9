// What a channel's worker thread pulls its 16-bit samples from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kavbass {

class Source {
  public:
    virtual ~Source() = default;
    // Fills at most maxFrames interleaved 16-bit frames; sets eof after the
    // last ones. May block (network, user procedures), never for ever.
    virtual size_t read(int16_t* out, size_t maxFrames, bool& eof) = 0;
    // Moves so that the next read starts at frame; false when not possible.
    virtual bool seek(uint64_t /*frame*/) { return false; }
    // Makes a blocked read return soon (the channel is being freed).
    virtual void abort() {}
    // Whether the worker may read ahead while the channel is not playing.
    virtual bool readsAhead() const { return true; }
};

}  // namespace kavbass
