// The encoders on their own: a program of tones encoded as each output
// would (a new title at each piece), decoded again by ffmpeg: the same
// tones, each as long as it was (within 20 ms), nothing lost or added at a
// title change, and an Ogg stream's titles in its comment headers, one
// logical stream each.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "ToneProgram.h"
#include "app/onair/Encoder.h"
#include "app/onair/StreamOutput.h"
#include "tests/net/MountListener.h"
#include "tests/support/TempDir.h"

using namespace onair;
using namespace onair_test;

namespace {

std::vector<Piece> Pieces() {
    return {{0, 0.3, "", ""},
            {500, 1.2, "Zé", "Canção"},
            {0, 0.3, "Zé", "Canção"},
            {750, 0.8, "", "Só o título"},
            {0, 0.3, "", "Só o título"},
            {1000, 1.7, "Ünïcödé", "日本"}};
}

struct Encoded {
    std::string bytes;
    std::vector<std::string> titles;  // as retitled, in order
};

// The whole program, in blocks of the output's period, retitled where the
// piece's title changes.
Encoded EncodeAll(Format format, int kbps) {
    const ToneProgram program(Pieces());
    Encoded e;
    std::string error;
    auto encoder = Encoder::Create(format, kbps, ToneProgram::kRate, {}, error);
    EXPECT_TRUE(encoder) << error;
    if (!encoder) return e;
    const std::uint64_t total = std::uint64_t(5.0 * ToneProgram::kRate);
    std::vector<std::int16_t> block;
    Tags shown;
    for (std::uint64_t at = 0; at < total;) {
        const Piece& p = program.PieceAt(at);
        const Tags tags{p.artist, p.title};
        if (!(tags == shown)) {
            EXPECT_TRUE(encoder->Retitle(tags)) << encoder->Error();
            shown = tags;
            e.titles.push_back(SongText(tags));
        }
        const std::size_t n = std::size_t(std::min<std::uint64_t>(2205, total - at));
        block.resize(n * 2);
        for (std::size_t i = 0; i < n; ++i)
            block[2 * i] = block[2 * i + 1] = program.Sample(at + i);
        EXPECT_TRUE(encoder->Encode(block.data(), n)) << encoder->Error();
        e.bytes += encoder->Take();
        at += n;
    }
    EXPECT_TRUE(encoder->Finish()) << encoder->Error();
    e.bytes += encoder->Take();
    return e;
}

}  // namespace

TEST(Encoder, EachFormatKeepsTheTonesAndTheirLengths) {
    const struct {
        Format format;
        int kbps;
        const char* ext;
        const char* type;
    } cases[] = {
        {Format::Mp3, 128, "mp3", "audio/mpeg"},
        {Format::Vorbis, 96, "ogg", "application/ogg"},
        {Format::Opus, 64, "opus", "application/ogg"},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ext);
        std::string error;
        auto probe = Encoder::Create(c.format, c.kbps, 44100, {}, error);
        ASSERT_TRUE(probe) << error;
        EXPECT_STREQ(probe->ContentType(), c.type);
        EXPECT_EQ(probe->EncodedRate(), c.format == Format::Opus ? 48000 : 44100);

        const Encoded e = EncodeAll(c.format, c.kbps);
        const std::string file = dir.File(std::string("out.") + c.ext), wav = file + ".wav";
        std::ofstream(file, std::ios::binary) << e.bytes;
        ASSERT_TRUE(nettest::decodeToWav(file, wav));
        bass_test::Capture heard;
        ASSERT_TRUE(heard.load(wav));
        const auto runs = nettest::toneRuns(heard);
        const auto sent = ToneProgram(Pieces()).Sent(1);
        ASSERT_EQ(runs.size(), sent.size()) << nettest::describe(runs);
        for (size_t i = 0; i < runs.size(); ++i) {
            EXPECT_EQ(runs[i].freq, sent[i].freq) << i;
            EXPECT_NEAR(runs[i].seconds, sent[i].seconds, 0.020) << i;
            // Nothing lost or added before it, title changes included.
            EXPECT_NEAR(runs[i].start, sent[i].start, 0.060) << i;
        }
        EXPECT_NEAR(heard.seconds(heard.frames()), 5.0, 0.060);
        if (c.format == Format::Mp3) continue;
        // One logical stream per title, its title in its comments.
        nettest::OggTitles ogg;
        const auto titles = ogg.feed(e.bytes.data(), e.bytes.size());
        std::vector<std::string> expected = {""};  // the stream opened before any title
        expected.insert(expected.end(), e.titles.begin(), e.titles.end());
        EXPECT_EQ(titles, expected);
    }
}

TEST(Encoder, AnEncoderThatCannotOpenSaysWhy) {
    std::string error;
    // Vorbis takes no such rate for stereo at 44.1 kHz.
    EXPECT_FALSE(Encoder::Create(Format::Vorbis, 8, 44100, {}, error));
    EXPECT_NE(error.find("libvorbis"), std::string::npos) << error;
}
