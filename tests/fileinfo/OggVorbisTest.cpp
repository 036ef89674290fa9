#include <gtest/gtest.h>

#include <chrono>
#include <set>

#include "OggVorbis.h"
#include "TestFiles.h"

namespace {

// One Ogg page holding the given packets whole (checksums are not checked by the reader).
Bytes Page(const std::vector<Bytes>& packets, uint64_t granule, uint32_t sequence,
           uint8_t type = 0) {
    Bytes lacing, payload;
    for (const Bytes& p : packets) {
        size_t left = p.size();
        while (left >= 255) lacing.push_back(255), left -= 255;
        lacing.push_back(static_cast<uint8_t>(left));
        payload.insert(payload.end(), p.begin(), p.end());
    }
    ByteWriter w;
    w.Raw("OggS").U8(0).U8(type).LE64(granule).LE32(0x1234).LE32(sequence).LE32(0);
    w.U8(static_cast<uint8_t>(lacing.size())).Raw(lacing).Raw(payload);
    return w.bytes();
}

Bytes Identification(uint8_t channels, uint32_t rate, int32_t nominal) {
    ByteWriter w;
    w.U8(1).Raw("vorbis").LE32(0).U8(channels).LE32(rate).LE32(0).LE32(
        static_cast<uint32_t>(nominal));
    w.LE32(0).U8(0xB8).U8(1);
    return w.bytes();
}

Bytes Comments(const std::string& vendor, const std::vector<std::string>& items,
               uint32_t count = UINT32_MAX) {
    ByteWriter w;
    w.U8(3).Raw("vorbis").LE32(static_cast<uint32_t>(vendor.size())).Raw(vendor);
    w.LE32(count == UINT32_MAX ? static_cast<uint32_t>(items.size()) : count);
    for (const std::string& item : items) w.LE32(static_cast<uint32_t>(item.size())).Raw(item);
    w.U8(1);
    return w.bytes();
}

struct OggSpec {
    uint8_t channels = 2;
    uint32_t rate = 44100;
    int32_t nominal = 128000;
    std::string vendor = "Test Vendor 1.0";
    std::vector<std::string> comments;
    uint64_t lastGranule = 441000;
    size_t fileSize = 160000;
    size_t id3v2 = 0;
};

// First page, comment page, zero filler, and a last page ending the file.
Bytes MakeOgg(const OggSpec& s) {
    ByteWriter w;
    if (s.id3v2) {
        const uint32_t size = static_cast<uint32_t>(s.id3v2 - 10);
        w.Raw("ID3").U8(3).U8(0).U8(0).U8((size >> 21) & 0x7F).U8((size >> 14) & 0x7F);
        w.U8((size >> 7) & 0x7F).U8(size & 0x7F).Fill(size);
    }
    w.Raw(Page({Identification(s.channels, s.rate, s.nominal)}, 0, 0, 2));
    w.Raw(Page({Comments(s.vendor, s.comments), Bytes(40, 5)}, 0, 1));
    Bytes last = Page({Bytes(100, 7)}, s.lastGranule, 2, 4);
    Bytes file = w.bytes();
    if (file.size() + last.size() < s.fileSize) file.resize(s.fileSize - last.size(), 0);
    file.insert(file.end(), last.begin(), last.end());
    return file;
}

}  // namespace

TEST(OggVorbis, ReadsHeadersCommentsAndTheLastPage) {
    TempDir dir;
    OggSpec s;
    s.comments = {"TITLE=Song",   "ARTIST=Band",      "PERFORMER=Singer",
                  "ALBUM=Record", "TRACKNUMBER=3/12", "DATE=2003",
                  "GENRE=Jazz",   "COMMENT=nice",     "title=Abc"};
    TOggVorbis ogg;
    ASSERT_TRUE(ogg.LoadFromFile(dir.Write("a.ogg", MakeOgg(s))));
    EXPECT_EQ(ogg.FileSize(), 160000);
    EXPECT_EQ(ogg.Channels(), 2);
    EXPECT_EQ(ogg.SampleRate(), 44100);
    EXPECT_EQ(ogg.NominalBitRate(), 128);
    EXPECT_EQ(ogg.SampleCount(), 441000);
    EXPECT_EQ(ogg.ID3v2Size(), 0);
    EXPECT_DOUBLE_EQ(ogg.Duration(), 10.0);
    EXPECT_EQ(ogg.BitRate(), 128);  // round(160000 / 10 / 125)
    EXPECT_TRUE(ogg.IsValid());
    EXPECT_EQ(ogg.Title(), "Abc");  // a later item with the same name, any case, wins
    EXPECT_EQ(ogg.Artist(), "Band");
    EXPECT_EQ(ogg.Album(), "Record");
    EXPECT_EQ(ogg.Track(), 3);
    EXPECT_EQ(ogg.Date(), "2003");
    EXPECT_EQ(ogg.Genre(), "Jazz");
    EXPECT_EQ(ogg.Comment(), "nice");
    EXPECT_EQ(ogg.Vendor(), "Test Vendor 1.0");
}

