// Where a stream output takes the sound it sends: what the program's output
// took (BassTap.h), or what a test or a benchmark gives.
//
// Threads: one reader thread (the output's) calls everything.
#pragma once

#include <cstddef>
#include <cstdint>

namespace onair {

class AudioSource {
  public:
    virtual ~AudioSource() = default;
    // Interleaved 16-bit stereo: copies up to maxFrames frames of what has
    // come into out, at once; returns how many (0 when nothing has come).
    virtual std::size_t Read(std::int16_t* out, std::size_t maxFrames) = 0;
    // Frames per second of what Read gives.
    virtual int Rate() = 0;
    // Frames lost so far because the reader had not made room in time.
    virtual std::uint64_t Lost() = 0;
};

}  // namespace onair
