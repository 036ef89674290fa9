#include <gtest/gtest.h>

#include <filesystem>

#include "TestFiles.h"
#include "WAVfile.h"

namespace {

Bytes Header(uint32_t riffSize, uint16_t channels, uint32_t rate, uint16_t bits,
             const std::string& fmt = "fmt ", const std::string& wave = "WAVE") {
    ByteWriter w;
    w.Raw("RIFF").LE32(riffSize).Raw(wave).Raw(fmt).LE32(16).LE16(1).LE16(channels).LE32(rate);
    w.LE32(rate * channels * bits / 8).LE16(static_cast<uint16_t>(channels * bits / 8)).LE16(bits);
    w.Raw("data").LE32(riffSize - 36);
    return w.bytes();
}

}  // namespace

TEST(WAVfile, CanonicalHeader) {
    TempDir dir;
    TWAVfile wav;
    ASSERT_TRUE(wav.LoadFromFile(dir.Write("a.wav", Header(1764036, 2, 44100, 16))));
    EXPECT_TRUE(wav.Valid());
    EXPECT_EQ(wav.Channels(), 2);
    EXPECT_EQ(wav.SampleRate(), 44100);
    EXPECT_EQ(wav.BitsPerSample(), 16);
    EXPECT_EQ(wav.FileSize(), 1764044);  // from the RIFF size, not the file's
    EXPECT_DOUBLE_EQ(wav.Duration(), 10.0);

    ASSERT_TRUE(wav.LoadFromFile(dir.Write("b.wav", Header(600000000 - 8, 2, 44100, 16))));
    EXPECT_NEAR(wav.Duration(), (600000000.0 - 44) * 8 / 44100 / 16 / 2, 1e-9);  // about 3401.4 s
    ASSERT_TRUE(wav.LoadFromFile(dir.Write("m.wav", Header(8000 + 36, 1, 8000, 8))));
    EXPECT_DOUBLE_EQ(wav.Duration(), 1.0);
}

TEST(WAVfile, LowBitsKept) {
    TempDir dir;
    TWAVfile wav;
    ASSERT_TRUE(wav.LoadFromFile(dir.Write("h.wav", Header(96000 * 4 + 36, 2, 96000, 16))));
    EXPECT_EQ(wav.SampleRate(), 30464);
    EXPECT_DOUBLE_EQ(wav.Duration(), (96000.0 * 4 + 44 - 44) * 8 / 30464 / 16 / 2);
    ASSERT_TRUE(wav.LoadFromFile(dir.Write("w.wav", Header(1000, 1, 8000, 0x0118))));
    EXPECT_EQ(wav.BitsPerSample(), 0x18);
}

TEST(WAVfile, HeaderTest) {
    TempDir dir;
    TWAVfile wav;
    // Six channels, a LIST chunk before "fmt ", another form type: readable, not valid.
    ASSERT_TRUE(wav.LoadFromFile(dir.Write("6.wav", Header(1000, 6, 44100, 16))));
    EXPECT_FALSE(wav.Valid());
    EXPECT_EQ(wav.Channels(), 0);
    ASSERT_TRUE(wav.LoadFromFile(dir.Write("l.wav", Header(1000, 2, 44100, 16, "LIST"))));
    EXPECT_FALSE(wav.Valid());
    ASSERT_TRUE(wav.LoadFromFile(dir.Write("r.wav", Header(1000, 2, 44100, 16, "fmt ", "RMID"))));
    EXPECT_FALSE(wav.Valid());
    EXPECT_EQ(wav.Duration(), 0);
    // Zero sample rate or sample size: valid, but no duration.
    ASSERT_TRUE(wav.LoadFromFile(dir.Write("z.wav", Header(1000, 2, 0, 16))));
    EXPECT_TRUE(wav.Valid());
    EXPECT_EQ(wav.Duration(), 0);
    ASSERT_TRUE(wav.LoadFromFile(dir.Write("zb.wav", Header(1000, 2, 44100, 0))));
    EXPECT_EQ(wav.Duration(), 0);
}

TEST(WAVfile, ShortAndMissingFiles) {
    TempDir dir;
    TWAVfile wav;
    ASSERT_TRUE(wav.LoadFromFile(dir.Write("ok.wav", Header(1000, 2, 44100, 16))));
    Bytes header = Header(1000, 2, 44100, 16);
    header.pop_back();
    EXPECT_FALSE(wav.LoadFromFile(dir.Write("43.wav", header)));
    EXPECT_FALSE(wav.Valid());
    EXPECT_EQ(wav.SampleRate(), 0);
    EXPECT_FALSE(wav.LoadFromFile(dir.Path("missing.wav")));
    std::filesystem::create_directory(dir.Path("folder.wav"));
    EXPECT_FALSE(wav.LoadFromFile(dir.Path("folder.wav")));
}
