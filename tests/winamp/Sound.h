// Fixtures made with sox and lame at test time, and measures of the PCM the
// test host heard.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/TempDir.h"

namespace wtest {

// Runs a shell command quietly; true on exit status 0.
bool run(const std::string& command);
std::vector<std::uint8_t> readBytes(const std::string& path);
void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);

// Little-endian 16-bit samples of a byte buffer.
std::vector<std::int16_t> toInt16(const std::vector<std::uint8_t>& bytes);

// One channel of interleaved samples, frames [first, first + count).
std::vector<double> channel(const std::vector<std::int16_t>& pcm, int channels, int which,
                            std::size_t first = 0, std::size_t count = SIZE_MAX);
// Frequency from the rising zero crossings, in Hz.
double frequency(const std::vector<double>& samples, int rate);
double rms(const std::vector<double>& samples);

}  // namespace wtest
