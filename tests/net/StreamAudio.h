// Audio for the test servers to stream: a sine tone encoded by lame as MP3
// frames with no information frame, so that it can be sent round and round.
#pragma once

#include <string>

namespace nettest {

// 4 s of a tone of freq Hz at 128 kbit/s, 44.1 kHz stereo (made once per process).
const std::string& mp3Tone(int freq);

}  // namespace nettest
