// A look-ahead peak limiter whose output never exceeds the ceiling.
//
// Each frame's required gain (ceiling / peak, at most 1) enters a window of
// K = delay + 1 frames. The gain applied is the mean over the last K frames
// of the window's minimum (after a release that only ever lowers it), and
// the audio is delayed by K - 1 frames: the frame whose peak set a minimum
// leaves the delay exactly when all K values in the mean are at or below its
// requirement. The attack is thus a straight ramp over the look-ahead, with
// no overshoot. The mean is kept in integers, so it never drifts above the
// values it is made of, and the output is finally clamped in integers.
#pragma once

#include <cstdint>
#include <vector>

namespace dspwd {

class PeakLimiter {
  public:
    void Reset(int sampleRate, int channels);
    // frame: one frame of the gained signal (1.0 = full scale). Writes the
    // delayed, limited frame to out as 16-bit samples.
    void Process(const float* frame, int16_t* out);
    int Delay() const { return delay_; }

  private:
    double windowMinimum(double required);
    double release(double minimum);
    double boxMean(double gain);

    int channels_ = 0, delay_ = 0, window_ = 0;
    double ceiling_ = 0, releaseCoef_ = 0, released_ = 1;
    std::vector<float> audio_;  // delay line, delay_ frames
    int audioPos_ = 0;
    // Sliding minimum: frame numbers and values, increasing values from front.
    std::vector<int64_t> minFrame_;
    std::vector<double> minValue_;
    int minHead_ = 0, minSize_ = 0;
    int64_t frame_ = 0;
    // Box mean of the released gain in 2^-30 units.
    std::vector<int64_t> box_;
    int boxPos_ = 0;
    int64_t boxSum_ = 0;
};

}  // namespace dspwd
