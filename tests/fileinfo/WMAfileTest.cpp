#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <set>

#include "TestFiles.h"
#include "WMAfile.h"

namespace {

const Bytes HeaderId = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                        0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
const Bytes FilePropertiesId = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
const Bytes StreamPropertiesId = {0x91, 0x07, 0xDC, 0xB7, 0xB7, 0xA9, 0xCF, 0x11,
                                  0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
const Bytes ContentDescriptionId = {0x33, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                    0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
const Bytes ExtendedDescriptionId = {0x40, 0xA4, 0xD0, 0xD2, 0x07, 0xE3, 0xD2, 0x11,
                                     0x97, 0xF0, 0x00, 0xA0, 0xC9, 0x5E, 0xA8, 0x50};
const Bytes UnknownId(16, 0xAB);

Bytes Object(const Bytes& id, const Bytes& content) {
    ByteWriter w;
    w.Raw(id).LE64(24 + content.size()).Raw(content);
    return w.bytes();
}

Bytes FileProperties(uint32_t maxBitRate) {
    ByteWriter w;
    w.Fill(76).LE32(maxBitRate).Fill(4);  // maximum bit rate at object offset 100
    return Object(FilePropertiesId, w.bytes());
}

Bytes StreamProperties(uint16_t channels, uint32_t rate, uint32_t byteRate) {
    ByteWriter w;
    w.Fill(54).LE16(0x0161).LE16(channels).LE32(rate).LE32(byteRate).LE16(4).LE16(16).Fill(8);
    return Object(StreamPropertiesId, w.bytes());
}

// 16-bit text with its terminating zero unit.
Bytes Wide(const std::u16string& text) {
    ByteWriter w;
    w.Utf16(text).LE16(0);
    return w.bytes();
}

Bytes ContentDescription(const std::u16string& title, const std::u16string& author,
                         const std::u16string& description) {
    const Bytes texts[5] = {title.empty() ? Bytes() : Wide(title),
                            author.empty() ? Bytes() : Wide(author), Wide(u"(c)"),
                            description.empty() ? Bytes() : Wide(description), Wide(u"R")};
    ByteWriter w;
    for (const Bytes& t : texts) w.LE16(static_cast<uint16_t>(t.size()));
    for (const Bytes& t : texts) w.Raw(t);
    return Object(ContentDescriptionId, w.bytes());
}

struct Descriptor {
    std::u16string name;
    uint16_t type;
    Bytes value;
};

Descriptor Text(const std::u16string& name, const std::u16string& value) {
    return {name, 0, Wide(value)};
}

Bytes ExtendedDescription(const std::vector<Descriptor>& descriptors) {
    ByteWriter w;
    w.LE16(static_cast<uint16_t>(descriptors.size()));
    for (const Descriptor& d : descriptors) {
        Bytes name = Wide(d.name);
        w.LE16(static_cast<uint16_t>(name.size())).Raw(name).LE16(d.type);
        w.LE16(static_cast<uint16_t>(d.value.size())).Raw(d.value);
    }
    return Object(ExtendedDescriptionId, w.bytes());
}

// The Header Object around the objects, then data up to fileSize bytes.
Bytes Asf(const std::vector<Bytes>& objects, size_t fileSize = 0, uint32_t count = UINT32_MAX) {
    Bytes inner;
    for (const Bytes& o : objects) inner.insert(inner.end(), o.begin(), o.end());
    ByteWriter w;
    w.Raw(HeaderId).LE64(30 + inner.size());
    w.LE32(count == UINT32_MAX ? static_cast<uint32_t>(objects.size()) : count)
        .U8(1)
        .U8(2)
        .Raw(inner);
    Bytes file = w.bytes();
    if (file.size() < fileSize) file.resize(fileSize, 0);
    return file;
}

std::vector<Bytes> Audio(uint32_t maxBitRate = 128000, uint16_t channels = 2, uint32_t rate = 44100,
                         uint32_t byteRate = 16000) {
    return {FileProperties(maxBitRate), StreamProperties(channels, rate, byteRate)};
}

template <typename... More>
std::vector<Bytes> With(std::vector<Bytes> objects, More... more) {
    (objects.push_back(more), ...);
    return objects;
}

}  // namespace

TEST(WMAfile, ReadsFormatAndTexts) {
    TempDir dir;
    Bytes file =
        Asf(With(Audio(), ContentDescription(u"Title", u"Author", u"About it"),
                 ExtendedDescription({Text(u"WM/AlbumTitle", u"Album"), Text(u"WM/Year", u"2005"),
                                      Text(u"WM/Genre", u"Pop"), Text(u"WM/Track", u"5"),
                                      Text(u"Other", u"ignored")})),
            3000000);
    TWMAfile wma;
    ASSERT_TRUE(wma.LoadFromFile(dir.Write("a.wma", file)));
    EXPECT_TRUE(wma.Valid());
    EXPECT_EQ(wma.FileSize(), 3000000);
    EXPECT_EQ(wma.Channels(), 2);
    EXPECT_EQ(wma.SampleRate(), 44100);
    EXPECT_DOUBLE_EQ(wma.Duration(), 187.5);
    EXPECT_EQ(wma.BitRate(), 128);
    EXPECT_EQ(wma.Title(), "Title");
    EXPECT_EQ(wma.Artist(), "Author");
    EXPECT_EQ(wma.Comment(), "About it");
    EXPECT_EQ(wma.Album(), "Album");
    EXPECT_EQ(wma.Year(), "2005");
    EXPECT_EQ(wma.Genre(), "Pop");
    EXPECT_EQ(wma.Track(), 5);
}

TEST(WMAfile, ValidityBounds) {
    TempDir dir;
    struct Case {
        uint32_t maxBitRate;
        uint16_t channels;
        uint32_t rate, byteRate;
        bool valid;
    } cases[] = {
        {319999, 1, 8000, 39999, true},   {320000, 2, 44100, 16000, false},
        {0, 2, 44100, 16000, false},      {128000, 0, 44100, 16000, false},
        {128000, 6, 96000, 1, true},      {128000, 7, 44100, 16000, false},
        {128000, 2, 7999, 16000, false},  {128000, 2, 96001, 16000, false},
        {128000, 2, 44100, 40000, false}, {128000, 2, 44100, 0, false},
    };
    for (const Case& c : cases) {
        TWMAfile wma;
        ASSERT_TRUE(wma.LoadFromFile(
            dir.Write("v.wma", Asf(With(Audio(c.maxBitRate, c.channels, c.rate, c.byteRate),
                                        ContentDescription(u"T", u"", u""))))));
        EXPECT_EQ(wma.Valid(), c.valid)
            << c.maxBitRate << " " << c.channels << " " << c.rate << " " << c.byteRate;
        if (!c.valid) {  // nothing else is set
            EXPECT_EQ(wma.Title(), "");
            EXPECT_EQ(wma.FileSize(), 0);
            EXPECT_EQ(wma.SampleRate(), 0);
        }
    }
}

TEST(WMAfile, LongTextsKeep250UnitsAndTheWalkStaysInStep) {
    TempDir dir;
    Bytes file = Asf(With(Audio(), ContentDescription(std::u16string(300, u'x'), u"Next", u"")));
    TWMAfile wma;
    ASSERT_TRUE(wma.LoadFromFile(dir.Write("l.wma", file)));
    EXPECT_EQ(wma.Title(), std::string(250, 'x'));
    EXPECT_EQ(wma.Artist(), "Next");
}

TEST(WMAfile, DescriptorTypesNamesAndOrder) {
    TempDir dir;
    ByteWriter dword;
    dword.LE32(7);
    Bytes file = Asf(With(Audio(),
                          ExtendedDescription({{u"WM/TRACK", 3, dword.bytes()},
                                               Text(u" wm/year ", u"1999"),
                                               Text(u"WM/TITLE", u"Extended"),
                                               {u"WM/Genre", 0, Bytes{'R', 0}},
                                               Text(u"WM/DESCRIPTION", u"\u00C9t\u00E9 \u4E2D")}),
                          ContentDescription(u"Plain", u"", u"")));
    TWMAfile wma;
    ASSERT_TRUE(wma.LoadFromFile(dir.Write("d.wma", file)));
    EXPECT_EQ(wma.Track(), 0);        // a number-typed value is skipped
    EXPECT_EQ(wma.Year(), "1999");    // the name is trimmed and upper-cased before matching
    EXPECT_EQ(wma.Title(), "Plain");  // the later object wins
    EXPECT_EQ(wma.Genre(), "R");
    EXPECT_EQ(wma.Comment(), "\xC3\x89t\xC3\xA9 \xE4\xB8\xAD");

    Bytes reversed = Asf(
        With(Audio(), ContentDescription(u"Plain", u"", u""),
             ExtendedDescription({Text(u"WM/Title", u"Extended"), Text(u"WM/Track", u"5/12")})));
    ASSERT_TRUE(wma.LoadFromFile(dir.Write("r.wma", reversed)));
    EXPECT_EQ(wma.Title(), "Extended");
    EXPECT_EQ(wma.Track(), 0);  // 5/12 is not a whole number
}

TEST(WMAfile, LastStreamPropertiesWinsAndUnknownObjectsArePassedOver) {
    TempDir dir;
    Bytes video = StreamProperties(0, 0, 250000);
    TWMAfile wma;
    ASSERT_TRUE(wma.LoadFromFile(dir.Write("v.wma", Asf(With(Audio(), video)))));
    EXPECT_FALSE(wma.Valid());
    Bytes file = Asf({Object(UnknownId, Bytes(300, 0x99)), StreamProperties(0, 0, 250000),
                      FileProperties(64000), Object(UnknownId, Bytes(10, 1)),
                      StreamProperties(1, 22050, 8000)});
    ASSERT_TRUE(wma.LoadFromFile(dir.Write("u.wma", file)));
    EXPECT_TRUE(wma.Valid());
    EXPECT_EQ(wma.Channels(), 1);
    EXPECT_EQ(wma.SampleRate(), 22050);
    EXPECT_EQ(wma.BitRate(), 64);
}

TEST(WMAfile, NotAsfShortAndMissingFiles) {
    TempDir dir;
    TWMAfile wma;
    Bytes notAsf = Asf(Audio());
    notAsf[0] ^= 1;
    EXPECT_TRUE(wma.LoadFromFile(dir.Write("n.wma", notAsf)));
    EXPECT_FALSE(wma.Valid());
    EXPECT_FALSE(
        wma.LoadFromFile(dir.Write("s.wma", Bytes(HeaderId.begin(), HeaderId.begin() + 10))));
    EXPECT_FALSE(wma.LoadFromFile(dir.Path("missing.wma")));
    // A text that runs past the end of the file is a short read: false, cleared.
    ByteWriter longTitle;
    longTitle.LE16(2000).Fill(8).Utf16(u"Title that is cut");
    Bytes cut = Asf(With(Audio(), Object(ContentDescriptionId, longTitle.bytes())));
    ASSERT_TRUE(wma.LoadFromFile(dir.Write("ok.wma", Asf(Audio()))));
    ASSERT_TRUE(wma.Valid());
    EXPECT_FALSE(wma.LoadFromFile(dir.Write("c.wma", cut)));
    EXPECT_FALSE(wma.Valid());
    EXPECT_EQ(wma.Channels(), 0);
}

TEST(WMAfile, HostileObjectSizesEndTheWalk) {
    TempDir dir;
    TWMAfile wma;
    // An object of size 0 with a count of four billion: the walk ends there
    // with what came before it, instead of reading the same object forever.
    ByteWriter zero;
    zero.Raw(UnknownId).LE64(0).Fill(40);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(
        wma.LoadFromFile(dir.Write("z.wma", Asf(With(Audio(), zero.bytes()), 0, 0xFFFFFFFFu))));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_TRUE(wma.Valid());
    // An object larger than what is left of the file ends the walk too.
    ByteWriter huge;
    huge.Raw(ContentDescriptionId).LE64(1u << 30).LE16(4).Fill(8).Raw(Wide(u"X"));
    ASSERT_TRUE(wma.LoadFromFile(dir.Write("h.wma", Asf(With(Audio(), huge.bytes()), 0, 50))));
    EXPECT_TRUE(wma.Valid());
    EXPECT_EQ(wma.Title(), "");
    // More objects announced than present: the walk ends at the file's end.
    ASSERT_TRUE(wma.LoadFromFile(dir.Write("m.wma", Asf(Audio(), 0, 1000))));
    EXPECT_TRUE(wma.Valid());
}

TEST(WMAfile, DurationOfAVeryLargeFile) {
    TempDir dir;
    const std::string path = dir.Write("big.wma", Asf(Audio(128000)));
    std::filesystem::resize_file(path, 300000000);  // sparse: nothing is written
    TWMAfile wma;
    ASSERT_TRUE(wma.LoadFromFile(path));
    EXPECT_DOUBLE_EQ(wma.Duration(), 18750.0);
    EXPECT_EQ(wma.FileSize(), 300000000);
}

// Descriptor names and values are read where they lie in the reader's 4 KB
// read-ahead block: those that start before its end and run past it come out
// whole, odd value lengths dropping their last byte.
TEST(WMAfile, TextsAcrossTheReadBlockEdge) {
    TempDir dir;
    TWMAfile wma;
    const std::u16string title = u"T\u00EDtulo \u4E2D \U0001F3B5 " + std::u16string(100, u'x');
    const std::string expected =
        "T\xC3\xADtulo \xE4\xB8\xAD \xF0\x9F\x8E\xB5 " + std::string(100, 'x');
    Bytes oddGenre = Wide(u"Rock");
    oddGenre.resize(oddGenre.size() - 3);  // "Roc" and one byte of "k"
    std::set<bool> straddled;
    for (size_t filler = 3500; filler < 3900; filler += 9) {
        const Bytes head = Asf(With(Audio(), Object(UnknownId, Bytes(filler, 0))));
        const Bytes file = Asf(With(Audio(), Object(UnknownId, Bytes(filler, 0)),
                                    ExtendedDescription({Text(u"WM/Title", title),
                                                         {u"WM/Genre", 0, oddGenre},
                                                         Text(u"WM/AlbumTitle", u"Album")})),
                               20000);
        const size_t start = head.size() + 24 + 2;  // the first descriptor
        straddled.insert(start < 4096 && start + 2 * title.size() + 40 > 4096);
        ASSERT_TRUE(wma.LoadFromFile(dir.Write("edge.wma", file))) << filler;
        EXPECT_EQ(wma.Title(), expected) << "descriptors at " << start;
        EXPECT_EQ(wma.Genre(), "Roc") << "descriptors at " << start;
        EXPECT_EQ(wma.Album(), "Album") << "descriptors at " << start;
    }
    EXPECT_EQ(straddled.size(), 2u);  // both across the edge and clear of it
}
