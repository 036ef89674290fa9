// The whole chain: leveller, compressor, peak limiter, one gain for all
// channels. Every state change happens per frame (the leveller's control
// steps count frames across calls), so any split of the audio into blocks
// gives the same output.
#pragma once

#include <cstdint>

#include "PeakLimiter.h"

namespace dspwd {

// The slow gated automatic gain control; its gain in dB.
class Leveller {
  public:
    void Reset(int sampleRate);
    // power: the frame's mean square over the channels (1.0 = full scale).
    double Next(double power);

  private:
    double detectorCoef_ = 0, cutCoef_ = 0, boostCoef_ = 0;
    double power_ = 0, gainDb_ = 0;
    int countdown_ = 0;
};

// The soft-knee compressor's gain reduction in dB (>= 0).
class Compressor {
  public:
    void Reset(int sampleRate);
    // power as above; offsetDb: the gain ahead of the compressor.
    double Next(double power, double offsetDb);
    static double StaticReduction(double levelDb);

  private:
    double detectorCoef_ = 0, attackCoef_ = 0, releaseCoef_ = 0;
    double power_ = 0, reductionDb_ = 0;
};

class Chain {
  public:
    // Processes frames of 16-bit interleaved samples in place.
    void Process(int16_t* samples, int frames, int channels, int sampleRate);

  private:
    void Reset(int channels, int sampleRate);

    int channels_ = 0, sampleRate_ = 0;
    Leveller leveller_;
    Compressor compressor_;
    PeakLimiter limiter_;
};

}  // namespace dspwd
