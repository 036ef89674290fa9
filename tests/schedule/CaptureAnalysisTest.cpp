// The capture reader on sound whose shape is known: sox makes it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "CaptureAnalysis.h"

namespace {

std::string Make(const std::string& name, const std::string& effects) {
    const std::string path =
        (std::filesystem::temp_directory_path() / ("kav-capture-" + name)).string();
    const std::string command = "sox -n -r 44100 -c 2 -b 16 '" + path + "' " + effects;
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return path;
}

capture::Sound Read(const std::string& path) {
    capture::Sound sound;
    std::string error;
    EXPECT_TRUE(capture::ReadWav(path, sound, error)) << error;
    std::filesystem::remove(path);
    return sound;
}

TEST(CaptureAnalysisTest, FindsTonesInOrderWithTheirTimes) {
    // 400 Hz for 1 s, 0.3 s of silence, 1000 Hz for 0.5 s.
    const capture::Sound sound =
        Read(Make("order.wav", "synth 1 sine 400 vol 0.5 pad 0 0.3 : synth 0.5 sine 1000 vol 0.5"));
    EXPECT_NEAR(sound.Seconds(), 1.8, 0.01);
    const auto tones = capture::Tones(capture::Frames(sound), {400, 1000, 1500});
    ASSERT_EQ(tones.size(), 2u);
    EXPECT_EQ(tones[0].frequency, 400);
    EXPECT_NEAR(tones[0].start, 0, 0.021);
    EXPECT_NEAR(tones[0].end, 1.0, 0.021);
    EXPECT_EQ(tones[1].frequency, 1000);
    EXPECT_NEAR(tones[1].start, 1.3, 0.021);
    EXPECT_NEAR(tones[1].end, 1.8, 0.021);
}

TEST(CaptureAnalysisTest, MeasuresTheSilencesBetweenSounds) {
    // 0.2 s of silence, 400 Hz for 1 s, 0.7 s of silence, 1000 Hz for 0.5 s.
    const capture::Sound sound = Read(
        Make("gaps.wav", "synth 1 sine 400 vol 0.5 pad 0.2 0.7 : synth 0.5 sine 1000 vol 0.5"));
    const auto silences = capture::Silences(capture::Frames(sound));
    ASSERT_EQ(silences.size(), 2u);
    EXPECT_NEAR(silences[0].start, 0, 0.021);
    EXPECT_NEAR(silences[0].Length(), 0.2, 0.021);
    EXPECT_NEAR(silences[1].start, 1.2, 0.021);
    EXPECT_NEAR(silences[1].Length(), 0.7, 0.021);
}

TEST(CaptureAnalysisTest, TellsALinearFallFromACurvedOne) {
    // Full level for 1 s, then a fall over 0.8 s.
    const auto linear = Read(Make("linear.wav", "synth 1.8 sine 400 vol 0.5 fade t 0 1.8 0.8"));
    auto frames = capture::Frames(linear);
    auto tones = capture::Tones(frames, {400});
    ASSERT_EQ(tones.size(), 1u);
    capture::Fall fall = capture::FadeAtEnd(frames, tones[0]);
    EXPECT_NEAR(fall.end - fall.start, 0.72, 0.05);
    EXPECT_LT(fall.worstDeviation, 0.06);

    const auto curved = Read(Make("curved.wav", "synth 1.8 sine 400 vol 0.5 fade q 0 1.8 0.8"));
    frames = capture::Frames(curved);
    tones = capture::Tones(frames, {400});
    ASSERT_EQ(tones.size(), 1u);
    fall = capture::FadeAtEnd(frames, tones[0]);
    EXPECT_GT(fall.worstDeviation, 0.1);
}

TEST(CaptureAnalysisTest, RejectsWhatIsNotPcmWav) {
    const std::string path =
        (std::filesystem::temp_directory_path() / "kav-capture-bad.wav").string();
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fputs("RIFF....WAVEfmt but nothing more", f);
    std::fclose(f);
    capture::Sound sound;
    std::string error;
    EXPECT_FALSE(capture::ReadWav(path, sound, error));
    EXPECT_FALSE(error.empty());
    std::filesystem::remove(path);
}

}  // namespace
