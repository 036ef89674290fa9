// Real files made at test time by lame, sox, oggenc and ffmpeg, checked
// against what the encoders were told and the readers' formulas.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <memory>

#include "MPEGaudio.h"
#include "OggVorbis.h"
#include "TestFiles.h"
#include "WAVfile.h"
#include "WMAfile.h"

namespace {

class EncodedFiles : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = std::make_unique<TempDir>();
        const std::string wav = Q("tone.wav");
        ok_ = RunQuiet("sox -n -r 44100 -c 2 -b 16 " + wav + " synth 3 sine 440") &&
              RunQuiet("sox -n -r 22050 -c 1 -b 8 " + Q("mono8.wav") + " synth 2 sine 300") &&
              RunQuiet(
                  "lame --quiet -b 128 -m s --add-id3v2 --tt 'CBR Title' --ta 'CBR Artist' "
                  "--tl 'CBR Album' --ty 2007 --tc 'cbr comment' --tn 4/12 --tg Jazz " +
                  wav + " " + Q("cbr.mp3")) &&
              RunQuiet("lame --quiet -V 2 --tt 'VBR Title' " + wav + " " + Q("vbr.mp3")) &&
              RunQuiet("lame --quiet -b 64 -m m --resample 22.05 " + wav + " " + Q("mono.mp3")) &&
              RunQuiet(
                  "oggenc --quiet -q 3 -t 'Ogg Title' -a 'Ogg Artist' -l 'Ogg Album' -N 7 "
                  "-d 2010 -G Rock -c COMMENT=hello " +
                  wav + " -o " + Q("oggenc.ogg")) &&
              RunQuiet("ffmpeg -loglevel error -y -i " + wav +
                       " -c:a libvorbis -q:a 3 "
                       "-metadata title='FF Title' -metadata artist='FF Artist' "
                       "-metadata comment='ff comment' " +
                       Q("ffmpeg.ogg")) &&
              RunQuiet("ffmpeg -loglevel error -y -i " + wav +
                       " -c:a wmav2 -b:a 128k "
                       "-metadata title='WMA Title' -metadata artist='WMA Artist' "
                       "-metadata album='WMA Album' " +
                       Q("tags.wma"));
    }
    static void TearDownTestSuite() { dir_.reset(); }
    void SetUp() override { ASSERT_TRUE(ok_) << "an encoder (sox, lame, oggenc, ffmpeg) failed"; }

    static std::string P(const std::string& name) { return dir_->Path(name); }
    static std::string Q(const std::string& name) { return Quote(P(name)); }

    // The ID3v2 tag size from the file's first 10 bytes.
    static int64_t ID3v2Bytes(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        unsigned char h[10] = {};
        in.read(reinterpret_cast<char*>(h), 10);
        if (std::string(reinterpret_cast<char*>(h), 3) != "ID3") return 0;
        return (h[6] << 21) + (h[7] << 14) + (h[8] << 7) + h[9] + 10 + ((h[5] & 0x10) ? 10 : 0);
    }

    static std::unique_ptr<TempDir> dir_;
    static bool ok_;
};

std::unique_ptr<TempDir> EncodedFiles::dir_;
bool EncodedFiles::ok_ = false;

}  // namespace

