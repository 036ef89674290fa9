#include <gtest/gtest.h>

#include <cstring>

#include "MPEGaudio.h"
#include "TestFiles.h"

namespace {

// MPEG 1 layer III, 128 kbit/s, 44100 Hz, joint stereo: frames of 417 bytes.
const Bytes JointStereo128 = {0xFF, 0xFB, 0x90, 0x64};
const Bytes Stereo128 = {0xFF, 0xFB, 0x90, 0x04};
const Bytes Mono128 = {0xFF, 0xFB, 0x90, 0xC4};
// MPEG 1 layer III, 48000 Hz, stereo (bit-rate index 9: 128 kbit/s, 384 bytes).
const Bytes Stereo48k = {0xFF, 0xFB, 0x94, 0x04};
// MPEG 2 layer III, 64 kbit/s, 22050 Hz, mono: 72 * 64000 / 22050 = 208 bytes.
const Bytes Mpeg2Mono = {0xFF, 0xF3, 0x80, 0xC4};

Bytes Frame(const Bytes& header, size_t length) {
    Bytes frame(length, 0);
    std::memcpy(frame.data(), header.data(), 4);
    return frame;
}

// count frames of the header's length, one after another.
Bytes Frames(const Bytes& header, size_t length, int count) {
    ByteWriter w;
    for (int i = 0; i < count; ++i) w.Raw(Frame(header, length));
    return w.bytes();
}

// A first frame carrying a VBR header at the given offset.
Bytes VBRFrame(const Bytes& header, size_t length, size_t offset, const std::string& signature,
               uint32_t frames, uint32_t bytes) {
    Bytes frame = Frame(header, length);
    ByteWriter w;
    if (signature == "Xing") {
        w.Raw("Xing").BE32(0x0F).BE32(frames).BE32(bytes);
        Bytes& f = frame;
        std::memcpy(f.data() + offset, w.bytes().data(), w.size());
        f[offset + 119] = 57;
        std::memcpy(f.data() + offset + 120, "LAME3.99", 8);
    } else {
        w.Raw("VBRI").LE16(0x0100).LE16(0x0100).U8(0).U8(77).BE32(bytes).BE32(frames);
        std::memcpy(frame.data() + offset, w.bytes().data(), w.size());
    }
    return frame;
}

Bytes ID3v2Tag(size_t total) {
    ByteWriter w;
    const uint32_t size = static_cast<uint32_t>(total - 10);
    w.Raw("ID3").U8(3).U8(0).U8(0);
    w.U8((size >> 21) & 0x7F).U8((size >> 14) & 0x7F).U8((size >> 7) & 0x7F).U8(size & 0x7F);
    w.Raw("TIT2").BE32(6).U8(0).U8(0).U8(0).Raw("Title");
    w.Fill(total - w.size());
    return w.bytes();
}

Bytes ID3v1Tag() {
    Bytes tag(128, 0);
    std::memcpy(tag.data(), "TAGOld Title", 12);
    tag[127] = 8;
    return tag;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

void ExpectCleared(const TMPEGaudio& m) {
    EXPECT_FALSE(m.Frame().Present);
    EXPECT_EQ(m.Frame().VersionIndex, MPEG_VERSION_UNKNOWN);
    EXPECT_EQ(m.Frame().SampleRateIndex, 3);
    EXPECT_EQ(m.Frame().ModeIndex, 4);
    EXPECT_EQ(m.ChannelModeName(), "Unknown");
    EXPECT_EQ(m.FileSize(), 0);
    EXPECT_FALSE(m.ID3v1().Present());
    EXPECT_FALSE(m.ID3v2().Present());
    EXPECT_FALSE(m.IsValid());
    EXPECT_EQ(m.Duration(), 0);
}

}  // namespace

TEST(MPEGaudio, TwoFrameAcceptanceTest) {
    Bytes buffer(TMPEGaudio::SearchBufferSize, 0);
    // A lone header at 1 with nothing 417 bytes later is passed over.
    std::memcpy(buffer.data() + 1, JointStereo128.data(), 4);
    std::memcpy(buffer.data() + 5, JointStereo128.data(), 4);
    std::memcpy(buffer.data() + 5 + 417, Mono128.data(), 4);  // any valid header will do
    FrameInfo f;
    VBRData v;
    TMPEGaudio::FindFrame(buffer.data(), f, v);
    ASSERT_TRUE(f.Present);
    EXPECT_EQ(f.Position, 5);
    EXPECT_EQ(f.Length, 417);
    EXPECT_EQ(f.VersionIndex, MPEG_VERSION_1);
    EXPECT_EQ(f.LayerIndex, MPEG_LAYER_III);
    EXPECT_EQ(f.ModeIndex, 1);
    EXPECT_EQ(f.ModeExtension, 2);
    EXPECT_TRUE(f.IsOriginal);
    EXPECT_FALSE(f.CRCProtected);
    EXPECT_TRUE(f.ZeroSideInfo);
    EXPECT_EQ(f.HeaderBytes, (std::array<uint8_t, 4>{0xFF, 0xFB, 0x90, 0x64}));
    EXPECT_FALSE(v.Present);
}

TEST(MPEGaudio, HeaderTestRejects) {
    // Free format, bit-rate index 15, reserved version, reserved layer,
    // sample-rate index 3, emphasis 2: none is accepted even in a perfect pair.
    const Bytes rejected[] = {{0xFF, 0xFB, 0x00, 0x64}, {0xFF, 0xFB, 0xF0, 0x64},
                              {0xFF, 0xEB, 0x90, 0x64}, {0xFF, 0xF9, 0x90, 0x64},
                              {0xFF, 0xFB, 0x9C, 0x64}, {0xFF, 0xFB, 0x90, 0x66},
                              {0xFE, 0xFB, 0x90, 0x64}};
    for (const Bytes& header : rejected) {
        Bytes buffer(TMPEGaudio::SearchBufferSize, 0);
        for (size_t at = 0; at + 4 <= buffer.size(); at += 417)
            std::memcpy(buffer.data() + at, header.data(), 4);
        FrameInfo f;
        VBRData v;
        TMPEGaudio::FindFrame(buffer.data(), f, v);
        EXPECT_FALSE(f.Present) << std::hex << int(header[0]) << int(header[1]) << int(header[2])
                                << int(header[3]);
        EXPECT_EQ(f.Position, 0);
    }
}

TEST(MPEGaudio, SearchBounds) {
    FrameInfo f;
    VBRData v;
    // A pair starting at the last searched position is found.
    Bytes buffer(TMPEGaudio::SearchBufferSize, 0);
    Bytes shortFrame = {0xFF, 0xF3, 0x10, 0xC4};  // MPEG 2 layer III 8 kbit/s 22050 Hz: 26 bytes
    std::memcpy(buffer.data() + 1729, shortFrame.data(), 4);
    std::memcpy(buffer.data() + 1729 + 26, shortFrame.data(), 4);
    TMPEGaudio::FindFrame(buffer.data(), f, v);
    ASSERT_TRUE(f.Present);
    EXPECT_EQ(f.Position, 1729);
    EXPECT_EQ(f.Length, 26);
    // One position later is outside the search.
    Bytes later(TMPEGaudio::SearchBufferSize, 0);
    std::memcpy(later.data() + 1730, shortFrame.data(), 4);
    std::memcpy(later.data() + 1730 + 26, shortFrame.data(), 4);
    TMPEGaudio::FindFrame(later.data(), f, v);
    EXPECT_FALSE(f.Present);
    // A second header that would not lie wholly inside the buffer fails.
    Bytes edge(TMPEGaudio::SearchBufferSize, 0);
    Bytes layer2 = {0xFF, 0xFD, 0xE8, 0x04};  // MPEG 1 layer II 384 kbit/s 32000 Hz: 1728 bytes
    std::memcpy(edge.data() + 1727, layer2.data(), 4);
    std::memcpy(edge.data() + 1727 + 1728, layer2.data(), 3);  // only 3 bytes fit
    TMPEGaudio::FindFrame(edge.data(), f, v);
    EXPECT_FALSE(f.Present);
}

TEST(MPEGaudio, VBRHeadersAtTheirOffsets) {
    struct Case {
        Bytes header;
        size_t length, offset;
        const char* signature;
        bool found;
    } cases[] = {
        {Stereo128, 417, 36, "Xing", true}, {Stereo128, 417, 21, "Xing", false},
        {Mono128, 417, 21, "Xing", true},   {Mono128, 417, 36, "Xing", false},
        {Mpeg2Mono, 208, 13, "Xing", true}, {Mpeg2Mono, 208, 21, "Xing", false},
        {Stereo128, 417, 36, "VBRI", true}, {Stereo128, 417, 32, "VBRI", false},
    };
    TempDir dir;
    for (const Case& c : cases) {
        Bytes file = Concat({VBRFrame(c.header, c.length, c.offset, c.signature, 10000, 4170000),
                             Frames(c.header, c.length, 20)});
        TMPEGaudio m;
        ASSERT_TRUE(m.LoadFromFile(dir.Write("vbr.mp3", file)));
        SCOPED_TRACE(std::string(c.signature) + " at " + std::to_string(c.offset));
        EXPECT_EQ(m.VBR().Present, c.found);
        if (!c.found) continue;
        EXPECT_EQ(m.VBR().Signature, c.signature);
        EXPECT_EQ(m.VBR().FrameCount, 10000);
        EXPECT_EQ(m.VBR().ByteCount, 4170000);
        if (std::string(c.signature) == "Xing") {
            EXPECT_EQ(m.VBR().Quality, 57);
            EXPECT_EQ(m.VBR().EncoderText, "LAME3.99");
        } else {
            EXPECT_EQ(m.VBR().Quality, 77);
            EXPECT_EQ(m.VBR().EncoderText, "");
        }
    }
}

TEST(MPEGaudio, XingDurationAndBitRate) {
    TempDir dir;
    TMPEGaudio m;
    Bytes file =
        Concat({VBRFrame(Stereo128, 417, 36, "Xing", 10000, 4170000), Frames(Stereo128, 417, 10)});
    ASSERT_TRUE(m.LoadFromFile(dir.Write("x.mp3", file)));
    EXPECT_NEAR(m.Duration(), 144.0 * 10000 * 8 / 44100, 1e-9);  // about 261.2 s
    EXPECT_EQ(m.BitRate(), 128);  // 417 bytes a frame at 44100 Hz: 127.7 rounds to 128
    EXPECT_TRUE(m.IsValid());
}

TEST(MPEGaudio, VBRBitRateRoundsHalvesToEvenAndBoundsValidity) {
    TempDir dir;
    // At 48000 Hz a frame of b bytes is b / 3 kbit/s.
    struct Case {
        uint32_t frames, bytes;
        uint16_t bitRate;
        bool valid;
    } cases[] = {
        {2, 771, 128, false},  // 128.5 -> 128, but 2 frames play only 0.048 s
        {2, 777, 130, false},  // 129.5 -> 130
        {10000, 210000, 7, false},    {10000, 240000, 8, true},
        {10000, 13440000, 448, true}, {10000, 13470000, 449, false},
    };
    for (const Case& c : cases) {
        TMPEGaudio m;
        Bytes file = Concat(
            {VBRFrame(Stereo48k, 384, 36, "Xing", c.frames, c.bytes), Frames(Stereo48k, 384, 4)});
        ASSERT_TRUE(m.LoadFromFile(dir.Write("r.mp3", file)));
        EXPECT_EQ(m.BitRate(), c.bitRate) << c.bytes << "/" << c.frames;
        EXPECT_EQ(m.IsValid(), c.valid) << c.bytes << "/" << c.frames;
    }
}

TEST(MPEGaudio, ConstantBitRateDurationWithBothTags) {
    TempDir dir;
    Bytes tag = ID3v2Tag(1000);
    Bytes audio = Frames(JointStereo128, 417, 9590);  // 3,999,030 bytes
    audio.resize(4000000 - 1000 - 128, 0);
    Bytes file = Concat({tag, audio, ID3v1Tag()});
    ASSERT_EQ(file.size(), 4000000u);
    TMPEGaudio m;
    ASSERT_TRUE(m.LoadFromFile(dir.Write("cbr.mp3", file)));
    EXPECT_EQ(m.FileSize(), 4000000);
    EXPECT_EQ(m.ID3v2().TagSize(), 1000);
    EXPECT_EQ(m.ID3v2().Title(), "Title");
    EXPECT_TRUE(m.ID3v1().Present());
    EXPECT_EQ(m.ID3v1().Title(), "Old Title");
    EXPECT_EQ(m.Frame().Position, 0);
    EXPECT_NEAR(m.Duration(), (4000000.0 - 1000 - 128 - 0) / 128 / 1000 * 8, 1e-9);  // 249.93 s
    EXPECT_EQ(m.BitRate(), 128);
    EXPECT_EQ(m.SampleRate(), 44100);
    EXPECT_EQ(m.ChannelModeName(), "Joint Stereo");
    EXPECT_TRUE(m.IsValid());
}

TEST(MPEGaudio, SearchStartsAfterTheID3v2Tag) {
    TempDir dir;
    // Junk after a 4096-byte tag; the pair 9 bytes in sits at buffer position 9.
    Bytes file = Concat({ID3v2Tag(4096), Bytes(9, 0x11), Frames(Mpeg2Mono, 208, 40)});
    TMPEGaudio m;
    ASSERT_TRUE(m.LoadFromFile(dir.Write("t.mp3", file)));
    EXPECT_EQ(m.ID3v2().TagSize(), 4096);
    EXPECT_EQ(m.Frame().Position, 9);
    EXPECT_EQ(m.SampleRate(), 22050);
    EXPECT_EQ(m.ChannelModeName(), "Mono");
    EXPECT_NEAR(m.Duration(), (file.size() - 4096.0 - 9) / 64 / 1000 * 8, 1e-9);
    // Plain frames from the first byte, no tags.
    ASSERT_TRUE(m.LoadFromFile(dir.Write("plain.mp3", Frames(Mono128, 417, 30))));
    EXPECT_EQ(m.Frame().Position, 0);
    EXPECT_EQ(m.ID3v2().TagSize(), 0);
    EXPECT_FALSE(m.ID3v1().Present());
}

TEST(MPEGaudio, SecondSearchAtTheMiddleOfTheFile) {
    TempDir dir;
    // Nothing in the first 3458 bytes; frames from 10,007 on in a 20,000-byte file.
    Bytes file(10007, 0);
    Bytes frames = Frames(Mono128, 417, 23);
    file.insert(file.end(), frames.begin(), frames.end());
    file.resize(20000, 0);
    TMPEGaudio m;
    ASSERT_TRUE(m.LoadFromFile(dir.Write("mid.mp3", file)));
    ASSERT_TRUE(m.Frame().Present);
    EXPECT_EQ(m.Frame().Position, 7);  // in the buffer read at 20,000 div 2
    EXPECT_TRUE(m.IsValid());
    // The middle is counted from the start of the file, not from the tag.
    Bytes tagged = Concat({ID3v2Tag(2000), Bytes(8000, 0)});
    Bytes more = Frames(Mono128, 417, 30);
    tagged.insert(tagged.begin() + 5003, more.begin(), more.end());
    ASSERT_TRUE(m.LoadFromFile(dir.Write("tagmid.mp3", tagged)));
    ASSERT_TRUE(m.Frame().Present);
    const int64_t middle = (static_cast<int64_t>(tagged.size()) - 2000) / 2;
    const int64_t next = 5003 + (middle - 5003 + 416) / 417 * 417;  // first frame at or after it
    EXPECT_EQ(m.Frame().Position, next - middle);
}

TEST(MPEGaudio, NoFrameDiscardsTheTags) {
    TempDir dir;
    TMPEGaudio m;
    ASSERT_TRUE(m.LoadFromFile(dir.Write("ok.mp3", Frames(Mono128, 417, 30))));
    Bytes file = Concat({ID3v2Tag(600), Bytes(9000, 0x20), ID3v1Tag()});
    EXPECT_TRUE(m.LoadFromFile(dir.Write("none.mp3", file)));
    ExpectCleared(m);
    // Four 26-byte frames are fewer bytes than an ID3v1 tag: the failed tag
    // read stops the search as well.
    EXPECT_FALSE(m.LoadFromFile(dir.Write("tiny.mp3", Frames({0xFF, 0xF3, 0x10, 0xC4}, 26, 4))));
    ExpectCleared(m);
    EXPECT_FALSE(m.LoadFromFile(dir.Path("missing.mp3")));
    ExpectCleared(m);
}

TEST(MPEGaudio, FrameLengthsAcrossVersionsAndLayers) {
    struct Case {
        Bytes header;
        uint16_t length, bitRate, sampleRate;
    } cases[] = {
        {{0xFF, 0xFB, 0x92, 0x64}, 418, 128, 44100},   // padded layer III: +1
        {{0xFF, 0xFF, 0xC0, 0x04}, 417, 384, 44100},   // layer I: 48 * 384000 / 44100
        {{0xFF, 0xFF, 0xC2, 0x04}, 421, 384, 44100},   // padded layer I: +4
        {{0xFF, 0xFD, 0xE8, 0x04}, 1728, 384, 32000},  // layer II: 144 * 384000 / 32000
        {{0xFF, 0xF7, 0xD4, 0xC4}, 224, 224, 24000},   // MPEG 2 layer I: 24 * 224000 / 24000
        {{0xFF, 0xE3, 0x18, 0xC4}, 72, 8, 8000},       // MPEG 2.5 layer III: 72 * 8000 / 8000
    };
    for (const Case& c : cases) {
        Bytes buffer(TMPEGaudio::SearchBufferSize, 0);
        std::memcpy(buffer.data(), c.header.data(), 4);
        std::memcpy(buffer.data() + c.length, c.header.data(), 4);
        FrameInfo f;
        VBRData v;
        TMPEGaudio::FindFrame(buffer.data(), f, v);
        ASSERT_TRUE(f.Present) << c.length;
        EXPECT_EQ(f.Length, c.length);
        TempDir dir;
        TMPEGaudio m;
        ASSERT_TRUE(
            m.LoadFromFile(dir.Write("f.mp3", Frames(c.header, c.length, 2000 / c.length + 40))));
        EXPECT_EQ(m.BitRate(), c.bitRate);
        EXPECT_EQ(m.SampleRate(), c.sampleRate);
    }
}
