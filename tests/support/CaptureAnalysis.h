// Reading what the null output captured: the tones heard, when, how loud.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace capture {

// The captured sound, both channels averaged, samples scaled to -1..1.
struct Sound {
    std::uint32_t rate = 0;
    std::vector<float> samples;
    double Seconds() const { return rate ? double(samples.size()) / rate : 0; }
};
// False (with the reason) for a file that is not 16-bit PCM WAV.
bool ReadWav(const std::string& path, Sound& sound, std::string& error);

// One short stretch: its start in seconds, RMS level and the frequency its
// zero crossings give (0 when it is too quiet to say).
struct Frame {
    double start = 0;
    double rms = 0;
    double frequency = 0;
};
std::vector<Frame> Frames(const Sound& sound, double frameSeconds = 0.02);

// A run of frames louder than minRms whose frequency is near one of the
// expected tones; frames of no expected tone end a run.
struct Tone {
    double frequency = 0;  // the expected tone it matched
    double start = 0, end = 0;
    double Length() const { return end - start; }
};
std::vector<Tone> Tones(const std::vector<Frame>& frames, const std::vector<double>& expected,
                        double minRms = 0.01, double tolerance = 0.04);

// A run of frames quieter than maxRms: nothing was heard from start to end.
struct Silence {
    double start = 0, end = 0;
    double Length() const { return end - start; }
};
std::vector<Silence> Silences(const std::vector<Frame>& frames, double maxRms = 0.01);

// The stretch of a tone's end over which its level falls from 95% to 5% of
// its median level: the fade. Empty when it does not fall.
struct Fall {
    double start = 0, end = 0;
    // The largest distance of a frame's level, as a share of the median level,
    // from the straight line between start and end.
    double worstDeviation = 0;
};
Fall FadeAtEnd(const std::vector<Frame>& frames, const Tone& tone);

}  // namespace capture