TEST_F(EncodedFiles, LameConstantBitRateWithBothTags) {
    TMPEGaudio m;
    ASSERT_TRUE(m.LoadFromFile(P("cbr.mp3")));
    ASSERT_TRUE(m.IsValid());
    EXPECT_EQ(m.FileSize(), SizeOf(P("cbr.mp3")));
    EXPECT_EQ(m.BitRate(), 128);
    EXPECT_EQ(m.SampleRate(), 44100);
    EXPECT_EQ(m.ChannelModeName(), "Stereo");
    EXPECT_EQ(m.Frame().VersionIndex, MPEG_VERSION_1);
    EXPECT_EQ(m.Frame().LayerIndex, MPEG_LAYER_III);
    EXPECT_EQ(m.Frame().Length, m.Frame().Padded ? 418 : 417);
    EXPECT_FALSE(m.VBR().Present);  // the constant-rate "Info" header is not "Xing"
    EXPECT_EQ(m.ID3v2().TagSize(), ID3v2Bytes(P("cbr.mp3")));
    const double expected =
        (m.FileSize() - m.ID3v2().TagSize() - 128.0 - m.Frame().Position) / 128 / 1000 * 8;
    EXPECT_DOUBLE_EQ(m.Duration(), expected);
    EXPECT_NEAR(m.Duration(), 3.0, 0.1);

    const TID3v1& v1 = m.ID3v1();
    EXPECT_TRUE(v1.Present());
    EXPECT_EQ(v1.Version(), TID3v1::TAG_VERSION_1_1);
    EXPECT_EQ(v1.Title(), "CBR Title");
    EXPECT_EQ(v1.Artist(), "CBR Artist");
    EXPECT_EQ(v1.Album(), "CBR Album");
    EXPECT_EQ(v1.Year(), "2007");
    EXPECT_EQ(v1.Comment(), "cbr comment");
    EXPECT_EQ(v1.Track(), 4);
    EXPECT_EQ(v1.GenreName(), "Jazz");

    const TID3v2& v2 = m.ID3v2();
    EXPECT_TRUE(v2.Present());
    EXPECT_EQ(v2.Title(), "CBR Title");
    EXPECT_EQ(v2.Artist(), "CBR Artist");
    EXPECT_EQ(v2.Album(), "CBR Album");
    EXPECT_EQ(v2.Year(), "2007");
    EXPECT_EQ(v2.Comment(), "cbr comment");
    EXPECT_EQ(v2.Track(), 4);
    EXPECT_EQ(v2.TrackText(), "4/12");
    EXPECT_EQ(v2.Genre(), "Jazz");
}

TEST_F(EncodedFiles, LameVariableBitRateWithXing) {
    TMPEGaudio m;
    ASSERT_TRUE(m.LoadFromFile(P("vbr.mp3")));
    ASSERT_TRUE(m.IsValid());
    ASSERT_TRUE(m.VBR().Present);
    EXPECT_EQ(m.VBR().Signature, "Xing");
    EXPECT_EQ(m.VBR().EncoderText.substr(0, 4), "LAME");
    // 1152 samples a frame at 44100 Hz; lame adds a little delay and padding.
    EXPECT_DOUBLE_EQ(m.Duration(), 1152.0 * m.VBR().FrameCount / 44100);
    EXPECT_NEAR(m.Duration(), 3.0, 0.1);
    const double perFrame = static_cast<double>(m.VBR().ByteCount) / m.VBR().FrameCount;
    const int padding = m.Frame().Padded ? 1 : 0;
    EXPECT_EQ(m.BitRate(),
              static_cast<uint16_t>(std::nearbyint((perFrame - padding) * 44100 / 144 / 1000)));
    // The Xing byte count covers the audio frames, so it agrees with the file.
    EXPECT_NEAR(m.VBR().ByteCount,
                m.FileSize() - m.ID3v2().TagSize() - (m.ID3v1().Present() ? 128 : 0),
                m.Frame().Length + 1);
    EXPECT_EQ(m.ID3v2().Title(), "VBR Title");
}

TEST_F(EncodedFiles, LameMonoMpeg2) {
    TMPEGaudio m;
    ASSERT_TRUE(m.LoadFromFile(P("mono.mp3")));
    ASSERT_TRUE(m.IsValid());
    EXPECT_EQ(m.Frame().VersionIndex, MPEG_VERSION_2);
    EXPECT_EQ(m.SampleRate(), 22050);
    EXPECT_EQ(m.ChannelModeName(), "Mono");
    EXPECT_EQ(m.BitRate(), 64);
    EXPECT_NEAR(m.Duration(), 3.0, 0.15);
    EXPECT_FALSE(m.ID3v1().Present());
    EXPECT_FALSE(m.ID3v2().Present());
}

TEST_F(EncodedFiles, OggencVorbisWithComments) {
    TOggVorbis ogg;
    ASSERT_TRUE(ogg.LoadFromFile(P("oggenc.ogg")));
    ASSERT_TRUE(ogg.IsValid());
    EXPECT_EQ(ogg.FileSize(), SizeOf(P("oggenc.ogg")));
    EXPECT_EQ(ogg.Channels(), 2);
    EXPECT_EQ(ogg.SampleRate(), 44100);
    EXPECT_EQ(ogg.SampleCount(), 3 * 44100);  // the last granule position is the sample count
    EXPECT_DOUBLE_EQ(ogg.Duration(), 3.0);
    EXPECT_EQ(ogg.BitRate(), static_cast<uint16_t>(std::nearbyint(ogg.FileSize() / 3.0 / 125)));
    EXPECT_GT(ogg.NominalBitRate(), 0);
    EXPECT_EQ(ogg.Title(), "Ogg Title");
    EXPECT_EQ(ogg.Artist(), "Ogg Artist");
    EXPECT_EQ(ogg.Album(), "Ogg Album");
    EXPECT_EQ(ogg.Track(), 7);
    EXPECT_EQ(ogg.Date(), "2010");
    EXPECT_EQ(ogg.Genre(), "Rock");
    EXPECT_EQ(ogg.Comment(), "hello");
    EXPECT_NE(ogg.Vendor().find("libVorbis"), std::string::npos);
}