TEST(OggVorbis, FallbacksTrackBitsAndUtf8) {
    TempDir dir;
    OggSpec s;
    s.comments = {"ARTIST=",
                  "PERFORMER=Singer",
                  "DESCRIPTION=described",
                  "TRACKNUMBER=300",
                  "ALBUM=  A\xC3\xA7\xC3\xA3o \xE4\xB8\xAD  ",
                  "GENRE=Ro\xC3",
                  "DATE=19\xC3(9",
                  "no equals sign",
                  "NOTAFIELD=x"};
    TOggVorbis ogg;
    ASSERT_TRUE(ogg.LoadFromFile(dir.Write("b.ogg", MakeOgg(s))));
    EXPECT_EQ(ogg.Artist(), "Singer");
    EXPECT_EQ(ogg.Comment(), "described");
    EXPECT_EQ(ogg.Track(), 44);  // low 8 bits of 300
    EXPECT_EQ(ogg.Album(), "A\xC3\xA7\xC3\xA3o \xE4\xB8\xAD");
    EXPECT_EQ(ogg.Genre(), "Ro");                // a lone lead byte at the end is cut
    EXPECT_EQ(ogg.Date(), "19");                 // so is a lead byte without its continuation
    EXPECT_EQ(ogg.Vendor(), "Test Vendor 1.0");  // the later text without "=" is dropped
}

TEST(OggVorbis, LongCommentsAreCutButTheNextOneIsFound) {
    TempDir dir;
    OggSpec s;
    s.comments = {"COMMENT=" + std::string(392, 'c'), "TITLE=After"};
    TOggVorbis ogg;
    ASSERT_TRUE(ogg.LoadFromFile(dir.Write("c.ogg", MakeOgg(s))));
    EXPECT_EQ(ogg.Comment(), std::string(250 - 8, 'c'));
    EXPECT_EQ(ogg.Title(), "After");
}

TEST(OggVorbis, ID3v2TagBeforeTheFirstPage) {
    TempDir dir;
    OggSpec s;
    s.id3v2 = 2048;
    s.fileSize = 162048;
    s.comments = {"TITLE=Tagged"};
    TOggVorbis ogg;
    ASSERT_TRUE(ogg.LoadFromFile(dir.Write("d.ogg", MakeOgg(s))));
    EXPECT_EQ(ogg.ID3v2Size(), 2048);
    EXPECT_EQ(ogg.Title(), "Tagged");
    EXPECT_DOUBLE_EQ(ogg.Duration(), 10.0);
    EXPECT_EQ(ogg.BitRate(), 128);  // the tag is left out
}

TEST(OggVorbis, SampleRateKeepsLow16Bits) {
    TempDir dir;
    OggSpec s;
    s.rate = 96000;
    s.lastGranule = 960000;
    TOggVorbis ogg;
    ASSERT_TRUE(ogg.LoadFromFile(dir.Write("e.ogg", MakeOgg(s))));
    EXPECT_EQ(ogg.SampleRate(), 30464);
    EXPECT_DOUBLE_EQ(ogg.Duration(), 960000.0 / 30464);
}

