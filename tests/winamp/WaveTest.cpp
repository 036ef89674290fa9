// in_wave: every sample format decodes to what sox makes of it, and files
// whose chunks lie are played as far as they hold or refused, never overrun.
#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "tests/support/BoundedCall.h"
#include "tests/winamp/PluginFixture.h"

namespace wtest {
namespace {

class WavePlugin : public PluginTest {
  protected:
    LoadedPlugin plugin{"in_wave.dll"};

    // A 0.4 s, 16-bit stereo tone and its sample bytes.
    std::string plainWav(const std::string& name) {
        return sox(name, "-r 44100 -c 2 -b 16 -e signed-integer",
                   "synth 0.4 sine 440 sine 660 vol 0.5");
    }
    static std::size_t dataChunkAt(const std::vector<std::uint8_t>& wav) {
        for (std::size_t i = 12; i + 8 <= wav.size(); ++i)
            if (std::memcmp(&wav[i], "data", 4) == 0) return i;
        return 0;
    }
    static std::vector<std::uint8_t> dataOf(const std::vector<std::uint8_t>& wav) {
        const std::size_t at = dataChunkAt(wav);
        return {wav.begin() + static_cast<long>(at) + 8, wav.end()};
    }
    static void put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
};

TEST_F(WavePlugin, EverySampleFormatDecodesToWhatSoxMakesOfIt) {
    ASSERT_TRUE(plugin.get()) << plugin.error();
    struct Case {
        const char* format;
        int channels, rate, outBits;
    };
    const Case cases[] = {
        {"-b 8 -e unsigned-integer", 1, 22050, 8}, {"-b 8 -e unsigned-integer", 2, 11025, 8},
        {"-b 16 -e signed-integer", 1, 8000, 16},  {"-b 16 -e signed-integer", 2, 44100, 16},
        {"-b 24 -e signed-integer", 2, 48000, 16}, {"-b 24 -e signed-integer", 1, 44100, 16},
        {"-b 32 -e signed-integer", 1, 44100, 16}, {"-b 32 -e signed-integer", 2, 32000, 16},
        {"-b 32 -e floating-point", 2, 96000, 16}, {"-b 32 -e floating-point", 1, 44100, 16},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.format) + " channels " + std::to_string(c.channels) + " rate " +
                     std::to_string(c.rate));
        resetHost();
        const std::string name = "f" + std::to_string(n++);
        const std::string tones = c.channels == 2 ? "sine 440 sine 660" : "sine 440";
        const std::string wav = sox(
            name + ".wav",
            "-r " + std::to_string(c.rate) + " -c " + std::to_string(c.channels) + " " + c.format,
            "synth 0.3 " + tones + " vol 0.7");
        ASSERT_FALSE(wav.empty());
        const std::string ref = file(name + ".raw");
        const std::string refFormat =
            c.outBits == 8 ? "-b 8 -e unsigned-integer" : "-b 16 -e signed-integer -L";
        ASSERT_TRUE(runQuiet("sox -D '" + wav + "' -t raw " + refFormat + " '" + ref + "'"));
        const auto expected = readBytes(ref);

        ASSERT_TRUE(playToEnd(plugin, wav));
        const OutputLog log = outputLog();
        EXPECT_EQ(log.rate, c.rate);
        EXPECT_EQ(log.channels, c.channels);
        EXPECT_EQ(log.bits, c.outBits);
        ASSERT_EQ(log.heard.size(), expected.size());
        if (c.outBits == 8) {
            EXPECT_EQ(log.heard, expected);
        } else {
            const auto got = toInt16(log.heard), want = toInt16(expected);
            int worst = 0;
            for (std::size_t i = 0; i < got.size(); ++i)
                worst = std::max(worst, std::abs(got[i] - want[i]));
            EXPECT_LE(worst, 1);  // rounding of the low bits may differ by one step
        }
        const int storedBits = std::atoi(c.format + 3);
        EXPECT_EQ(log.setInfo, (std::vector<int>{c.rate * c.channels * storedBits / 1000,
                                                 c.rate / 1000, c.channels, 1}));
    }
}

