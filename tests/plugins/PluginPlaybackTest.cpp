// Playing through input plug-ins with the real library, the real plug-ins
// loaded from a program directory and the null output captured: what is
// heard, when the end is reported, position, seek, pause and restart.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>

#include <atomic>
#include <fstream>
#include <thread>

#include "PluginHost.h"
#include "platform/bassbind/Dynamic_BASS.h"
#include "plugins/ioplug.h"
#include "tests/support/Capture.h"
#define KAV_WINAMP_HOST
#include "platform/winamp/In_Module.h"

using namespace enginetest;
using namespace plugintest;
using namespace std::chrono_literals;
using bass_test::Capture;
using bass_test::checkCounted;
using bass_test::countedSample;
using bass_test::Segment;

namespace {

constexpr int kLoud = 1000;
constexpr size_t kGap = 441;  // 10 ms of silence separates two sounds
constexpr double kRate = 44100.0;

double Ms(size_t frames) {
    return frames * 1000.0 / kRate;
}

// "<frequency> <frames>": a file of the SDK-style test plug-in.
std::string ToneFile(const std::string& name, int hz, long frames) {
    const std::string path = TempDir() + "/" + name;
    std::ofstream(path) << hz << " " << frames << "\n";
    return path;
}

class PluginPlaybackTest : public ::testing::Test {
  protected:
    void Start(const std::string& name) {
        capture = TempDir() + "/capture-" + name + ".wav";
        player = StartPlayer(capture);
        ASSERT_TRUE(player->PlayerReady());
        // As the program starts up.
        LoadWinampPlugin("in_mp3.dll");
        LoadWinampPlugin("in_wave.dll");
        player->SetPluginFirst(true);
        player->OnPlayEnd = [this](TBASSPlayer*) {
            ++playEnds;
            onGui &= QThread::currentThread() == QCoreApplication::instance()->thread();
            Capture c;
            framesAtEnd = c.load(capture) ? c.frames() : 0;
        };
    }
    void TearDown() override { player.reset(); }

    Capture Heard() const {
        Capture c;
        EXPECT_TRUE(c.load(capture));
        return c;
    }

    // The loud stretches captured so far.
    std::vector<Segment> Sounds() const { return bass_test::segments(Heard().left, kLoud, kGap); }

    // Plays path to its end; false when it does not end in time.
    bool PlayToEnd(const std::string& path, std::chrono::milliseconds limit = 10s) {
        if (!player->OpenStream(path)) return false;
        player->StartPlayback();
        return PumpUntil([&] { return playEnds > 0; }, limit);
    }

    BoxRecorder boxes;
    std::string capture;
    std::unique_ptr<TBASSPlayer> player;
    int playEnds = 0;
    bool onGui = true;
    size_t framesAtEnd = 0;
};

}  // namespace