TEST_F(EncodedFiles, FfmpegVorbisWithComments) {
    TOggVorbis ogg;
    ASSERT_TRUE(ogg.LoadFromFile(P("ffmpeg.ogg")));
    ASSERT_TRUE(ogg.IsValid());
    EXPECT_EQ(ogg.SampleCount(), 3 * 44100);
    EXPECT_EQ(ogg.Title(), "FF Title");
    EXPECT_EQ(ogg.Artist(), "FF Artist");
    EXPECT_EQ(ogg.Comment(), "ff comment");
}

TEST_F(EncodedFiles, FfmpegWma) {
    TWMAfile wma;
    ASSERT_TRUE(wma.LoadFromFile(P("tags.wma")));
    ASSERT_TRUE(wma.Valid());
    EXPECT_EQ(wma.FileSize(), SizeOf(P("tags.wma")));
    EXPECT_EQ(wma.Channels(), 2);
    EXPECT_EQ(wma.SampleRate(), 44100);
    EXPECT_EQ(wma.BitRate(), 128);
    // The whole file over the maximum bit rate: a little more than the audio.
    EXPECT_GT(wma.Duration(), 2.9);
    EXPECT_LT(wma.Duration(), 3.8);
    EXPECT_EQ(wma.Title(), "WMA Title");
    EXPECT_EQ(wma.Artist(), "WMA Artist");
    EXPECT_EQ(wma.Album(), "WMA Album");
}

TEST_F(EncodedFiles, SoxWav) {
    TWAVfile wav;
    ASSERT_TRUE(wav.LoadFromFile(P("tone.wav")));
    ASSERT_TRUE(wav.Valid());
    EXPECT_EQ(wav.FileSize(), SizeOf(P("tone.wav")));
    EXPECT_EQ(wav.Channels(), 2);
    EXPECT_EQ(wav.SampleRate(), 44100);
    EXPECT_EQ(wav.BitsPerSample(), 16);
    EXPECT_DOUBLE_EQ(wav.Duration(), 3.0);
    ASSERT_TRUE(wav.LoadFromFile(P("mono8.wav")));
    ASSERT_TRUE(wav.Valid());
    EXPECT_EQ(wav.Channels(), 1);
    EXPECT_EQ(wav.BitsPerSample(), 8);
    EXPECT_DOUBLE_EQ(wav.Duration(), 2.0);
}

TEST_F(EncodedFiles, OneReaderObjectForManyFiles) {
    // The engine keeps one reader of each kind: nothing of a file may leak into the next.
    TMPEGaudio m;
    ASSERT_TRUE(m.LoadFromFile(P("cbr.mp3")));
    ASSERT_TRUE(m.LoadFromFile(P("mono.mp3")));
    EXPECT_FALSE(m.ID3v1().Present());
    EXPECT_EQ(m.ID3v2().Title(), "");
    EXPECT_FALSE(m.VBR().Present);
    TOggVorbis ogg;
    ASSERT_TRUE(ogg.LoadFromFile(P("oggenc.ogg")));
    ASSERT_TRUE(ogg.LoadFromFile(P("ffmpeg.ogg")));
    EXPECT_EQ(ogg.Album(), "");
    EXPECT_EQ(ogg.Genre(), "");
    // Readers given the wrong kind of file say so.
    TWMAfile wma;
    ASSERT_TRUE(wma.LoadFromFile(P("cbr.mp3")));
    EXPECT_FALSE(wma.Valid());
    TWAVfile wav;
    ASSERT_TRUE(wav.LoadFromFile(P("oggenc.ogg")));
    EXPECT_FALSE(wav.Valid());
    EXPECT_FALSE(ogg.LoadFromFile(P("tone.wav")));
    m.LoadFromFile(P("tone.wav"));
    EXPECT_FALSE(m.IsValid());
}
