#include "Fft.h"

#include <cmath>
#include <complex>
#include <numbers>

namespace kavbass {

namespace {

void fftInPlace(std::vector<std::complex<float>>& a) {
    const size_t n = a.size();
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(a[i], a[j]);
    }
    for (size_t len = 2; len <= n; len <<= 1) {
        const double ang = -2.0 * std::numbers::pi / static_cast<double>(len);
        const std::complex<float> wl(static_cast<float>(std::cos(ang)),
                                     static_cast<float>(std::sin(ang)));
        for (size_t i = 0; i < n; i += len) {
            std::complex<float> w(1.0f, 0.0f);
            for (size_t k = 0; k < len / 2; ++k) {
                auto u = a[i + k];
                auto v = a[i + k + len / 2] * w;
                a[i + k] = u + v;
                a[i + k + len / 2] = u - v;
                w *= wl;
            }
        }
    }
}

}  // namespace

std::vector<float> magnitudeSpectrum(const std::vector<float>& samples) {
    const size_t n = samples.size();
    std::vector<std::complex<float>> a(n);
    for (size_t i = 0; i < n; ++i) {
        double w = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * i / (n - 1));
        a[i] = std::complex<float>(static_cast<float>(samples[i] * w), 0.0f);
    }
    fftInPlace(a);
    std::vector<float> mag(n / 2);
    for (size_t k = 0; k < n / 2; ++k) mag[k] = std::abs(a[k]) * 2.0f / static_cast<float>(n);
    return mag;
}

}  // namespace kavbass
