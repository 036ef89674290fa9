#include "tests/winamp/Sound.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace wtest {

bool run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

std::vector<std::uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::int16_t> toInt16(const std::vector<std::uint8_t>& bytes) {
    std::vector<std::int16_t> out(bytes.size() / 2);
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<std::int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return out;
}

std::vector<double> channel(const std::vector<std::int16_t>& pcm, int channels, int which,
                            std::size_t first, std::size_t count) {
    const std::size_t frames = pcm.size() / static_cast<std::size_t>(channels);
    std::vector<double> out;
    for (std::size_t f = first; f < frames && f - first < count; ++f)
        out.push_back(
            pcm[f * static_cast<std::size_t>(channels) + static_cast<std::size_t>(which)] /
            32768.0);
    return out;
}

double frequency(const std::vector<double>& samples, int rate) {
    std::size_t first = 0, last = 0, crossings = 0;
    for (std::size_t i = 1; i < samples.size(); ++i) {
        if (samples[i - 1] < 0 && samples[i] >= 0) {
            if (crossings == 0) first = i;
            last = i;
            ++crossings;
        }
    }
    if (crossings < 2) return 0;
    return (crossings - 1) * static_cast<double>(rate) / static_cast<double>(last - first);
}

double rms(const std::vector<double>& samples) {
    double sum = 0;
    for (double s : samples) sum += s * s;
    return samples.empty() ? 0 : std::sqrt(sum / static_cast<double>(samples.size()));
}

}  // namespace wtest
