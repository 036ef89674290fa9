// What a stream says about its own audio, and from which byte of the audio on
// it holds: a new title in its metadata, or a new song's comments.
#pragma once

#include <cstdint>
#include <string>

namespace kavbass {

struct StreamNews {
    uint64_t at = 0;  // the number of audio bytes before the first it applies to
    std::string text;
    bool operator==(const StreamNews&) const = default;
};

}  // namespace kavbass