TEST(OggVorbis, LastPageSearchWindows) {
    TempDir dir;
    TOggVorbis ogg;
    OggSpec s;
    s.lastGranule = 0;  // the padding page carries nothing
    Bytes base = MakeOgg(s);
    base.resize(40000, 0);
    auto place = [](Bytes& file, size_t at, uint32_t granule) {
        ByteWriter w;
        w.Raw("OggS").U8(0).U8(0).LE32(granule);
        std::copy(w.bytes().begin(), w.bytes().end(), file.begin() + static_cast<long>(at));
    };
    // The latest start position examined is FileSize - 10; a page there still wins.
    Bytes latest = base;
    place(latest, 40000 - 5000, 1000);
    place(latest, 40000 - 10, 2000);
    ASSERT_TRUE(ogg.LoadFromFile(dir.Write("w1.ogg", latest)));
    EXPECT_EQ(ogg.SampleCount(), 2000);
    // FileSize - 9 is not examined.
    Bytes tooLate = base;
    place(tooLate, 40000 - 5000, 1000);
    std::copy_n("OggS", 4, tooLate.begin() + 40000 - 9);
    ASSERT_TRUE(ogg.LoadFromFile(dir.Write("w2.ogg", tooLate)));
    EXPECT_EQ(ogg.SampleCount(), 1000);
    // The earliest examined start is FileSize - 12,060, across all 50 windows.
    Bytes earliest = base;
    place(earliest, 40000 - 12060, 3000);
    ASSERT_TRUE(ogg.LoadFromFile(dir.Write("w3.ogg", earliest)));
    EXPECT_EQ(ogg.SampleCount(), 3000);
    Bytes beyond = base;
    place(beyond, 40000 - 12061, 3000);
    ASSERT_TRUE(ogg.LoadFromFile(dir.Write("w4.ogg", beyond)));
    EXPECT_EQ(ogg.SampleCount(), 0);
    // Window edges: start positions shared by two windows are found (241 * k + 10 from the end).
    for (size_t back : {251u, 492u, 733u, 252u, 491u}) {
        Bytes edge = base;
        place(edge, 40000 - back, 77);
        ASSERT_TRUE(ogg.LoadFromFile(dir.Write("w5.ogg", edge)));
        EXPECT_EQ(ogg.SampleCount(), 77) << back;
    }
    // Granule positions keep their low 32 bits, as a signed number.
    Bytes wide = base;
    ByteWriter w;
    w.Raw("OggS").U8(0).U8(0).LE64(0x00000001FFFFFFFEull);
    std::copy(w.bytes().begin(), w.bytes().end(), wide.begin() + 30000);
    ASSERT_TRUE(ogg.LoadFromFile(dir.Write("w6.ogg", wide)));
    EXPECT_EQ(ogg.SampleCount(), -2);
}

TEST(OggVorbis, SmallFileSearchStaysInsideTheFile) {
    TempDir dir;
    OggSpec s;
    s.fileSize = 0;  // first two pages and the last page only
    s.lastGranule = 44100;
    Bytes file = MakeOgg(s);
    ASSERT_LT(file.size(), 600u);
    TOggVorbis ogg;
    ASSERT_TRUE(ogg.LoadFromFile(dir.Write("small.ogg", file)));
    EXPECT_EQ(ogg.SampleCount(), 44100);
    EXPECT_DOUBLE_EQ(ogg.Duration(), 1.0);
}

TEST(OggVorbis, DurationFromTheNominalBitRate) {
    TempDir dir;
    OggSpec s;
    s.lastGranule = 0;
    s.fileSize = 5000000;
    Bytes file = MakeOgg(s);
    // Remove every "OggS" from the last 12,060 bytes: only the first pages remain.
    std::fill(file.end() - 12100, file.end(), 0);
    TOggVorbis ogg;
    ASSERT_TRUE(ogg.LoadFromFile(dir.Write("n.ogg", file)));
    EXPECT_EQ(ogg.SampleCount(), 0);
    EXPECT_DOUBLE_EQ(ogg.Duration(), 312.5);
    EXPECT_EQ(ogg.BitRate(), 128);
    // Nominal 128,500 rounds to 128, halves to even; 129,500 to 130.
    s.nominal = 128500;
    Bytes half = MakeOgg(s);
    std::fill(half.end() - 12100, half.end(), 0);
    ASSERT_TRUE(ogg.LoadFromFile(dir.Write("h.ogg", half)));
    EXPECT_EQ(ogg.NominalBitRate(), 128);
    s.nominal = 129500;
    half = MakeOgg(s);
    std::fill(half.end() - 12100, half.end(), 0);
    ASSERT_TRUE(ogg.LoadFromFile(dir.Write("h.ogg", half)));
    EXPECT_EQ(ogg.NominalBitRate(), 130);
}

TEST(OggVorbis, ValidityBounds) {
    TempDir dir;
    TOggVorbis ogg;
    OggSpec s;
    for (uint8_t channels : {0, 7}) {
        s.channels = channels;
        ASSERT_TRUE(ogg.LoadFromFile(dir.Write("v.ogg", MakeOgg(s))));
        EXPECT_FALSE(ogg.IsValid()) << int(channels);
    }
    s.channels = 6;
    ASSERT_TRUE(ogg.LoadFromFile(dir.Write("v.ogg", MakeOgg(s))));
    EXPECT_TRUE(ogg.IsValid());
    s.lastGranule = 4410;  // 0.1 s is not enough
    ASSERT_TRUE(ogg.LoadFromFile(dir.Write("v.ogg", MakeOgg(s))));
    EXPECT_FALSE(ogg.IsValid());
}

