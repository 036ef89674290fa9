// A DSP applied on the plug-in path with the real library, the real input
// plug-ins and the null output captured: what an input plug-in decodes passes
// the module (the test DSP quarters it), what the library decodes does not,
// and a stop takes effect at once.
#include <gtest/gtest.h>

#include <functional>

#include "DSPTestLibrary.h"
#include "PluginHost.h"
#include "tests/support/Capture.h"

using namespace dsphosttest;
using namespace enginetest;
using namespace std::chrono_literals;

namespace {

struct PathCase {
    const char* what;
    std::function<std::string()> file;
    bool throughPlugin;
};

// The 1 kHz tone's level over [from, to) seconds after the sound began.
double LevelAt(const bass_test::Capture& c, double from, double to) {
    size_t start = 0;
    while (start < c.frames() && std::abs(c.left[start]) < 30) ++start;
    const size_t a = start + size_t(from * c.rate), b = start + size_t(to * c.rate);
    return b <= c.frames() ? bass_test::toneLevel(c.left, a, b, c.rate, 1000) : 0.0;
}

TEST(DSPPlaybackTest, PlugInPathsPassTheModuleUntilItIsStopped) {
    const std::vector<PathCase> cases = {
        {"an MP3 through in_mp3", [] { return CbrMp3("dsp-tone.mp3", 2.4); }, true},
        {"a WAV through in_wave", [] { return ToneWav("dsp-tone.wav", 2.4); }, true},
        {"an Ogg file the library plays", [] { return OggFile("dsp-tone.ogg", 2.4); }, false},
    };
    TestDspLibrary dsp;
    ASSERT_TRUE(dsp.Ready());
    for (const PathCase& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string capture = TempDir() + "/dsp-capture-" + std::to_string(&c - &cases[0]);
        BoxRecorder boxes;
        auto player = plugintest::StartPlayer(capture + ".wav");
        LoadWinampPlugin("in_mp3.dll");
        LoadWinampPlugin("in_wave.dll");
        player->SetPluginFirst(true);
        dsp.Configure(1, 0, kSame);
        ASSERT_TRUE(player->LoadDSPPlugin(TestDspPath(), 0, 0));
        int ends = 0;
        player->OnPlayEnd = [&ends](TBASSPlayer*) { ++ends; };
        ASSERT_TRUE(player->OpenStream(c.file()));
        player->StartPlayback();
        PumpFor(900ms);
        player->UnloadDSPPlugin();
        const int callsAtStop = dsp.Now().calls;
        PumpFor(500ms);
        EXPECT_EQ(dsp.Now().calls, callsAtStop);  // no block enters after the stop
        EXPECT_EQ(callsAtStop > 0, c.throughPlugin) << callsAtStop;
        EXPECT_TRUE(PumpUntil([&] { return ends > 0; }, 6s));
        player.reset();  // the plug-ins go with it

        bass_test::Capture heard;
        ASSERT_TRUE(heard.load(capture + ".wav"));
        const double early = LevelAt(heard, 0.1, 0.4), late = LevelAt(heard, 1.9, 2.3);
        ASSERT_GT(late, 1000.0);
        EXPECT_NEAR(early / late, c.throughPlugin ? 0.25 : 1.0, 0.05) << early << " " << late;
    }
}

}  // namespace
