// RIFF WAVE reader: finds the format and the sample data of a PCM or float
// file, checking every chunk against the file's real size.
#pragma once

#include <cstdint>
#include <optional>

#include "winamp-plugins/common/RegularFile.h"

namespace inwave {

enum class SampleKind { Integer, Float };

struct WavLayout {
    SampleKind kind = SampleKind::Integer;
    int channels = 0;
    int rate = 0;
    int bits = 0;        // per sample as stored: 8, 16, 24 or 32
    int blockAlign = 0;  // bytes per frame
    std::uint64_t dataOffset = 0;
    std::uint64_t frames = 0;  // whole frames that the file really holds
};

// The layout of a playable file, or nothing: not RIFF WAVE, no "fmt " or no
// "data" chunk, a chunk running past the file (the data chunk is clamped to
// the file instead), or a sample format other than 8/16/24/32-bit integer or
// 32-bit float, mono or stereo.
std::optional<WavLayout> readWavLayout(const inplug::RegularFile& file);

}  // namespace inwave
