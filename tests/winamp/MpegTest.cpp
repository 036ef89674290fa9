// in_mp3: what lame encodes comes back sample for sample in length (no
// encoder delay or padding heard) with the right tone, and damaged files end
// cleanly with the end message.
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

#include "tests/winamp/PluginFixture.h"

namespace wtest {
namespace {

class MpegPlugin : public PluginTest {
  protected:
    LoadedPlugin plugin{"in_mp3.dll"};

    // A lame-encoded tone of exactly frames frames; empty when an encoder failed.
    std::string toneMp3(const std::string& name, long frames, int rate, int channels,
                        const std::string& lameOptions) {
        // The rate goes on the input too, so that the samples are counted at it.
        const std::string r = "-r " + std::to_string(rate);
        const std::string wav = file(name + ".wav");
        const std::string mp3 = file(name + ".mp3");
        if (!runQuiet("sox " + r + " -n " + r + " -c " + std::to_string(channels) +
                      " -b 16 -e signed-integer '" + wav + "' synth " + std::to_string(frames) +
                      "s sine 440 vol 0.5") ||
            !runQuiet("lame --quiet " + lameOptions + " '" + wav + "' '" + mp3 + "'"))
            return {};
        return mp3;
    }
};

// Counts the opens of one file (inotify), from construction on. Two opens in
// a row with nothing read between would be told as one: read between them.
class OpenCounter {
  public:
    explicit OpenCounter(const std::string& path) : fd_(inotify_init1(IN_NONBLOCK)) {
        if (fd_ >= 0) inotify_add_watch(fd_, path.c_str(), IN_OPEN);
    }
    ~OpenCounter() {
        if (fd_ >= 0) close(fd_);
    }
    int Opens() {
        alignas(inotify_event) char buffer[4096];
        for (ssize_t n; (n = read(fd_, buffer, sizeof buffer)) > 0;)
            for (char* at = buffer; at < buffer + n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(at);
                if (e->mask & IN_OPEN) ++opens_;
                at += sizeof(inotify_event) + e->len;
            }
        return opens_;
    }

  private:
    int fd_;
    int opens_ = 0;
};

TEST_F(MpegPlugin, LameEncodedTonesPlayExactlyTheirSamples) {
    ASSERT_TRUE(plugin.get()) << plugin.error();
    struct Case {
        long frames;
        int rate, channels;
        const char* lame;
    };
    const Case cases[] = {
        {56445, 44100, 2, "-b 128"},
        {33333, 22050, 1, "-b 64 -m m"},
        {70001, 48000, 2, "-V 2"},
        // Large enough to be indexed once the output is ahead, not at the open.
        {44100 * 25 + 7, 44100, 2, "-b 128"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.lame) + " at " + std::to_string(c.rate));
        resetHost();
        const std::string mp3 =
            toneMp3("tone" + std::to_string(c.frames), c.frames, c.rate, c.channels, c.lame);
        ASSERT_FALSE(mp3.empty());
        ASSERT_TRUE(playToEnd(plugin, mp3));
        const OutputLog log = outputLog();
        EXPECT_EQ(log.rate, c.rate);
        EXPECT_EQ(log.channels, c.channels);
        EXPECT_EQ(log.bits, 16);
        const auto pcm = toInt16(log.heard);
        EXPECT_EQ(static_cast<long>(pcm.size()) / c.channels, c.frames);
        const auto middle = channel(pcm, c.channels, 0, c.frames / 4, c.frames / 2);
        EXPECT_NEAR(crossingFrequency(middle, c.rate), 440.0, 2.0);
        EXPECT_NEAR(rms(middle), 0.5 / std::sqrt(2.0), 0.03);
        ASSERT_EQ(log.setInfo.size(), 4u);
        EXPECT_EQ(log.setInfo[1], c.rate / 1000);
        EXPECT_EQ(log.setInfo[2], c.channels);
        EXPECT_GT(log.setInfo[0], 0);
    }
}

TEST_F(MpegPlugin, LayerTwoPlaysItsTone) {
    ASSERT_TRUE(plugin.get()) << plugin.error();
    const std::string wav =
        sox("two.wav", "-r 44100 -c 2 -b 16 -e signed-integer", "synth 1 sine 1000 vol 0.5");
    const std::string mp2 = file("two.mp2");
    ASSERT_TRUE(runQuiet("ffmpeg -hide_banner -loglevel error -y -i '" + wav +
                         "' -c:a mp2 -b:a 192k '" + mp2 + "'"));
    ASSERT_TRUE(playToEnd(plugin, mp2));
    const auto pcm = toInt16(outputLog().heard);
    EXPECT_NEAR(pcm.size() / 2.0, 44100.0, 44100 * 0.05);
    EXPECT_NEAR(crossingFrequency(channel(pcm, 2, 1, 11025, 22050), 44100), 1000.0, 3.0);
}

TEST_F(MpegPlugin, DamagedFilesEndCleanlyWithTheEndMessage) {
    ASSERT_TRUE(plugin.get()) << plugin.error();
    const std::string good = toneMp3("good", 88200, 44100, 2, "-b 128");
    ASSERT_FALSE(good.empty());
    const auto bytes = readBytes(good);
    std::uint32_t seed = 12345;
    auto noise = [&seed](std::size_t n) {
        std::vector<std::uint8_t> out(n);
        for (auto& b : out)
            b = static_cast<std::uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24);
        return out;
    };
    struct Case {
        const char* what;
        std::vector<std::uint8_t> bytes;
        double minSeconds, maxSeconds;  // what may be heard
    };
    std::vector<Case> cases;
    cases.push_back({"noise only", noise(40000), 0, 2.1});
    cases.push_back({"cut in the middle of a frame",
                     {bytes.begin(), bytes.begin() + static_cast<long>(bytes.size() * 6 / 10 + 77)},
                     1.0,
                     1.4});
    auto holed = bytes;
    const auto hole = noise(3000);
    std::copy(hole.begin(), hole.end(), holed.begin() + static_cast<long>(holed.size() / 2));
    cases.push_back({"noise over a stretch in the middle", holed, 1.6, 2.1});
    auto zeroed = bytes;
    std::fill(zeroed.begin() + static_cast<long>(zeroed.size() / 3), zeroed.end(), 0);
    cases.push_back({"zeros from a third on", zeroed, 0.5, 0.8});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        resetHost();
        std::string path = file("damaged.mp3");
        writeBytes(path, c.bytes);
        ASSERT_EQ(plugin->Play(path.data()), 0);
        EXPECT_TRUE(waitForEnd(std::chrono::seconds(20)));
        plugin->Stop();
        const OutputLog log = outputLog();
        const double seconds = log.heard.size() / 4.0 / 44100.0;
        EXPECT_GE(seconds, c.minSeconds);
        EXPECT_LE(seconds, c.maxSeconds);
        EXPECT_EQ(log.closes, 1);
    }
}

