#include "PeakLimiter.h"

#include <algorithm>
#include <cmath>

#include "Design.h"

namespace dspwd {

namespace {
constexpr double kUnit = 1073741824.0;  // 2^30: the box mean's fixed point
constexpr double kFullScale = 32768.0;
}  // namespace

void PeakLimiter::Reset(int sampleRate, int channels) {
    channels_ = channels;
    delay_ = std::max(1, int(std::lround(kLookAheadSeconds * sampleRate)));
    window_ = delay_ + 1;
    ceiling_ = kCeilingSample / kFullScale;
    releaseCoef_ = 1.0 - std::exp(-1.0 / (kLimiterReleaseSeconds * sampleRate));
    released_ = 1.0;
    audio_.assign(size_t(delay_) * channels, 0.0f);
    audioPos_ = 0;
    minFrame_.assign(window_, 0);
    minValue_.assign(window_, 1.0);
    minHead_ = minSize_ = 0;
    frame_ = 0;
    box_.assign(window_, int64_t(kUnit));
    boxPos_ = 0;
    boxSum_ = int64_t(kUnit) * window_;
}

// The minimum of the required gains of the last window_ frames (a monotone
// queue: amortised constant time).
double PeakLimiter::windowMinimum(double required) {
    while (minSize_ > 0 && minValue_[(minHead_ + minSize_ - 1) % window_] >= required) --minSize_;
    const int back = (minHead_ + minSize_) % window_;
    minFrame_[back] = frame_;
    minValue_[back] = required;
    ++minSize_;
    while (minFrame_[minHead_] <= frame_ - window_) {
        minHead_ = (minHead_ + 1) % window_;
        --minSize_;
    }
    return minValue_[minHead_];
}

// Falls at once, recovers with the release time constant: never above the
// minimum it follows.
double PeakLimiter::release(double minimum) {
    if (minimum < released_)
        released_ = minimum;
    else
        released_ += releaseCoef_ * (minimum - released_);
    return released_;
}

double PeakLimiter::boxMean(double gain) {
    const int64_t units = int64_t(std::floor(gain * kUnit));
    boxSum_ += units - box_[boxPos_];
    box_[boxPos_] = units;
    boxPos_ = (boxPos_ + 1) % window_;
    return double(boxSum_) / (kUnit * window_);
}

void PeakLimiter::Process(const float* frame, int16_t* out) {
    float peak = 0.0f;
    for (int c = 0; c < channels_; ++c) peak = std::max(peak, std::fabs(frame[c]));
    const double required = peak > ceiling_ ? ceiling_ / peak : 1.0;
    const double gain = boxMean(release(windowMinimum(required)));
    ++frame_;
    // The slot written delay_ frames ago is read, then refilled.
    float* slot = &audio_[size_t(audioPos_) * channels_];
    for (int c = 0; c < channels_; ++c) {
        const double v = std::nearbyint(double(slot[c]) * gain * kFullScale);
        out[c] = int16_t(std::clamp(v, double(-kCeilingSample), double(kCeilingSample)));
        slot[c] = frame[c];
    }
    audioPos_ = (audioPos_ + 1) % delay_;
}

}  // namespace dspwd
