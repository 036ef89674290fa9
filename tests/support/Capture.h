// What the null output captured, as its two channels, and the measures the
// audio library's tests take of it: loud stretches, tones, a counted sequence.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bass_test {

struct Capture {
    uint32_t rate = 0;
    std::vector<int16_t> left, right;

    // Reads the capture file; false when it is not a 16-bit stereo WAV.
    bool load(const std::string& path);
    size_t frames() const { return left.size(); }
    double seconds(size_t frames) const { return double(frames) / rate; }
};

// A stretch of sound between silences, in frames.
struct Segment {
    size_t begin = 0, end = 0;  // end is one past the last loud frame
    size_t length() const { return end - begin; }
};

// Loud stretches of x (|sample| above threshold), split by gaps of at least minGap frames.
std::vector<Segment> segments(const std::vector<int16_t>& x, int threshold, size_t minGap);
// Frequency of the tone over [begin, end) (testsound::crossingFrequency).
double toneFrequency(const std::vector<int16_t>& x, size_t begin, size_t end, uint32_t rate);
// Relative strength of frequency f in [begin, end) (Goertzel), scaled to ~amplitude.
double toneLevel(const std::vector<int16_t>& x, size_t begin, size_t end, uint32_t rate, double f);
// Root mean square over [begin, end) (testsound::rms).
double rms(const std::vector<int16_t>& x, size_t begin, size_t end);

// Frame i of a counted sequence is (countedSample(i), its negation): never silent.
int16_t countedSample(size_t frame);
// Empty when the capture holds frames of the counted sequence once each, in
// order, and nothing else that is not silent; else what is wrong. Silence
// between them is passed over: a source that is late makes the output play a
// gap (heard, but nothing lost or repeated).
std::string checkCounted(const Capture& heard, size_t frames);
// Empty when the capture holds frames 0..frames-1 of the counted sequence in
// one run, with silence only before and after it; else what is wrong.
std::string checkOneRun(const Capture& heard, size_t frames);
// Writes frames first..first+count-1 of the counted sequence as a 44.1 kHz
// 16-bit stereo WAV file.
void writeCountedWav(const std::string& path, size_t first, size_t count);

}  // namespace bass_test