// Each file through its plug-in: the tone, its length, and one end reported
// on the GUI thread once all of it has been heard, however short the file. The SDK-style plug-in is
// played twice: posting its end after IsPlaying turned 0, and at once when
// its decoding ends (the engine still lets the ring drain).
TEST_F(PluginPlaybackTest, FilesPlayThroughTheirPlugins) {
    struct Case {
        const char* name;
        std::string file;
        const char* plugin;
        double ms;
    };
    Start("files");
    ASSERT_EQ(LoadWinampPlugin("test_tone.dll"), PLUGIN_OK);
    const Case cases[] = {
        {"wav", ToneWav("pp-tone.wav", 2.0), "in_wave.dll", 2000},
        {"mp3", CbrMp3("pp-tone.mp3", 2.0), "in_mp3.dll", 2000},
        {"sdk", ToneFile("pp-tone.ton", 1000, 66150), "test_tone.dll", 1500},
        // Shorter than the 400 ms the output waits for, and than the 200 ms
        // the start waits for.
        {"short wav", ToneWav("pp-short.wav", 0.3), "in_wave.dll", 300},
        {"very short wav", ToneWav("pp-vshort.wav", 0.1), "in_wave.dll", 100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        playEnds = 0;
        const size_t before = Heard().frames();
        ASSERT_TRUE(player->OpenStream(c.file));
        EXPECT_EQ(player->ChannelKind(), CHANNEL_PLUGIN);
        EXPECT_EQ(player->PluginIndex(), GetPluginIndex(c.plugin));
        player->StartPlayback();
        ASSERT_EQ(player->PlayState(), PLAYSTATE_PLAYING);
        ASSERT_TRUE(PumpUntil([&] { return playEnds > 0; }, 10s));
        PumpFor(300ms);
        EXPECT_EQ(playEnds, 1);
        EXPECT_TRUE(onGui);
        EXPECT_EQ(player->PlayState(), PLAYSTATE_STOPPED);
        const Capture heard = Heard();
        std::vector<Segment> sounds;
        for (const Segment& s : bass_test::segments(heard.left, kLoud, kGap))
            if (s.begin >= before) sounds.push_back(s);
        ASSERT_EQ(sounds.size(), 1u);
        EXPECT_NEAR(Ms(sounds[0].length()), c.ms, 50);
        EXPECT_NEAR(bass_test::toneFrequency(heard.left, sounds[0].begin, sounds[0].end, 44100),
                    1000, 10);
        EXPECT_GE(framesAtEnd, sounds[0].end);  // the end came after the last sample
    }
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(PluginPlaybackTest, EndPostedBeforeTheRingDrainedStillHeardWhole) {
    Start("early");
    ASSERT_EQ(LoadWinampPlugin("test_tone_early_eof.dll"), PLUGIN_OK);
    ASSERT_TRUE(PlayToEnd(ToneFile("pp-early.ton", 1000, 44100)));
    PumpFor(300ms);
    EXPECT_EQ(playEnds, 1);
    const auto sounds = Sounds();
    ASSERT_EQ(sounds.size(), 1u);
    EXPECT_NEAR(Ms(sounds[0].length()), 1000, 50);
    EXPECT_GE(framesAtEnd, sounds[0].end);
}

// Writes frames of the counted sequence through the output module as a
// plug-in does (blocks of uneven sizes, each once CanWrite has room for it),
// then asks IsPlaying until the end has been heard. False when that takes
// longer than limit.
bool WriteCounted(Out_Module* out, size_t frames, std::chrono::seconds limit) {
    static const size_t kBlocks[] = {576, 1, 1152, 37, 2000, 576, 4410};
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::vector<int16_t> block;
    size_t done = 0;
    for (size_t k = 0; done < frames;) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        const size_t n = std::min(kBlocks[k % std::size(kBlocks)], frames - done);
        if (out->CanWrite() < static_cast<int>(n * 4)) {
            std::this_thread::sleep_for(2ms);
            continue;
        }
        block.clear();
        for (size_t i = done; i < done + n; ++i) {
            block.push_back(countedSample(i));
            block.push_back(static_cast<int16_t>(-countedSample(i)));
        }
        if (out->Write(reinterpret_cast<char*>(block.data()), static_cast<int>(n * 4)) != 0)
            return false;
        done += n;
        ++k;
    }
    while (out->IsPlaying()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// Every frame written to the output module is heard once and in order, and
// the end drains it whole, whether the output keeps real time or runs ahead
// of it and waits for the plug-in.
TEST_F(PluginPlaybackTest, EveryWrittenFrameIsHeardOnceInOrder) {
    struct Case {
        const char* name;
        bool paced;
        size_t frames;
    };
    for (const Case& c : {Case{"paced", true, 44100}, Case{"unpaced", false, 3 * 44100}}) {
        SCOPED_TRACE(c.name);
        if (!c.paced) ::setenv("KAV_NULL_PACE", "0", 1);
        Start(std::string("counted-") + c.name);
        ::unsetenv("KAV_NULL_PACE");
        // The engine is not told: no plug-in of its own plays.
        const win::HWND quiet = win::CreateMessageWindow([](const win::Message&) { return 0; });
        ioplug::SetNotifyWindow(quiet);
        auto* out = static_cast<Out_Module*>(ioplug::OutModule());
        ASSERT_EQ(out->Open(44100, 2, 16, -1, -1), 0);
        out->SetVolume(255);
        std::atomic<int> result{-1};
        std::thread writer([&] { result = WriteCounted(out, c.frames, 15s) ? 1 : 0; });
        EXPECT_TRUE(PumpUntil([&] { return result.load() >= 0; }, 20s));
        writer.join();
        EXPECT_EQ(result.load(), 1) << "not heard to its end in time";
        out->Close();
        player.reset();
        win::DestroyMessageWindow(quiet);

        EXPECT_EQ(checkCounted(Heard(), c.frames), "");
    }
}

// A plug-in that writes a little slower than its blocks play is heard whole
// on an output that runs as fast as it is fed: the output waits for it rather
// than ending the stream, so the tone is captured whole and in one piece.
TEST_F(PluginPlaybackTest, SlowWriterIsHeardToItsEnd) {
    constexpr long kFrames = 35280;  // 800 ms
    ::setenv("KAV_NULL_PACE", "0", 1);
    Start("slow");
    ::unsetenv("KAV_NULL_PACE");
    ASSERT_EQ(LoadWinampPlugin("test_tone_slow.dll"), PLUGIN_OK);
    ASSERT_TRUE(PlayToEnd(ToneFile("pp-slow.ton", 1000, kFrames)));
    const auto sounds = Sounds();
    ASSERT_EQ(sounds.size(), 1u);
    EXPECT_NEAR(static_cast<double>(sounds[0].length()), kFrames, 44.1);  // 1 ms
    EXPECT_GE(framesAtEnd, sounds[0].end);
}

// PositionMs follows what is heard; StreamInfo takes the start's Hz, then
// what the plug-in's SetInfo reports.
TEST_F(PluginPlaybackTest, PositionAndStreamInfoWhilePlaying) {
    Start("position");
    std::vector<TChannelInfo> starts, infos;
    player->OnPluginStartPlay = [&](TBASSPlayer*, PChannelInfo i) { starts.push_back(*i); };
    player->OnGetChannelInfo = [&](TBASSPlayer*, PChannelInfo i) { infos.push_back(*i); };
    ASSERT_TRUE(player->OpenStream(CbrMp3("pp-pos.mp3", 3.0)));
    EXPECT_EQ(player->PositionMs(), 0u);  // ready: 0
    player->StartPlayback();
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].SampleRate, 44100);
    EXPECT_EQ(starts[0].Channels, 2);
    EXPECT_EQ(starts[0].BitsPerSample, 16);
    ASSERT_FALSE(infos.empty());
    EXPECT_EQ(infos.back().BitRate, 128);
    EXPECT_EQ(player->StreamInfo().BitRate, 128);
    ASSERT_TRUE(PumpUntil([&] { return player->PositionMs() >= 1200; }, 5s));
    const uint32_t position = player->PositionMs();
    const Capture heard = Heard();
    const auto sounds = bass_test::segments(heard.left, kLoud, kGap);
    ASSERT_FALSE(sounds.empty());
    EXPECT_NEAR(Ms(heard.frames() - sounds.back().begin), position, 50);
    EXPECT_EQ(player->StreamInfo().SampleRate, 44100);
    // A later SetInfo (kHz, as plug-ins give it) reaches StreamInfo.
    GetPlugin(player->PluginIndex())->SetInfo(-1, 48, -1, 0);
    ASSERT_TRUE(PumpUntil([&] { return player->StreamInfo().SampleRate == 48; }, 2s));
    player->StopPlayback();
}

// A seek into the last second of the file: exactly that second is heard
// after it.
// The sound after the seek may follow the sound before it without a break:
// the landing is found by its tone.
TEST_F(PluginPlaybackTest, SeekLandsWhereAsked) {
    Start("seek");
    // One second of one tone, one of silence, two of another.
    const std::string file = TempDir() + "/pp-seek.wav";
    const std::string silence = TempDir() + "/pp-silence.wav";
    ASSERT_TRUE(enginetest::Run("sox -n -r 44100 -c 2 -b 16 " + silence + " trim 0 1"));
    ASSERT_TRUE(enginetest::Run("sox " + ToneWav("pp-seek-a.wav", 1.0) + " " + silence + " " +
                                ToneWav("pp-seek-b.wav", 2.0, 2, 2500) + " " + file));
    ASSERT_TRUE(player->OpenStream(file));
    player->StartPlayback();
    ASSERT_TRUE(PumpUntil([&] { return player->PositionMs() >= 300; }, 5s));
    player->SetPositionMs(3000);
    EXPECT_FALSE(player->Busy());
    EXPECT_NEAR(player->PositionMs(), 3000, 250);
    ASSERT_TRUE(PumpUntil([&] { return playEnds > 0; }, 10s));
    const Capture heard = Heard();
    const auto sounds = Sounds();
    ASSERT_FALSE(sounds.empty());
    const size_t window = 441;
    size_t landing = sounds.front().begin;
    while (landing + window < sounds.back().end &&
           bass_test::toneFrequency(heard.left, landing, landing + window, 44100) < 2000)
        landing += window / 4;
    EXPECT_GT(Ms(landing - sounds.front().begin), 250) << "the first tone was cut short";
    EXPECT_NEAR(Ms(sounds.back().end - landing), 1000, 50);
}

// The plug-in's own pause holds the sound; resumed, the rest of the file
// follows with nothing lost or repeated.
TEST_F(PluginPlaybackTest, PauseAndResume) {
    Start("pause");
    ASSERT_TRUE(player->OpenStream(ToneWav("pp-pause.wav", 2.0)));
    player->StartPlayback();
    ASSERT_TRUE(PumpUntil([&] { return player->PositionMs() >= 600; }, 5s));
    In_Module* plugin = GetPlugin(player->PluginIndex());
    plugin->Pause();
    const uint32_t paused = player->PositionMs();
    PumpFor(600ms);
    EXPECT_NEAR(player->PositionMs(), paused, 30);
    plugin->UnPause();
    ASSERT_TRUE(PumpUntil([&] { return playEnds > 0; }, 10s));
    const auto sounds = Sounds();
    ASSERT_EQ(sounds.size(), 2u);
    EXPECT_NEAR(Ms(sounds[0].length() + sounds[1].length()), 2000, 50);
    EXPECT_GE(Ms(sounds[1].begin - sounds[0].end), 500);
}

// Stopped part-way, started again: from the beginning, and only the second
// play's end is reported.
TEST_F(PluginPlaybackTest, StopThenStartAgainFromTheBeginning) {
    Start("restart");
    ASSERT_TRUE(player->OpenStream(ToneWav("pp-restart.wav", 1.5)));
    player->StartPlayback();
    ASSERT_TRUE(PumpUntil([&] { return player->PositionMs() >= 500; }, 5s));
    player->StopPlayback();
    EXPECT_EQ(player->PlayState(), PLAYSTATE_STOPPED);
    PumpFor(300ms);
    EXPECT_EQ(playEnds, 0);
    player->StartPlayback();
    EXPECT_EQ(player->PlayState(), PLAYSTATE_PLAYING);
    ASSERT_TRUE(PumpUntil([&] { return playEnds > 0; }, 10s));
    PumpFor(300ms);
    EXPECT_EQ(playEnds, 1);
    const auto sounds = Sounds();
    ASSERT_EQ(sounds.size(), 2u);
    EXPECT_NEAR(Ms(sounds[1].length()), 1500, 50);
}

// Without PluginFirst a file both paths can play goes to the library.
TEST_F(PluginPlaybackTest, LibraryPlaysWhenThePluginIsNotFirst) {
    Start("library");
    player->SetPluginFirst(false);
    ASSERT_TRUE(player->OpenStream(ToneWav("pp-lib.wav", 0.5)));
    EXPECT_EQ(player->ChannelKind(), CHANNEL_STREAM);
}

// An MP3 of an exact number of samples is heard with that many: the
// encoder's delay and padding are not heard as silence or sound.
TEST_F(PluginPlaybackTest, Mp3IsHeardGapless) {
    Start("gapless");
    constexpr long kFrames = 50000;
    const std::string wav = TempDir() + "/pp-gapless.wav";
    const std::string mp3 = TempDir() + "/pp-gapless.mp3";
    ASSERT_TRUE(enginetest::Run("sox -r 44100 -n -r 44100 -c 2 -b 16 " + wav + " synth " +
                                std::to_string(kFrames) + "s sine 1000 vol 0.5"));
    ASSERT_TRUE(enginetest::Run("lame --quiet -b 192 " + wav + " " + mp3));
    ASSERT_TRUE(PlayToEnd(mp3));
    EXPECT_EQ(player->PluginIndex(), GetPluginIndex("in_mp3.dll"));
    const auto sounds = Sounds();
    ASSERT_EQ(sounds.size(), 1u);
    EXPECT_NEAR(static_cast<double>(sounds[0].length()), kFrames, 44.1);  // 1 ms
}

// While a start or a seek is under way the player is Busy: a second start or
// seek from a handler run inside the wait is ignored.
TEST_F(PluginPlaybackTest, BusyIgnoresReentryDuringTheStartWait) {
    Start("busy");
    ASSERT_TRUE(player->OpenStream(ToneWav("pp-busy.wav", 2.0)));
    int reentries = 0;
    bool busySeen = false;
    win::HWND probe = win::CreateMessageWindow([&](const win::Message&) {
        busySeen |= player->Busy();
        if (player->Busy()) {
            ++reentries;
            player->StartPlayback();
            player->SetPositionMs(1500);
        }
        return win::LRESULT{0};
    });
    win::PostMessage(probe, 2000);
    player->StartPlayback();  // the probe runs inside its wait
    EXPECT_TRUE(busySeen);
    EXPECT_EQ(reentries, 1);
    EXPECT_EQ(player->PlayState(), PLAYSTATE_PLAYING);
    EXPECT_LT(player->PositionMs(), 1000u);  // the seek inside the wait was ignored
    ASSERT_TRUE(PumpUntil([&] { return playEnds > 0; }, 10s));
    EXPECT_EQ(playEnds, 1);
    const auto sounds = Sounds();
    ASSERT_EQ(sounds.size(), 1u);
    EXPECT_NEAR(Ms(sounds[0].length()), 2000, 50);
    win::DestroyMessageWindow(probe);
}

// An end reported while the stream goes on playing (a plug-in that posts it
// too early and keeps writing) does not hold the player for longer than
// what the ring and the output hold plus 5 s.
TEST_F(PluginPlaybackTest, DrainAfterTheEndIsBounded) {
    Start("drain");
    ASSERT_TRUE(player->OpenStream(ToneWav("pp-long.wav", 30.0)));
    player->StartPlayback();
    ASSERT_EQ(player->PlayState(), PLAYSTATE_PLAYING);
    const auto posted = std::chrono::steady_clock::now();
    // As the emulator passes a plug-in's end on: with the stream it ended.
    win::PostMessage(player->MessageWindow(), WM_BP_PLUGINEOF, player->ChannelHandle());
    ASSERT_TRUE(PumpUntil([&] { return playEnds > 0; }, 20s));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - posted).count();
    EXPECT_GE(seconds, 5.0);  // it did wait for the stream
    EXPECT_LE(seconds, 0.5 + 1.0 + 5.0 + 1.0);
    EXPECT_EQ(player->PlayState(), PLAYSTATE_STOPPED);
}
