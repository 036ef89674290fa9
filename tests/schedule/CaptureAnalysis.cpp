#include "CaptureAnalysis.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>

namespace capture {

namespace {

std::uint32_t Le32(const unsigned char* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t(p[3]) << 24;
}
std::uint16_t Le16(const unsigned char* p) {
    return std::uint16_t(p[0] | p[1] << 8);
}

// Frequency from the first and last upward zero crossing, placed between
// samples by linear interpolation.
double CrossingFrequency(const float* s, size_t n, std::uint32_t rate) {
    double first = -1, last = -1;
    int crossings = 0;
    for (size_t i = 1; i < n; ++i) {
        if (s[i - 1] < 0 && s[i] >= 0) {
            const double at = double(i - 1) + s[i - 1] / double(s[i - 1] - s[i]);
            if (first < 0) first = at;
            last = at;
            ++crossings;
        }
    }
    if (crossings < 3) return 0;
    return (crossings - 1) * double(rate) / (last - first);
}

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
    // In one read: a capture still being written is read again and again.
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    std::vector<unsigned char> data(size_t(std::max<std::streamoff>(0, in.tellg())));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(data.data()), std::streamsize(data.size()));
    data.resize(size_t(std::max<std::streamsize>(0, in.gcount())));
    if (data.size() < 44 || std::string(data.begin(), data.begin() + 4) != "RIFF" ||
        std::string(data.begin() + 8, data.begin() + 16) != "WAVEfmt ")
        return error = path + ": not a WAV file", false;
    const std::uint16_t channels = Le16(&data[22]);
    if (Le16(&data[20]) != 1 || Le16(&data[34]) != 16 || channels == 0)
        return error = path + ": not 16-bit PCM", false;
    sound.rate = Le32(&data[24]);
    const size_t frames = (data.size() - 44) / (2u * channels);
    sound.samples.resize(frames);
    for (size_t i = 0; i < frames; ++i) {
        int sum = 0;
        for (unsigned c = 0; c < channels; ++c)
            sum += std::int16_t(Le16(&data[44 + (i * channels + c) * 2]));
        sound.samples[i] = float(sum) / (32768.0f * channels);
    }
    return true;
}

std::vector<Frame> Frames(const Sound& sound, double frameSeconds) {
    std::vector<Frame> frames;
    const size_t n = std::max<size_t>(1, size_t(frameSeconds * sound.rate));
    for (size_t at = 0; at + n <= sound.samples.size(); at += n) {
        const float* s = &sound.samples[at];
        double energy = 0;
        for (size_t i = 0; i < n; ++i) energy += double(s[i]) * s[i];
        Frame f;
        f.start = double(at) / sound.rate;
        f.rms = std::sqrt(energy / double(n));
        f.frequency = f.rms > 1e-4 ? CrossingFrequency(s, n, sound.rate) : 0;
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
