// Debian's icecast2 on 127.0.0.1, an MP3 and an Ogg Vorbis mount fed by
// ffmpeg -re, titles changed through the admin interface: the program plays
// both mounts with their bit rates and every title, and when a source is
// killed (and later restarted) and when the server stops, the playlist moves
// on after at most 5 s of silence.
#include <gtest/gtest.h>

#include <algorithm>

#include "Icecast.h"
#include "KavProgram.h"

using namespace nettest;
using namespace std::chrono_literals;

namespace {

constexpr int kMp3Tone = 440, kOggTone = 660, kLastTone = 1320;

// The current stretch of sound is freq and has lasted at least seconds.
bool playing(const KavProgram& kav, int freq, double seconds) {
    const auto t = kav.tones();
    return !t.empty() && t.back().freq == freq && t.back().end - t.back().start >= seconds;
}

bool recorded(const KavProgram& kav, const std::string& part) {
    const auto records = kav.streamRecords();
    return std::any_of(records.begin(), records.end(),
                       [&](const std::string& r) { return r.find(part) != std::string::npos; });
}

// Sets a mount's title while the program plays it: the program tells its
// visualiser (the record an open sends is overwritten by the state record
// that follows, so titles are changed once the mount plays).
bool retitled(KavProgram& kav, Icecast& ice, const std::string& mount, const std::string& title,
              const std::string& kbps) {
    return ice.setTitle(mount, title) &&
           waitUntil(
               [&] { return recorded(kav, "kbps=" + kbps + " channels=2 ms=0 title=" + title); },
               15s);
}

}  // namespace

TEST(Icecast, TheProgramPlaysBothMountsWithTitlesAndMovesOnWhenASourceOrTheServerGoes) {
    Icecast ice;
    ASSERT_TRUE(ice.ok()) << ice.logs();
    ASSERT_TRUE(ice.startSource("/live.mp3", false, kMp3Tone, "")) << ice.logs();
    ASSERT_TRUE(ice.startSource("/live.ogg", true, kOggTone, "Ogg one")) << ice.logs();
    KavProgram kav;
    kav.playInOrder({ice.url("/live.mp3"), ice.url("/live.ogg"), ice.url("/live.mp3"),
                     toneWav(kav.file("last.wav"), 1, kLastTone)});
    kav.start();
    auto describeAll = [&] { return describe(kav.tones()) + "\n" + kav.errors() + ice.logs(); };

    // The MP3 mount, its title changed while it plays; then its source dies.
    ASSERT_TRUE(waitUntil([&] { return playing(kav, kMp3Tone, 2); }, 30s)) << describeAll();
    EXPECT_TRUE(retitled(kav, ice, "/live.mp3", "Mp3 one", "128")) << describeAll();
    EXPECT_TRUE(retitled(kav, ice, "/live.mp3", "Mp3 two", "128")) << describeAll();
    ice.killSource("/live.mp3");

    // The Ogg mount; the MP3 source comes back meanwhile; the Ogg one dies.
    ASSERT_TRUE(waitUntil([&] { return playing(kav, kOggTone, 2); }, 30s)) << describeAll();
    EXPECT_TRUE(retitled(kav, ice, "/live.ogg", "Ogg two", "96")) << describeAll();
    EXPECT_TRUE(retitled(kav, ice, "/live.ogg", "Ogg three", "96")) << describeAll();
    ASSERT_TRUE(ice.startSource("/live.mp3", false, kMp3Tone, "")) << ice.logs();
    ice.killSource("/live.ogg");

    // The restarted MP3 mount, then the server stops.
    // What the server sent ahead is played first.
    ASSERT_TRUE(waitUntil([&] { return playing(kav, kMp3Tone, 2); }, 30s)) << describeAll();
    EXPECT_TRUE(retitled(kav, ice, "/live.mp3", "Mp3 three", "128")) << describeAll();
    ice.stop();
    EXPECT_TRUE(waitUntil([&] { return playing(kav, kLastTone, 0.5); }, 30s)) << describeAll();
    EXPECT_EQ(kav.stop(), 0) << kav.errors();

    const auto tones = kav.tones();
    std::vector<int> order;
    for (const Heard& h : tones) order.push_back(h.freq);
    ASSERT_EQ(order,
              (std::vector<int>{KavProgram::kStartTone, kMp3Tone, kOggTone, kMp3Tone, kLastTone}))
        << describe(tones);
    for (size_t i = 2; i < tones.size(); ++i) {
        const double silence = tones[i].start - tones[i - 1].end;
        std::printf("[ timing   ] %d Hz to %d Hz: %.2f s of silence\n", tones[i - 1].freq,
                    tones[i].freq, silence);
        EXPECT_LE(silence, 5.0) << describe(tones);
    }
    EXPECT_EQ(kav.errors().find("Can't play"), std::string::npos) << kav.errors();
}
