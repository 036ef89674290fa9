// The comments of an Ogg Vorbis stream, as written in its comment header.
#pragma once

#include <string>

namespace kavbass {

// bytes: the start of the stream. Returns "KEY=value" strings as they are in
// the file, NUL-separated with an empty one last; empty when none are found.
std::string oggCommentList(const std::string& bytes);

}  // namespace kavbass