TEST(OggVorbis, RejectionsAndTheOpenError) {
    TempDir dir;
    TOggVorbis ogg;
    OggSpec s;
    s.comments = {"TITLE=Old"};
    ASSERT_TRUE(ogg.LoadFromFile(dir.Write("ok.ogg", MakeOgg(s))));
    // Not an Ogg page, or not Vorbis: false with every field cleared.
    EXPECT_FALSE(ogg.LoadFromFile(dir.Write("x.ogg", Bytes(5000, 0x4F))));
    EXPECT_EQ(ogg.FileSize(), 0);
    EXPECT_EQ(ogg.Title(), "");
    Bytes notVorbis = MakeOgg(s);
    notVorbis[28 + 1] = 'V';  // "\001Vorbis"
    EXPECT_FALSE(ogg.LoadFromFile(dir.Write("y.ogg", notVorbis)));
    EXPECT_EQ(ogg.Channels(), 0);
    EXPECT_FALSE(ogg.LoadFromFile(dir.Write("empty.ogg", Bytes())));
    // No comment header: texts empty, the read still succeeds.
    Bytes noComments = MakeOgg(s);
    noComments[58 + 27 + noComments[58 + 26]] = 5;  // the comment packet's type byte
    ASSERT_TRUE(ogg.LoadFromFile(dir.Write("z.ogg", noComments)));
    EXPECT_EQ(ogg.Title(), "");
    EXPECT_EQ(ogg.Vendor(), "");
    EXPECT_EQ(ogg.SampleRate(), 44100);
    // A file that cannot be opened is an error that reaches the caller.
    EXPECT_THROW(ogg.LoadFromFile(dir.Path("missing.ogg")), EOggFileOpenError);
    try {
        ogg.LoadFromFile(dir.Path("missing.ogg"));
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("missing.ogg"), std::string::npos);
    }
}

TEST(OggVorbis, HostileCommentCountEndsAtTheFileEnd) {
    TempDir dir;
    // Four billion comments announced, two present, then the file ends.
    ByteWriter w;
    w.Raw(Page({Identification(2, 44100, 128000)}, 0, 0, 2));
    Bytes comments = Comments("V", {"TITLE=Kept", "ARTIST=Also"}, 0xFFFFFFFFu);
    comments.pop_back();  // no framing byte: the file ends after the last comment
    w.Raw(Page({comments}, 0, 1));
    TOggVorbis ogg;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(ogg.LoadFromFile(dir.Write("count.ogg", w.bytes())));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(ogg.Title(), "Kept");
    EXPECT_EQ(ogg.Artist(), "Also");
    // A comment length far past the end of the file ends the loop too.
    ByteWriter v;
    v.Raw(Page({Identification(2, 44100, 128000)}, 0, 0, 2));
    ByteWriter c;
    c.U8(3)
        .Raw("vorbis")
        .LE32(1)
        .Raw("V")
        .LE32(1000)
        .LE32(11)
        .Raw("TITLE=First")
        .LE32(0xFFFFFFF0u)
        .Raw("GENRE=x");
    v.Raw(Page({c.bytes()}, 0, 1));
    ASSERT_TRUE(ogg.LoadFromFile(dir.Write("length.ogg", v.bytes())));
    EXPECT_EQ(ogg.Title(), "First");
    EXPECT_EQ(ogg.Genre(), "x");
}

// Comments are read where they lie in the reader's 4 KB read-ahead block: an
// item that starts before its end and runs past it, or starts right at it,
// comes out whole.
TEST(OggVorbis, CommentsAcrossTheReadBlockEdge) {
    TempDir dir;
    TOggVorbis ogg;
    const std::string title = "Can\xC3\xA7\xC3\xA3o \xE4\xB8\xAD " + std::string(200, 't') + " end";
    std::set<bool> straddled;
    for (size_t vendor = 3700; vendor < 3990; vendor += 7) {
        OggSpec s;
        s.fileSize = 20000;
        s.vendor = std::string(vendor, 'v');
        s.comments = {"TITLE=" + title, "ARTIST=After"};
        const Bytes file = MakeOgg(s);
        const std::string text(file.begin(), file.end());
        const size_t item = text.find("TITLE=");
        straddled.insert(item < 4096 && item + 6 + title.size() > 4096);
        ASSERT_TRUE(ogg.LoadFromFile(dir.Write("edge.ogg", file))) << vendor;
        EXPECT_EQ(ogg.Title(), title) << "item at " << item;
        EXPECT_EQ(ogg.Artist(), "After") << "item at " << item;
        EXPECT_EQ(ogg.Vendor(), s.vendor.substr(0, 250)) << "item at " << item;
    }
    EXPECT_EQ(straddled.size(), 2u);  // both across the edge and clear of it
}
