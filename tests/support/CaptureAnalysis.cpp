#include "tests/support/CaptureAnalysis.h"

#include <algorithm>
#include <cmath>
#include <span>

#include "tests/support/Pcm.h"

namespace capture {

namespace {

double MedianRms(const std::vector<Frame>& frames, const Tone& tone) {
    std::vector<double> levels;
    for (const Frame& f : frames)
        if (f.start >= tone.start && f.start < tone.end) levels.push_back(f.rms);
    if (levels.empty()) return 0;
    std::nth_element(levels.begin(), levels.begin() + long(levels.size() / 2), levels.end());
    return levels[levels.size() / 2];
}

}  // namespace

bool ReadWav(const std::string& path, Sound& sound, std::string& error) {
    testsound::Wav wav;
    if (!testsound::readWav(path, wav, error)) return false;
    sound.rate = wav.rate;
    sound.samples.resize(wav.frames());
    for (size_t i = 0; i < wav.frames(); ++i) {
        int sum = 0;
        for (unsigned c = 0; c < wav.channels; ++c) sum += wav.samples[i * wav.channels + c];
        sound.samples[i] = float(sum) / (32768.0f * float(wav.channels));
    }
    return true;
}

std::vector<Frame> Frames(const Sound& sound, double frameSeconds) {
    std::vector<Frame> frames;
    const size_t n = std::max<size_t>(1, size_t(frameSeconds * sound.rate));
    for (size_t at = 0; at + n <= sound.samples.size(); at += n) {
        const std::span<const float> s(&sound.samples[at], n);
        Frame f;
        f.start = double(at) / sound.rate;
        f.rms = testsound::rms(s);
        // Three crossings at least: a frame is short, and two say little.
        f.frequency = f.rms > 1e-4 ? testsound::crossingFrequency(s, sound.rate, 3) : 0;
        frames.push_back(f);
    }
    return frames;
}

std::vector<Tone> Tones(const std::vector<Frame>& frames, const std::vector<double>& expected,
                        double minRms, double tolerance) {
    std::vector<Tone> tones;
    bool open = false;
    for (size_t i = 0; i < frames.size(); ++i) {
        const Frame& f = frames[i];
        double match = 0;
        if (f.rms >= minRms)
            for (double e : expected)
                if (std::abs(f.frequency - e) <= e * tolerance) match = e;
        const double end = i + 1 < frames.size() ? frames[i + 1].start : f.start;
        if (match != 0 && open && tones.back().frequency == match) {
            tones.back().end = end;
            continue;
        }
        open = match != 0;
        if (open) tones.push_back({match, f.start, end});
    }
    return tones;
}

std::vector<Silence> Silences(const std::vector<Frame>& frames, double maxRms) {
    std::vector<Silence> silences;
    bool open = false;
    for (size_t i = 0; i < frames.size(); ++i) {
        const double end = i + 1 < frames.size() ? frames[i + 1].start : frames[i].start;
        if (frames[i].rms >= maxRms) {
            open = false;
        } else if (open) {
            silences.back().end = end;
        } else {
            silences.push_back({frames[i].start, end});
            open = true;
        }
    }
    return silences;
}

Fall FadeAtEnd(const std::vector<Frame>& frames, const Tone& tone) {
    Fall fall;
    const double level = MedianRms(frames, tone);
    if (level <= 0) return fall;
    std::vector<const Frame*> inside;
    for (const Frame& f : frames)
        if (f.start >= tone.start && f.start < tone.end + 0.1) inside.push_back(&f);
    // The last frame at full level, then the first one below 5% after it.
    size_t high = 0;
    for (size_t i = 0; i < inside.size(); ++i)
        if (inside[i]->rms >= 0.95 * level) high = i;
    size_t low = high;
    while (low < inside.size() && inside[low]->rms > 0.05 * level) ++low;
    if (low >= inside.size() || low - high < 2) return fall;
    fall.start = inside[high]->start;
    fall.end = inside[low]->start;
    const double r0 = inside[high]->rms, r1 = inside[low]->rms;
    for (size_t i = high; i <= low; ++i) {
        const double share = (inside[i]->start - fall.start) / (fall.end - fall.start);
        const double line = r0 + (r1 - r0) * share;
        fall.worstDeviation =
            std::max(fall.worstDeviation, std::abs(inside[i]->rms - line) / level);
    }
    return fall;
}

}  // namespace capture
