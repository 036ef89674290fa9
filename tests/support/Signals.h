// Test signals for the compressor, made at test time, and the measurements
// the tests and the benchmark take of what comes out. Samples are 16-bit
// interleaved; levels are dBFS (a full-scale sine peaks at 0 dB).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/Pcm.h"

namespace dsptest {

using Pcm = std::vector<int16_t>;

Pcm Silence(double seconds, int rate, int channels);
Pcm Sine(double peakDb, double hz, double seconds, int rate, int channels);
// A square wave swinging between the full-scale extremes.
Pcm FullScaleSquare(double hz, double seconds, int rate, int channels);
// Pink noise at rmsDb before clipping to 16 bits.
Pcm ClippedPinkNoise(double rmsDb, double seconds, int rate, int channels, unsigned seed = 1);
// Music-like stereo material: a beat (kick, snare), a bass line and a pad of
// filtered noise, with phrases that change level by 6 dB and a break without
// drums. Scaled by gainDb, clipped to 16 bits.
Pcm Music(double seconds, int rate, double gainDb, unsigned seed = 7);
void Append(Pcm& to, const Pcm& more);

// Mean-square level over frames [from, to) in dB (to = -1: the end).
double RmsDb(const Pcm& pcm, int channels, long from = 0, long to = -1);
int PeakAbs(const Pcm& pcm, long from = 0, long to = -1);

// EBU R128 integrated loudness (LUFS) as ffmpeg's ebur128 filter measures it;
// NaN when it could not be measured. Writes a WAV file to scratch.
double IntegratedLoudness(const Pcm& pcm, int channels, int rate, const std::string& scratch);
inline void WriteWav(const std::string& path, const Pcm& pcm, int channels, int rate) {
    testsound::writeWav(path, pcm, channels, rate);
}

}  // namespace dsptest
