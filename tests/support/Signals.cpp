#include "tests/support/Signals.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <span>

#include "tests/support/Pcm.h"

namespace dsptest {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kFullScale = 32768.0;

int16_t Clip(double v) {
    return int16_t(std::clamp(std::lround(v), -32768L, 32767L));
}

double FromDb(double db) {
    return std::pow(10.0, db / 20.0);
}

long End(const Pcm& pcm, int channels, long to) {
    const long frames = long(pcm.size()) / channels;
    return to < 0 ? frames : std::min(to, frames);
}

// One pole low-pass, cutoff in Hz.
struct LowPass {
    double a = 0, y = 0;
    LowPass(double hz, int rate) : a(1.0 - std::exp(-2.0 * kPi * hz / rate)) {}
    double operator()(double x) { return y += a * (x - y); }
};

}  // namespace

Pcm Silence(double seconds, int rate, int channels) {
    return Pcm(size_t(std::lround(seconds * rate)) * channels, 0);
}

Pcm Sine(double peakDb, double hz, double seconds, int rate, int channels) {
    const long frames = std::lround(seconds * rate);
    const double amplitude = 32767.0 * FromDb(peakDb);
    Pcm pcm(size_t(frames) * channels);
    for (long f = 0; f < frames; ++f) {
        const int16_t v = Clip(amplitude * std::sin(2.0 * kPi * hz * f / rate));
        for (int c = 0; c < channels; ++c) pcm[size_t(f) * channels + c] = v;
    }
    return pcm;
}

Pcm FullScaleSquare(double hz, double seconds, int rate, int channels) {
    const long frames = std::lround(seconds * rate);
    Pcm pcm(size_t(frames) * channels);
    for (long f = 0; f < frames; ++f) {
        const bool high = std::fmod(f * hz / rate, 1.0) < 0.5;
        for (int c = 0; c < channels; ++c) pcm[size_t(f) * channels + c] = high ? 32767 : -32768;
    }
    return pcm;
}

// Pink noise from white by Kellet's economical filter.
Pcm ClippedPinkNoise(double rmsDb, double seconds, int rate, int channels, unsigned seed) {
    std::mt19937 random(seed);
    std::normal_distribution<double> white(0.0, 1.0);
    const long frames = std::lround(seconds * rate);
    std::vector<double> raw(size_t(frames) * channels);
    double b[8][3] = {};
    for (long f = 0; f < frames; ++f)
        for (int c = 0; c < channels; ++c) {
            const double w = white(random);
            b[c][0] = 0.99765 * b[c][0] + w * 0.0990460;
            b[c][1] = 0.96300 * b[c][1] + w * 0.2965164;
            b[c][2] = 0.57000 * b[c][2] + w * 1.0526913;
            raw[size_t(f) * channels + c] = b[c][0] + b[c][1] + b[c][2] + w * 0.1848;
        }
    double power = 0;
    for (double v : raw) power += v * v;
    const double scale = kFullScale * FromDb(rmsDb) / std::sqrt(power / raw.size());
    Pcm pcm(raw.size());
    for (size_t i = 0; i < raw.size(); ++i) pcm[i] = Clip(raw[i] * scale);
    return pcm;
}

Pcm Music(double seconds, int rate, double gainDb, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> noise(-1.0, 1.0);
    const long frames = std::lround(seconds * rate);
    const double beat = 0.5;                        // 120 beats a minute
    const double bassNotes[] = {55, 55, 65.4, 49};  // one a bar
    LowPass padL(700, rate), padR(900, rate), snareTone(5000, rate);
    double previousNoise = 0;
    const double gain = kFullScale * FromDb(gainDb);
    Pcm pcm(size_t(frames) * 2);
    for (long f = 0; f < frames; ++f) {
        const double t = double(f) / rate;
        const double inBeat = std::fmod(t, beat);
        const int beatNumber = int(t / beat);
        const int bar = beatNumber / 4;
        // Phrases of 8 s: loud, soft (-6 dB), loud, then a break without drums.
        const int phrase = int(t / 8.0) % 4;
        const double phraseLevel = phrase == 1 ? 0.5 : 1.0;
        const bool drums = phrase != 3;
        double mono = 0;
        if (drums) {
            const double sweep = 50.0 + 60.0 * std::exp(-inBeat / 0.03);
            mono += 0.55 * std::exp(-inBeat / 0.09) * std::sin(2 * kPi * sweep * inBeat);
            if (beatNumber % 2 == 1) {
                const double n = noise(random);
                const double bright = snareTone(n - previousNoise);
                previousNoise = n;
                mono += 0.5 * std::exp(-inBeat / 0.05) * bright;
            }
        }
        const double note = bassNotes[bar % 4];
        mono += 0.18 * phraseLevel * std::sin(2 * kPi * note * t) *
                (0.6 + 0.4 * std::exp(-inBeat / 0.2));
        const double swell = 0.75 + 0.25 * std::sin(2 * kPi * t / 5.0);
        const double left = mono + 0.9 * phraseLevel * swell * padL(noise(random));
        const double right = mono + 0.9 * phraseLevel * swell * padR(noise(random));
        pcm[size_t(f) * 2] = Clip(gain * left);
        pcm[size_t(f) * 2 + 1] = Clip(gain * right);
    }
    return pcm;
}

void Append(Pcm& to, const Pcm& more) {
    to.insert(to.end(), more.begin(), more.end());
}

double RmsDb(const Pcm& pcm, int channels, long from, long to) {
    to = End(pcm, channels, to);
    const size_t first = size_t(from) * channels;
    const size_t count = to > from ? size_t(to - from) * channels : 0;
    const double level = testsound::rms(std::span(pcm).subspan(first, count)) / kFullScale;
    return level > 0 ? 20 * std::log10(level) : -std::numeric_limits<double>::infinity();
}

int PeakAbs(const Pcm& pcm, long from, long to) {
    to = to < 0 ? long(pcm.size()) : std::min<long>(to, long(pcm.size()));
    int peak = 0;
    for (long i = from; i < to; ++i) peak = std::max(peak, std::abs(int(pcm[size_t(i)])));
    return peak;
}

double IntegratedLoudness(const Pcm& pcm, int channels, int rate, const std::string& scratch) {
    testsound::writeWav(scratch, pcm, channels, rate);
    const std::string command =
        "ffmpeg -hide_banner -nostats -i '" + scratch + "' -af ebur128 -f null - 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return std::nan("");
    std::string text;
    char chunk[4096];
    while (size_t n = std::fread(chunk, 1, sizeof chunk, pipe)) text.append(chunk, n);
    ::pclose(pipe);
    // The summary's "I:" line follows "Integrated loudness:".
    const size_t summary = text.rfind("Integrated loudness:");
    const size_t at = summary == std::string::npos ? summary : text.find("I:", summary);
    if (at == std::string::npos) return std::nan("");
    return std::strtod(text.c_str() + at + 2, nullptr);
}

}  // namespace dsptest
