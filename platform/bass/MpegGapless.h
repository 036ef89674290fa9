// The exact decoded length of an MPEG layer III file whose first frame holds
// an encoder's information tag (frame count, encoder delay and padding).
#pragma once

#include <cstdint>
#include <string>

namespace kavbass {

// bytes start at the first audio frame (after any ID3v2 block); -1 when no
// information tag with a frame count is found.
int64_t gaplessLengthFrames(const std::string& bytes);

}  // namespace kavbass
