#include "Leveller.h"

#include <algorithm>
#include <cmath>

#include "Design.h"

namespace dspwd {

namespace {

constexpr double kFullScale = 32768.0;
constexpr double kNegligibleDb = 1e-9;  // below this a decaying reduction is 0

// One-pole coefficient for a time constant, updated every `every` frames.
double Coefficient(double seconds, int sampleRate, int every = 1) {
    return 1.0 - std::exp(-double(every) / (seconds * sampleRate));
}

double PowerDb(double power) {
    return 10.0 * std::log10(power);
}

}  // namespace

void Leveller::Reset(int sampleRate) {
    detectorCoef_ = Coefficient(kLevellerDetectorSeconds, sampleRate);
    cutCoef_ = Coefficient(kLevellerCutSeconds, sampleRate, kLevellerControlFrames);
    boostCoef_ = Coefficient(kLevellerBoostSeconds, sampleRate, kLevellerControlFrames);
    power_ = kFloorPower;
    gainDb_ = 0.0;
    countdown_ = kLevellerControlFrames;
}

double Leveller::Next(double power) {
    power_ = std::max(power_ + detectorCoef_ * (power - power_), kFloorPower);
    if (--countdown_ > 0) return gainDb_;
    countdown_ = kLevellerControlFrames;
    const double levelDb = PowerDb(power_);
    if (levelDb < kLevellerGateDb) return gainDb_;  // hold through pauses and fades
    const double wanted =
        std::clamp(kLevellerTargetDb - levelDb, kLevellerMaxCutDb, kLevellerMaxBoostDb);
    gainDb_ += (wanted < gainDb_ ? cutCoef_ : boostCoef_) * (wanted - gainDb_);
    if (std::fabs(wanted - gainDb_) < kNegligibleDb) gainDb_ = wanted;  // no subnormal tail
    return gainDb_;
}

void Compressor::Reset(int sampleRate) {
    detectorCoef_ = Coefficient(kCompDetectorSeconds, sampleRate);
    attackCoef_ = Coefficient(kCompAttackSeconds, sampleRate);
    releaseCoef_ = Coefficient(kCompReleaseSeconds, sampleRate);
    power_ = kFloorPower;
    reductionDb_ = 0.0;
}

// The soft-knee gain computer: unity below the knee, the ratio above it, a
// quadratic blend across it.
double Compressor::StaticReduction(double levelDb) {
    const double over = levelDb - kCompThresholdDb;
    const double slope = 1.0 - 1.0 / kCompRatio;
    if (2.0 * over < -kCompKneeDb) return 0.0;
    if (2.0 * over > kCompKneeDb) return slope * over;
    const double into = over + kCompKneeDb / 2.0;
    return slope * into * into / (2.0 * kCompKneeDb);
}

double Compressor::Next(double power, double offsetDb) {
    power_ = std::max(power_ + detectorCoef_ * (power - power_), kFloorPower);
    const double target = StaticReduction(PowerDb(power_) + offsetDb);
    reductionDb_ += (target > reductionDb_ ? attackCoef_ : releaseCoef_) * (target - reductionDb_);
    if (reductionDb_ < kNegligibleDb) reductionDb_ = 0.0;
    return reductionDb_;
}

void Chain::Reset(int channels, int sampleRate) {
    channels_ = channels;
    sampleRate_ = sampleRate;
    leveller_.Reset(sampleRate);
    compressor_.Reset(sampleRate);
    limiter_.Reset(sampleRate, channels);
}

void Chain::Process(int16_t* samples, int frames, int channels, int sampleRate) {
    if (channels != channels_ || sampleRate != sampleRate_) Reset(channels, sampleRate);
    constexpr double kDbToLog = 0.11512925464970229;  // ln(10) / 20
    float gained[kMaxChannels];
    for (int f = 0; f < frames; ++f) {
        int16_t* frame = samples + size_t(f) * channels;
        double power = 0.0;
        for (int c = 0; c < channels; ++c) {
            const double x = frame[c] / kFullScale;
            power += x * x;
        }
        power /= channels;
        const double levellerDb = leveller_.Next(power);
        const double gainDb = levellerDb - compressor_.Next(power, levellerDb);
        const double gain = std::exp(gainDb * kDbToLog);
        for (int c = 0; c < channels; ++c) gained[c] = float(frame[c] / kFullScale * gain);
        limiter_.Process(gained, frame);
    }
}

}  // namespace dspwd