TEST_F(WavePlugin, ChunksThatLieArePlayedAsFarAsTheFileHolds) {
    ASSERT_TRUE(plugin.get()) << plugin.error();
    const auto original = readBytes(plainWav("plain.wav"));
    const std::size_t data = dataChunkAt(original);
    ASSERT_GT(data, 0u);
    const auto samples = dataOf(original);

    struct Case {
        const char* what;
        std::vector<std::uint8_t> (*make)(std::vector<std::uint8_t> wav, std::size_t data);
    };
    const Case cases[] = {
        {"data size beyond the file",
         [](std::vector<std::uint8_t> w, std::size_t d) {
             put32(w, d + 4, 0x7FFFFFF0u);
             return w;
         }},
        {"RIFF size zero",
         [](std::vector<std::uint8_t> w, std::size_t) {
             put32(w, 4, 0);
             return w;
         }},
        {"odd-sized chunk and its pad byte before the data",
         [](std::vector<std::uint8_t> w, std::size_t d) {
             const std::uint8_t odd[] = {'n', 'o', 't', 'e', 3, 0, 0, 0, 'a', 'b', 'c', 0};
             w.insert(w.begin() + static_cast<long>(d), std::begin(odd), std::end(odd));
             return w;
         }},
        {"a byte past the last whole frame",
         [](std::vector<std::uint8_t> w, std::size_t d) {
             w.push_back(0x55);
             put32(w, d + 4, static_cast<std::uint32_t>(w.size() - d - 8));
             return w;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        resetHost();
        std::string path = file("lying.wav");
        writeBytes(path, c.make(original, data));
        char title[2048];
        int length = 0;
        plugin->GetFileInfo(path.data(), title, &length);
        EXPECT_EQ(length, 400);
        ASSERT_TRUE(playToEnd(plugin, path));
        EXPECT_EQ(outputLog().heard, samples);
    }
}

TEST_F(WavePlugin, FilesThatCannotPlayAreRefusedWithoutOpeningTheOutput) {
    ASSERT_TRUE(plugin.get()) << plugin.error();
    const auto original = readBytes(plainWav("plain.wav"));
    const std::size_t data = dataChunkAt(original);
    struct Case {
        const char* what;
        std::vector<std::uint8_t> bytes;
    };
    std::vector<Case> cases;
    auto noFmt = original;
    std::memcpy(&noFmt[12], "fmx ", 4);
    cases.push_back({"no fmt chunk", noFmt});
    auto noData = original;
    std::memcpy(&noData[data], "dat_", 4);
    cases.push_back({"no data chunk", noData});
    auto hugeChunk = original;
    const std::uint8_t huge[] = {'b', 'i', 'g', ' ', 0xF0, 0xFF, 0xFF, 0x7F};
    hugeChunk.insert(hugeChunk.begin() + 12, std::begin(huge), std::end(huge));
    cases.push_back({"a chunk before fmt that runs past the file", hugeChunk});
    auto twelveBits = original;
    twelveBits[12 + 8 + 14] = 12;
    cases.push_back({"12-bit samples", twelveBits});
    auto compressed = original;
    compressed[12 + 8] = 2;
    cases.push_back({"a compressed format", compressed});
    auto fiveChannels = original;
    fiveChannels[12 + 8 + 2] = 5;
    cases.push_back({"five channels", fiveChannels});
    cases.push_back({"cut inside the header", {original.begin(), original.begin() + 30}});
    cases.push_back({"empty", {}});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        resetHost();
        std::string path = file("bad.wav");
        writeBytes(path, c.bytes);
        EXPECT_EQ(plugin->Play(path.data()), -1);
        plugin->Stop();
        EXPECT_EQ(outputLog().opens, 0);
    }
}

TEST_F(WavePlugin, ANamedPipeIsRefusedWithoutWaitingForAWriter) {
    ASSERT_TRUE(plugin.get()) << plugin.error();
    std::string pipe = file("pipe.wav");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    int result = 0;
    EXPECT_TRUE(ReturnsWithin(std::chrono::seconds(5), PipeRelease(pipe),
                              [&] { result = plugin->Play(pipe.data()); }));
    EXPECT_EQ(result, -1);
    int length = 0;
    char title[2048];
    EXPECT_TRUE(ReturnsWithin(std::chrono::seconds(5), PipeRelease(pipe),
                              [&] { plugin->GetFileInfo(pipe.data(), title, &length); }));
    EXPECT_EQ(length, -1);
}

}  // namespace
}  // namespace wtest
