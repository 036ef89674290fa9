// The outputs' kav.ini sections and the waits between an output's tries.
#include <gtest/gtest.h>

#include "app/onair/Backoff.h"
#include "app/onair/OnAirSettings.h"
#include "tests/support/TempDir.h"

using namespace onair;

TEST(OnAirSettings, ReadWrittenAndBroughtIntoRange) {
    TempDir dir;
    const std::string path = dir.File("kav.ini");
    TempDir::Write(path,
                   "[varios]\nvolume=200\n"
                   "[transmissao1]\nservidor= radio.example.org \nporta=8010\nponto=live\n"
                   "senha=s3gr3d0\nformato=OPUS\nkbps=100\nnome=Rádio Ção\npublico=1\n"
                   "[transmissao2]\nservidor=10.0.0.2\nativo=0\nporta=99999\nformato=wma\n"
                   "kbps=7\nutilizador=\n"
                   "[transmissao3]\nsenha=x\n");
    win::IniFile ini(path);
    const AllSettings all = ReadAll(ini);
    const OutputSettings& a = all[0];
    EXPECT_TRUE(a.On());
    EXPECT_EQ(a.server, "radio.example.org");
    EXPECT_EQ(a.port, 8010);
    EXPECT_EQ(a.mount, "/live");
    EXPECT_EQ(a.user, "source");
    EXPECT_EQ(a.password, "s3gr3d0");
    EXPECT_EQ(a.format, Format::Opus);
    EXPECT_EQ(a.kbps, 96);
    EXPECT_EQ(a.name, "Rádio Ção");
    EXPECT_TRUE(a.listed);
    const OutputSettings& b = all[1];
    EXPECT_FALSE(b.On()) << "ativo=0";
    EXPECT_EQ(b.port, 8000);
    EXPECT_EQ(b.format, Format::Mp3);
    EXPECT_EQ(b.kbps, 32);
    EXPECT_EQ(b.user, "source");
    EXPECT_FALSE(all[2].On()) << "no server: off";
    EXPECT_FALSE(all[3].On());
    EXPECT_TRUE(HoldsPassword(all));

    // Written back and read again, other sections kept.
    std::vector<win::IniValue> values;
    for (int n = 1; n <= kOutputs; ++n)
        for (auto& v : OutputValues(n, all[size_t(n - 1)])) values.push_back(v);
    ASSERT_TRUE(ini.WriteValues(values));
    EXPECT_EQ(ReadAll(ini), all);
    EXPECT_EQ(ini.ReadInteger("varios", "volume", 0), 200);
}

TEST(OnAirSettings, FormatsAndTheirBitRates) {
    const struct {
        const char* name;
        Format format;
        int asked, offered;
    } cases[] = {
        {"mp3", Format::Mp3, 128, 128},  {"MP3", Format::Mp3, 130, 128},
        {"ogg", Format::Vorbis, 32, 48}, {"vorbis", Format::Vorbis, 500, 320},
        {"opus", Format::Opus, 20, 16},  {"", Format::Mp3, 0, 32},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseFormat(c.name), c.format) << c.name;
        EXPECT_EQ(NearestBitRate(c.format, c.asked), c.offered) << c.name;
    }
    for (Format f : {Format::Mp3, Format::Vorbis, Format::Opus})
        EXPECT_EQ(ParseFormat(FormatName(f)), f);
}

// 1 s, then doubling up to 30 s, each within a fifth either way and never
// outside 1 to 30 s; a connection starts it over.
TEST(Backoff, DoublesUpToThirtySecondsWithJitter) {
    for (std::uint32_t seed = 1; seed <= 200; ++seed) {
        Backoff b(seed);
        const double bases[] = {1, 2, 4, 8, 16, 30, 30, 30};
        for (double base : bases) {
            const double wait = b.Next().count() / 1000.0;
            ASSERT_GE(wait, std::max(1.0, base * 0.8)) << "seed " << seed;
            ASSERT_LE(wait, std::min(30.0, base * 1.2)) << "seed " << seed;
        }
        const double longest = b.Longest().count() / 1000.0;
        ASSERT_GE(longest, 24.0);
        ASSERT_LE(longest, 30.0);
        b.Reset();
        ASSERT_LE(b.Next().count(), 1200);
    }
    // The jitter spreads the tries of outputs that failed together.
    Backoff one(1), two(2);
    one.Next();
    two.Next();
    EXPECT_NE(one.Next(), two.Next());
}
