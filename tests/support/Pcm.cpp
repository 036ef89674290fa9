#include "tests/support/Pcm.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

namespace testsound {

namespace {

std::uint32_t le32(const std::uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t(p[3]) << 24;
}
std::uint16_t le16(const std::uint8_t* p) {
    return std::uint16_t(p[0] | p[1] << 8);
}

template <typename T>
double rmsOf(std::span<const T> s) {
    double sum = 0;
    for (const T x : s) sum += double(x) * double(x);
    return s.empty() ? 0.0 : std::sqrt(sum / double(s.size()));
}

template <typename T>
double crossingsOf(std::span<const T> s, double rate, int minCrossings) {
    double first = -1, last = -1;
    int crossings = 0;
    for (std::size_t i = 1; i < s.size(); ++i) {
        const double a = double(s[i - 1]), b = double(s[i]);
        if (a < 0 && b >= 0) {
            const double at = double(i - 1) + a / (a - b);
            if (first < 0) first = at;
            last = at;
            ++crossings;
        }
    }
    if (crossings < std::max(2, minCrossings) || last <= first) return 0;
    return (crossings - 1) * rate / (last - first);
}

}  // namespace

bool runQuiet(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

std::vector<std::uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<std::int16_t> toInt16(const std::vector<std::uint8_t>& bytes) {
    std::vector<std::int16_t> out(bytes.size() / 2);
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = std::int16_t(le16(&bytes[2 * i]));
    return out;
}

bool readWav(const std::string& path, Wav& wav, std::string& error) {
    // In one read: a capture still being written is read again and again.
    const std::vector<std::uint8_t> d = readBytes(path);
    if (d.size() < 44 || std::memcmp(d.data(), "RIFF", 4) != 0 ||
        std::memcmp(d.data() + 8, "WAVEfmt ", 8) != 0 || std::memcmp(&d[36], "data", 4) != 0)
        return error = path + ": not a WAV file", false;
    const unsigned channels = le16(&d[22]);
    if (le16(&d[20]) != 1 || le16(&d[34]) != 16 || channels == 0)
        return error = path + ": not 16-bit PCM", false;
    wav.rate = le32(&d[24]);
    wav.channels = channels;
    wav.headerBytes = le32(&d[40]);
    const std::size_t frames = (d.size() - 44) / (2u * channels);
    wav.samples.resize(frames * channels);
    for (std::size_t i = 0; i < wav.samples.size(); ++i)
        wav.samples[i] = std::int16_t(le16(&d[44 + 2 * i]));
    return true;
}

void writeWav(const std::string& path, const std::vector<std::int16_t>& samples, int channels,
              int rate) {
    std::ofstream out(path, std::ios::binary);
    auto u32 = [&out](std::uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&out](std::uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    const auto bytes = std::uint32_t(samples.size() * 2);
    out.write("RIFF", 4);
    u32(36 + bytes);
    out.write("WAVEfmt ", 8);
    u32(16);
    u16(1);
    u16(std::uint16_t(channels));
    u32(std::uint32_t(rate));
    u32(std::uint32_t(rate * channels * 2));
    u16(std::uint16_t(channels * 2));
    u16(16);
    out.write("data", 4);
    u32(bytes);
    out.write(reinterpret_cast<const char*>(samples.data()), bytes);
}

std::string soxToneCommand(const std::string& path, const ToneFile& t) {
    std::string synth = "synth " + std::to_string(t.seconds) + " sine " + std::to_string(t.freq);
    if (t.right > 0) synth += " sine " + std::to_string(t.right);
    return "sox -n -r " + std::to_string(t.rate) + " -c " + std::to_string(t.channels) +
           " -b 16 -e signed-integer '" + path + "' " + synth + " vol " + std::to_string(t.volume);
}

std::vector<double> channel(const std::vector<std::int16_t>& pcm, int channels, int which,
                            std::size_t first, std::size_t count) {
    const auto n = std::size_t(channels);
    const std::size_t frames = pcm.size() / n;
    std::vector<double> out;
    for (std::size_t f = first; f < frames && f - first < count; ++f)
        out.push_back(pcm[f * n + std::size_t(which)] / 32768.0);
    return out;
}

double rms(std::span<const std::int16_t> s) {
    return rmsOf(s);
}
double rms(std::span<const float> s) {
    return rmsOf(s);
}
double rms(std::span<const double> s) {
    return rmsOf(s);
}

double crossingFrequency(std::span<const std::int16_t> s, double rate, int minCrossings) {
    return crossingsOf(s, rate, minCrossings);
}
double crossingFrequency(std::span<const float> s, double rate, int minCrossings) {
    return crossingsOf(s, rate, minCrossings);
}
double crossingFrequency(std::span<const double> s, double rate, int minCrossings) {
    return crossingsOf(s, rate, minCrossings);
}

}  // namespace testsound
