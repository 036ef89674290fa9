// Which demuxer reads a network stream, decided from the server's
// Content-Type and the first bytes of the body rather than by probing: a live
// MP3 stream begins wherever the listener joined, mid-frame, and probing such
// bytes needs far more of them than a live server sends ahead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kavbass {

// "mp3", "ogg", or empty when the bytes are to be probed: by the first bytes
// when they tell (an Ogg page, a RIFF header, an ID3v2 block), else by the
// Content-Type, else by MPEG frames found in them.
std::string streamFormat(const std::string& contentType, const std::string& bodyStart);

// Whether bytes hold frames of MPEG audio one after another: at least
// kMpegRun frame headers of the same version, layer and rate, each where the
// one before it ends. bytes may begin anywhere in a frame.
constexpr int kMpegRun = 4;
bool hasMpegFrameRun(const uint8_t* bytes, size_t size);

}  // namespace kavbass
