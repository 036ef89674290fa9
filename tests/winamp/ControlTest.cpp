// The host's controls over a playing plug-in: seeking, stopping, pausing,
// file information, and the DSP and visualisation hooks.
#include <algorithm>
#include <cstring>
#include <thread>

#include "tests/support/BoundedCall.h"
#include "tests/winamp/PluginFixture.h"

namespace wtest {
namespace {

using namespace std::chrono_literals;

// Waits (bounded) until cond() holds.
template <class Cond>
bool waitUntil(Cond cond, std::chrono::milliseconds limit = 10s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

class Controls : public PluginTest {
  protected:
    // 1 s of 440 Hz, then 1 s of 880 Hz, 44.1 kHz stereo, as WAV or MP3.
    std::string twoTones(const std::string& ext) {
        const std::string format = "-r 44100 -c 2 -b 16 -e signed-integer";
        const std::string a = sox("a.wav", format, "synth 1 sine 440 vol 0.5");
        const std::string b = sox("b.wav", format, "synth 1 sine 880 vol 0.5");
        const std::string wav = file("two.wav");
        if (!runQuiet("sox '" + a + "' '" + b + "' '" + wav + "'")) return {};
        if (ext == "wav") return wav;
        const std::string mp3 = file("two.mp3");
        return runQuiet("lame --quiet -b 192 '" + wav + "' '" + mp3 + "'") ? mp3 : std::string();
    }
    std::string longWav() {
        return sox("long.wav", "-r 44100 -c 2 -b 16 -e signed-integer", "synth 10 sine 440");
    }
};

// Where, in ms from the start of pcm, the tone first rises above 660 Hz.
int toneChangeMs(const std::vector<std::int16_t>& pcm) {
    const std::size_t window = 441;  // 10 ms
    for (std::size_t at = 0; at + 2 * window <= pcm.size() / 2; at += window / 2)
        if (crossingFrequency(channel(pcm, 2, 0, at, 2 * window), 44100) > 660)
            return static_cast<int>(at * 1000 / 44100);
    return -1;
}

TEST_F(Controls, SeekLandsWhereAskedInBothPlugins) {
    for (const char* ext : {"wav", "mp3"}) {
        SCOPED_TRACE(ext);
        resetHost(4);
        LoadedPlugin plugin(std::string("in_") + (ext[0] == 'w' ? "wave" : "mp3") + ".dll");
        ASSERT_TRUE(plugin.get()) << plugin.error();
        std::string path = twoTones(ext);
        ASSERT_FALSE(path.empty());
        ASSERT_EQ(plugin->Play(path.data()), 0);
        ASSERT_TRUE(waitUntil([] { return outputLog().heard.size() > 44100; }));
        plugin->SetOutputTime(600);
        ASSERT_TRUE(waitUntil([] { return !outputLog().flushes.empty(); }));
        EXPECT_GE(plugin->GetOutputTime(), 600);
        ASSERT_TRUE(waitForEnd(20s));
        plugin->Stop();
        const OutputLog log = outputLog();
        ASSERT_EQ(log.flushes.size(), 1u);
        EXPECT_EQ(log.flushes[0].ms, 600);
        const std::vector<std::uint8_t> after(
            log.heard.begin() + static_cast<long>(log.flushes[0].heardBytes), log.heard.end());
        const auto pcm = toInt16(after);
        // The change from 440 to 880 Hz comes 400 ms after a seek to 600 ms.
        EXPECT_NEAR(toneChangeMs(pcm), 400, 50);
        EXPECT_NEAR(pcm.size() / 2 * 1000.0 / 44100, 1400, 50);
    }
}

TEST_F(Controls, StopEndsTheDecodingThreadPromptlyAndClosesTheOutput) {
    LoadedPlugin plugin("in_wave.dll");
    ASSERT_TRUE(plugin.get()) << plugin.error();
    std::string path = longWav();
    for (bool outputStuck : {false, true}) {
        SCOPED_TRACE(outputStuck ? "output not draining" : "output draining");
        resetHost(1);
        holdOutput(outputStuck);
        ASSERT_EQ(plugin->Play(path.data()), 0);
        std::this_thread::sleep_for(300ms);
        EXPECT_TRUE(ReturnsWithin(
            2s, [] {}, [&] { plugin->Stop(); }));
        const int heard = static_cast<int>(outputLog().heard.size());
        std::this_thread::sleep_for(100ms);
        const OutputLog log = outputLog();
        EXPECT_EQ(log.closes, 1);
        EXPECT_EQ(log.writesWhileClosed, 0);
        EXPECT_EQ(static_cast<int>(log.heard.size()), heard);
        EXPECT_EQ(endMessages(), 0);
    }
}

TEST_F(Controls, PauseHoldsTheOutputAndTheEndStillComesAfterResuming) {
    LoadedPlugin plugin("in_wave.dll");
    ASSERT_TRUE(plugin.get()) << plugin.error();
    resetHost(4);
    std::string path = twoTones("wav");
    ASSERT_EQ(plugin->Play(path.data()), 0);
    plugin->Pause();
    EXPECT_EQ(plugin->IsPaused(), 1);
    const std::size_t heard = outputLog().heard.size();
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(outputLog().heard.size(), heard);
    EXPECT_EQ(endMessages(), 0);
    plugin->SetVolume(200);
    plugin->SetPan(-40);
    plugin->UnPause();
    EXPECT_EQ(plugin->IsPaused(), 0);
    EXPECT_TRUE(waitForEnd(20s));
    plugin->Stop();
    const OutputLog log = outputLog();
    EXPECT_EQ(log.pauses, (std::vector<int>{1, 0}));
    EXPECT_EQ(log.volume, 200);
    EXPECT_EQ(log.pan, -40);
    EXPECT_EQ(log.heard.size(), 2u * 44100 * 4);
}

TEST_F(Controls, FileInfoGivesTitleAndLength) {
    LoadedPlugin wave("in_wave.dll"), mp3("in_mp3.dll");
    ASSERT_TRUE(wave.get()) << wave.error();
    ASSERT_TRUE(mp3.get()) << mp3.error();
    const std::string format = "-r 44100 -c 2 -b 16 -e signed-integer";
    const std::string wav = sox("My Tone.v2.wav", format, "synth 1.5 sine 440");
    const std::string plainMp3 = file("plain song.mp3");
    const std::string taggedMp3 = file("tagged.mp3");
    ASSERT_TRUE(runQuiet("lame --quiet -b 128 '" + wav + "' '" + plainMp3 + "'"));
    ASSERT_TRUE(runQuiet("lame --quiet -b 128 --tt 'A Title' --ta 'An Artist' '" + wav + "' '" +
                         taggedMp3 + "'"));
    struct Case {
        LoadedPlugin* plugin;
        std::string path, title;
        int lengthMs;
    };
    const Case cases[] = {
        {&wave, wav, "My Tone.v2", 1500},
        {&mp3, plainMp3, "plain song", 1500},
        {&mp3, taggedMp3, "An Artist - A Title", 1500},
        {&wave, file("gone.wav"), "gone", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        std::string path = c.path;
        char title[2048] = "unchanged";
        int length = -2;
        (*c.plugin)->GetFileInfo(path.data(), title, &length);
        EXPECT_EQ(std::string(title), c.title);
        EXPECT_NEAR(length, c.lengthMs, c.lengthMs > 0 ? 50 : 0);
        // While it plays, no file name means the playing file.
        if (c.lengthMs < 0) continue;
        resetHost(1);
        ASSERT_EQ((*c.plugin)->Play(path.data()), 0);
        std::memset(title, 0, sizeof title);
        length = -2;
        (*c.plugin)->GetFileInfo(nullptr, title, &length);
        EXPECT_EQ(std::string(title), c.title);
        EXPECT_NEAR(length, c.lengthMs, 50);
        EXPECT_NEAR((*c.plugin)->GetLength(), c.lengthMs, 50);
        (*c.plugin)->Stop();
    }
}

TEST_F(Controls, ALongTagTitleStaysInsideTheTitleBuffer) {
    LoadedPlugin mp3("in_mp3.dll");
    ASSERT_TRUE(mp3.get()) << mp3.error();
    const std::string wav =
        sox("t.wav", "-r 44100 -c 1 -b 16 -e signed-integer", "synth 0.2 sine 440");
    std::string path = file("long-title.mp3");
    const std::string longTitle(3000, 'x');
    ASSERT_TRUE(runQuiet("lame --quiet --id3v2-only --tt '" + longTitle + "' '" + wav + "' '" +
                         path + "'"));
    std::vector<char> buffer(4096, '#');
    int length = 0;
    mp3->GetFileInfo(path.data(), buffer.data(), &length);
    const std::size_t written = std::strlen(buffer.data());
    EXPECT_GT(written, 255u);  // the plug-in gives what it has; the host cuts
    EXPECT_LE(written, 2047u);
    EXPECT_TRUE(
        std::all_of(buffer.begin() + 2048, buffer.end(), [](char ch) { return ch == '#'; }));
}

// A DSP that plays every frame twice: the plug-in must leave room for the
// doubled block and write what the DSP returns.
int doubleFrames(short* samples, int frames, int bps, int nch, int) {
    const int frameBytes = nch * bps / 8;
    auto* bytes = reinterpret_cast<unsigned char*>(samples);
    for (int f = frames - 1; f >= 0; --f) {
        std::memmove(bytes + (2 * f + 1) * frameBytes, bytes + f * frameBytes, frameBytes);
        std::memmove(bytes + 2 * f * frameBytes, bytes + f * frameBytes, frameBytes);
    }
    return frames * 2;
}

TEST_F(Controls, TheDspProcessesEveryBlockAndTheVisualisationIsFedWhenInstalled) {
    LoadedPlugin plugin("in_wave.dll", true);
    ASSERT_TRUE(plugin.get()) << plugin.error();
    const std::string wav =
        sox("d.wav", "-r 44100 -c 2 -b 16 -e signed-integer", "synth 0.3 sine 440 sine 550");
    const std::string raw = file("d.raw");
    ASSERT_TRUE(runQuiet("sox '" + wav + "' -t raw '" + raw + "'"));
    const auto original = readBytes(raw);
    resetHost(1);  // the ring fills slowly, so a block larger than the room is seen
    setDsp(doubleFrames);
    ASSERT_TRUE(playToEnd(plugin, wav));
    std::vector<std::uint8_t> expected;
    for (std::size_t f = 0; f + 4 <= original.size(); f += 4)
        for (int twice = 0; twice < 2; ++twice)
            expected.insert(expected.end(), original.begin() + static_cast<long>(f),
                            original.begin() + static_cast<long>(f) + 4);
    EXPECT_EQ(outputLog().heard, expected);
    EXPECT_EQ(outputLog().refusedWrites, 0);
    EXPECT_GE(visualisationCalls(), 2 * static_cast<int>(original.size() / 4 / 576));
}

}  // namespace
}  // namespace wtest
