// What every sound-measuring test builds on: 16-bit PCM WAV files read and
// written, tone files made by sox, and the two measures of a stretch of
// samples (its level and the frequency of the tone in it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace testsound {

// Runs a shell command with its output discarded; true on exit status 0.
bool runQuiet(const std::string& command);
std::vector<std::uint8_t> readBytes(const std::string& path);
void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);

// Little-endian 16-bit samples of a byte buffer.
std::vector<std::int16_t> toInt16(const std::vector<std::uint8_t>& bytes);

// A 16-bit PCM WAV file: interleaved samples.
struct Wav {
    std::uint32_t rate = 0;
    unsigned channels = 0;
    std::vector<std::int16_t> samples;
    std::uint32_t headerBytes = 0;  // the data size the header gives
    std::size_t frames() const { return channels ? samples.size() / channels : 0; }
};
// Reads a WAV file with the plain 44-byte header. The data is all the file
// holds after the header: a capture still being written updates its header
// just behind the data (headerBytes says how far). False (with the reason)
// for anything else.
bool readWav(const std::string& path, Wav& wav, std::string& error);
void writeWav(const std::string& path, const std::vector<std::int16_t>& samples, int channels,
              int rate);

// The sox command that writes a 16-bit WAV sine tone of freq Hz to path; a
// second tone plays on the right channel when right > 0.
struct ToneFile {
    double seconds = 1;
    double freq = 1000;
    int channels = 2;
    int rate = 44100;
    double volume = 0.5;
    double right = 0;
};
std::string soxToneCommand(const std::string& path, const ToneFile& tone);

// One channel of interleaved samples scaled to -1..1, frames [first, first + count).
std::vector<double> channel(const std::vector<std::int16_t>& pcm, int channels, int which,
                            std::size_t first = 0, std::size_t count = SIZE_MAX);

// Root mean square, in the samples' own unit; 0 for no samples.
double rms(std::span<const std::int16_t> samples);
double rms(std::span<const float> samples);
double rms(std::span<const double> samples);

// Frequency of a tone from its rising zero crossings, each placed between
// samples by linear interpolation; 0 with fewer than minCrossings.
double crossingFrequency(std::span<const std::int16_t> samples, double rate, int minCrossings = 2);
double crossingFrequency(std::span<const float> samples, double rate, int minCrossings = 2);
double crossingFrequency(std::span<const double> samples, double rate, int minCrossings = 2);

}  // namespace testsound