TEST_F(MpegPlugin, FramesOfAnotherFormatAreSkippedNotPlayedAsTheFirst) {
    ASSERT_TRUE(plugin.get()) << plugin.error();
    // A stereo file with a mono file of another rate joined to its end.
    const std::string stereo =
        sox("s.wav", "-r 44100 -c 2 -b 16 -e signed-integer", "synth 1 sine 440 sine 660 vol 0.5");
    const std::string mono =
        sox("m.wav", "-r 22050 -c 1 -b 16 -e signed-integer", "synth 1 sine 1000 vol 0.5");
    const std::string joined = file("joined.mp3");
    ASSERT_TRUE(runQuiet("lame --quiet -b 128 '" + stereo + "' '" + file("s.mp3") + "'"));
    ASSERT_TRUE(runQuiet("lame --quiet -b 64 '" + mono + "' '" + file("m.mp3") + "'"));
    auto bytes = readBytes(file("s.mp3"));
    const auto tail = readBytes(file("m.mp3"));
    bytes.insert(bytes.end(), tail.begin(), tail.end());
    writeBytes(joined, bytes);
    ASSERT_TRUE(playToEnd(plugin, joined));
    const auto pcm = toInt16(outputLog().heard);
    EXPECT_NEAR(pcm.size() / 2 / 44100.0, 1.0, 0.05);
    // Played as stereo throughout: the last quarter still has each tone on its channel.
    const std::size_t frames = pcm.size() / 2;
    EXPECT_NEAR(crossingFrequency(channel(pcm, 2, 0, frames * 3 / 4, frames / 5), 44100), 440, 3);
    EXPECT_NEAR(crossingFrequency(channel(pcm, 2, 1, frames * 3 / 4, frames / 5), 44100), 660, 3);
}

// The host asks about a file just before it plays it: the file is opened
// once for both. A file replaced or removed in between is not taken for the
// one asked about.
TEST_F(MpegPlugin, AFileAskedAboutThenPlayedIsOpenedOnce) {
    ASSERT_TRUE(plugin.get()) << plugin.error();
    const std::string low = toneMp3("low", 44100, 44100, 2, "-b 128");
    const std::string high = file("high.mp3");
    ASSERT_TRUE(runQuiet("sox -n -r 44100 -c 2 -b 16 '" + file("high.wav") +
                         "' synth 1 sine 880 vol 0.5 && lame --quiet -b 128 '" + file("high.wav") +
                         "' '" + high + "'"));
    std::string path = file("played.mp3");
    char title[2048] = {};  // at least the interface's title buffer
    int length = 0;
    for (const std::string change : {"none", "replaced", "removed"}) {
        SCOPED_TRACE(change);
        resetHost();
        writeBytes(path, readBytes(low));
        OpenCounter counter(path);
        plugin->GetFileInfo(path.data(), title, &length);
        EXPECT_NEAR(length, 1000, 30);
        EXPECT_EQ(counter.Opens(), 1);
        if (change == "replaced") {
            writeBytes(path + ".new", readBytes(high));
            ASSERT_EQ(std::rename((path + ".new").c_str(), path.c_str()), 0);
        }
        if (change == "removed") {
            std::remove(path.c_str());
            EXPECT_EQ(plugin->Play(path.data()), -1);
            continue;
        }
        ASSERT_TRUE(playToEnd(plugin, path));
        if (change == "none") {
            EXPECT_EQ(counter.Opens(), 1);
        }
        const auto pcm = toInt16(outputLog().heard);
        ASSERT_EQ(pcm.size(), 2u * 44100);
        const auto middle = channel(pcm, 2, 0, 11025, 22050);
        EXPECT_NEAR(crossingFrequency(middle, 44100), change == "none" ? 440 : 880, 3);
    }
}

TEST_F(MpegPlugin, AFileThatCannotBeOpenedIsRefused) {
    ASSERT_TRUE(plugin.get()) << plugin.error();
    std::string missing = file("missing.mp3");
    EXPECT_EQ(plugin->Play(missing.data()), -1);
    std::string folder = file("");
    EXPECT_EQ(plugin->Play(folder.data()), -1);
    EXPECT_EQ(outputLog().opens, 0);
}

}  // namespace
}  // namespace wtest
