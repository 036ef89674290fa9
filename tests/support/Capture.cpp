#include "tests/support/Capture.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <span>

#include "tests/support/Pcm.h"

namespace bass_test {

namespace {
std::span<const int16_t> range(const std::vector<int16_t>& x, size_t begin, size_t end) {
    end = std::min(end, x.size());
    return begin < end ? std::span(x).subspan(begin, end - begin) : std::span<const int16_t>();
}
}  // namespace

bool Capture::load(const std::string& path) {
    testsound::Wav wav;
    std::string error;
    if (!testsound::readWav(path, wav, error) || wav.channels != 2) return false;
    rate = wav.rate;
    // What the header has counted: a capture read while it is written ends
    // where its header says, as a player of the file would hear it.
    const size_t frames = std::min<size_t>(wav.frames(), wav.headerBytes / 4);
    left.resize(frames);
    right.resize(frames);
    for (size_t i = 0; i < frames; ++i) {
        left[i] = wav.samples[2 * i];
        right[i] = wav.samples[2 * i + 1];
    }
    return true;
}

std::vector<Segment> segments(const std::vector<int16_t>& x, int threshold, size_t minGap) {
    std::vector<Segment> out;
    bool inside = false;
    Segment cur;
    for (size_t i = 0; i < x.size(); ++i) {
        if (std::abs(int(x[i])) <= threshold) continue;
        if (inside && i - cur.end >= minGap) {
            out.push_back(cur);
            inside = false;
        }
        if (!inside) {
            cur.begin = i;
            inside = true;
        }
        cur.end = i + 1;
    }
    if (inside) out.push_back(cur);
    return out;
}

double toneFrequency(const std::vector<int16_t>& x, size_t begin, size_t end, uint32_t rate) {
    return testsound::crossingFrequency(range(x, begin, end), rate);
}

double toneLevel(const std::vector<int16_t>& x, size_t begin, size_t end, uint32_t rate, double f) {
    const double w = 2.0 * std::numbers::pi * f / rate;
    double s1 = 0, s2 = 0;
    end = std::min(end, x.size());
    for (size_t i = begin; i < end; ++i) {
        const double s = x[i] + 2.0 * std::cos(w) * s1 - s2;
        s2 = s1;
        s1 = s;
    }
    const double power = s1 * s1 + s2 * s2 - 2.0 * std::cos(w) * s1 * s2;
    return end > begin ? 2.0 * std::sqrt(std::max(0.0, power)) / double(end - begin) : 0.0;
}

double rms(const std::vector<int16_t>& x, size_t begin, size_t end) {
    return testsound::rms(range(x, begin, end));
}

int16_t countedSample(size_t frame) {
    return static_cast<int16_t>(1 + frame % 32000);
}

std::string checkCounted(const Capture& heard, size_t frames) {
    size_t next = 0;
    for (size_t at = 0; at < heard.frames(); ++at) {
        const int16_t l = heard.left[at], r = heard.right[at];
        if (l == 0 && r == 0) continue;
        if (next == frames) return "sound after the last frame, at " + std::to_string(at);
        if (l != countedSample(next) || r != -countedSample(next))
            return "frame " + std::to_string(next) + " wrong: " + std::to_string(l) + ", " +
                   std::to_string(r) + " at " + std::to_string(at);
        ++next;
    }
    return next == frames ? "" : "only " + std::to_string(next) + " frames heard";
}

std::string checkOneRun(const Capture& heard, size_t frames) {
    size_t at = 0;
    while (at < heard.frames() && heard.left[at] == 0 && heard.right[at] == 0) ++at;
    for (size_t next = 0; next < frames; ++next, ++at) {
        if (at >= heard.frames()) return "only " + std::to_string(next) + " frames heard";
        if (heard.left[at] != countedSample(next) || heard.right[at] != -countedSample(next))
            return "frame " + std::to_string(next) + " heard as " + std::to_string(heard.left[at]) +
                   " at " + std::to_string(at);
    }
    for (; at < heard.frames(); ++at)
        if (heard.left[at] != 0 || heard.right[at] != 0)
            return "sound after the last frame, at " + std::to_string(at);
    return "";
}

void writeCountedWav(const std::string& path, size_t first, size_t count) {
    std::vector<int16_t> samples;
    samples.reserve(count * 2);
    for (size_t i = first; i < first + count; ++i) {
        samples.push_back(countedSample(i));
        samples.push_back(static_cast<int16_t>(-countedSample(i)));
    }
    testsound::writeWav(path, samples, 2, 44100);
}

}  // namespace bass_test
