// The 25 spectrum bands fed by the player's timer.
#pragma once

#include <array>
#include <cstdint>

using TBandOut = std::array<uint16_t, 25>;

namespace kav {

constexpr int kFFTBins = 256;

// The last bin of each band; band i starts after the last bin of band i - 1
// (band 0 at bin 1: bin 0 is the constant part).
constexpr std::array<int, 25> kBandUpperBin = {1,  2,   3,   6,   12,  18,  24, 30, 36,
                                               42, 48,  54,  60,  66,  72,  78, 84, 90,
                                               96, 102, 108, 120, 132, 156, 180};

// Updates the bands from 256 FFT magnitudes: a band rises at once to a
// louder value and otherwise falls by 2 per update.
void UpdateBands(const float (&magnitudes)[kFFTBins], TBandOut& bands);

}  // namespace kav
