#include "Capture.h"

#include <cmath>
#include <cstring>
#include <fstream>
#include <numbers>

namespace bass_test {

namespace {
uint32_t le32(const unsigned char* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24;
}
uint16_t le16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
}  // namespace

bool Capture::load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<unsigned char> d((std::istreambuf_iterator<char>(in)), {});
    if (d.size() < 44 || std::memcmp(d.data(), "RIFF", 4) != 0 ||
        std::memcmp(d.data() + 8, "WAVEfmt ", 8) != 0)
        return false;
    if (le16(&d[20]) != 1 || le16(&d[22]) != 2 || le16(&d[34]) != 16) return false;
    rate = le32(&d[24]);
    if (std::memcmp(&d[36], "data", 4) != 0) return false;
    const size_t bytes = std::min<size_t>(le32(&d[40]), d.size() - 44);
    left.clear();
    right.clear();
    for (size_t i = 44; i + 4 <= 44 + bytes; i += 4) {
        left.push_back(static_cast<int16_t>(le16(&d[i])));
        right.push_back(static_cast<int16_t>(le16(&d[i + 2])));
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
    size_t first = 0, last = 0, crossings = 0;
    for (size_t i = begin + 1; i < end && i < x.size(); ++i) {
        if ((x[i - 1] < 0) != (x[i] < 0)) {
            if (crossings == 0) first = i;
            last = i;
            ++crossings;
        }
    }
    if (crossings < 2) return 0.0;
    return (crossings - 1) / 2.0 / (double(last - first) / rate);
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
    double sum = 0;
    end = std::min(end, x.size());
    for (size_t i = begin; i < end; ++i) sum += double(x[i]) * x[i];
    return end > begin ? std::sqrt(sum / double(end - begin)) : 0.0;
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

}  // namespace bass_test
