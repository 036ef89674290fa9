// The mixer's inner loops over whole blocks: 16-bit samples scaled into the
// float accumulator, and the accumulator rounded back to 16 bits. With SSE2
// they take four or eight samples at a time; the results are the same as the
// plain loops' (the same operations in the same order, rounding to nearest
// even), which the tests check against them.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kavbass::mixk {

// acc[2i] += left * gl, acc[2i+1] += right * gr for frames interleaved stereo frames.
inline void addStereo(float* acc, const int16_t* s, size_t frames, float gl, float gr) {
    size_t i = 0;
#if defined(__SSE2__)
    const __m128 gains = _mm_setr_ps(gl, gr, gl, gr);
    for (; i + 4 <= frames; i += 4) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 2 * i));
        const __m128i lo = _mm_srai_epi32(_mm_unpacklo_epi16(x, x), 16);
        const __m128i hi = _mm_srai_epi32(_mm_unpackhi_epi16(x, x), 16);
        float* a = acc + 2 * i;
        _mm_storeu_ps(a, _mm_add_ps(_mm_loadu_ps(a), _mm_mul_ps(_mm_cvtepi32_ps(lo), gains)));
        _mm_storeu_ps(a + 4,
                      _mm_add_ps(_mm_loadu_ps(a + 4), _mm_mul_ps(_mm_cvtepi32_ps(hi), gains)));
    }
#endif
    for (; i < frames; ++i) {
        acc[2 * i] += static_cast<float>(s[2 * i]) * gl;
        acc[2 * i + 1] += static_cast<float>(s[2 * i + 1]) * gr;
    }
}

// Any other channel count: the first channel to the left, the second (or the
// first again for mono) to the right; stride samples from one frame to the next.
inline void addFrames(float* acc, const int16_t* s, size_t frames, size_t stride, float gl,
                      float gr) {
    const size_t right = stride >= 2 ? 1 : 0;
    for (size_t i = 0; i < frames; ++i, s += stride) {
        acc[2 * i] += static_cast<float>(s[0]) * gl;
        acc[2 * i + 1] += static_cast<float>(s[right]) * gr;
    }
}

// Rounds to nearest, ties to even (the default rounding mode), after
// clamping to the 16-bit range.
inline int16_t toSample(float v) {
    constexpr float kMagic = 12582912.0f;  // 1.5 * 2^23: leaves no fraction bits
    v = std::min(std::max(v, -32768.0f), 32767.0f);
    return static_cast<int16_t>((v + kMagic) - kMagic);
}

inline void toPcm16(const float* acc, int16_t* out, size_t count) {
    size_t i = 0;
#if defined(__SSE2__)
    const __m128 lo = _mm_set1_ps(-32768.0f), hi = _mm_set1_ps(32767.0f);
    for (; i + 8 <= count; i += 8) {
        const __m128 a = _mm_min_ps(_mm_max_ps(_mm_loadu_ps(acc + i), lo), hi);
        const __m128 b = _mm_min_ps(_mm_max_ps(_mm_loadu_ps(acc + i + 4), lo), hi);
        // Converted with the current rounding mode: to nearest, ties to even.
        const __m128i packed = _mm_packs_epi32(_mm_cvtps_epi32(a), _mm_cvtps_epi32(b));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), packed);
    }
#endif
    for (; i < count; ++i) out[i] = toSample(acc[i]);
}

}  // namespace kavbass::mixk
