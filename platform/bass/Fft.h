// Magnitude spectrum of a block of samples (Hann window, radix-2 FFT).
#pragma once

#include <cstddef>
#include <vector>

namespace kavbass {

// samples.size() must be a power of two n; returns n/2 magnitudes, bin k at
// k * rate / n. A full-scale sine on a bin centre gives about 0.5.
std::vector<float> magnitudeSpectrum(const std::vector<float>& samples);

}  // namespace kavbass
