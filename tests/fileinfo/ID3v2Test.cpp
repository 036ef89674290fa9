#include <gtest/gtest.h>

#include "ID3v2.h"
#include "MPEGaudio.h"
#include "TestFiles.h"

namespace {

// A version 3/4 frame: identifier, 32-bit size, flags, content.
Bytes Frame(const std::string& id, const Bytes& content, uint8_t flags2 = 0) {
    ByteWriter w;
    w.Raw(id).BE32(static_cast<uint32_t>(content.size())).U8(0).U8(flags2).Raw(content);
    return w.bytes();
}

// A version 2 frame: 3-letter identifier, 24-bit size, content.
Bytes Frame22(const std::string& id, const Bytes& content) {
    ByteWriter w;
    w.Raw(id).BE24(static_cast<uint32_t>(content.size())).Raw(content);
    return w.bytes();
}

Bytes Text8(const std::string& text) {
    ByteWriter w;
    w.U8(0).Raw(text);
    return w.bytes();
}

Bytes Text16(const std::u16string& text) {
    ByteWriter w;
    w.U8(1).U8(0xFF).U8(0xFE).Utf16(text);
    return w.bytes();
}

// Header with the size of the frames plus padding, then frames and padding.
Bytes Tag(uint8_t version, const std::vector<Bytes>& frames, size_t padding = 20,
          uint8_t flags = 0) {
    Bytes body;
    for (const Bytes& f : frames) body.insert(body.end(), f.begin(), f.end());
    body.resize(body.size() + padding, 0);
    const uint32_t size = static_cast<uint32_t>(body.size());
    ByteWriter w;
    w.Raw("ID3").U8(version).U8(0).U8(flags);
    w.U8((size >> 21) & 0x7F).U8((size >> 14) & 0x7F).U8((size >> 7) & 0x7F).U8(size & 0x7F);
    w.Raw(body);
    return w.bytes();
}

// The tag followed by some audio-like bytes, as a file.
std::string WriteTagged(const TempDir& dir, const Bytes& tag, size_t audio = 2000) {
    Bytes file = tag;
    file.resize(file.size() + audio, 0x33);
    return dir.Write("tag.mp3", file);
}

}  // namespace

TEST(ID3v2, ReadsTextFramesOfVersion3) {
    TempDir dir;
    Bytes tag = Tag(3, {Frame("TIT2", Text8("Song")), Frame("TPE1", Text8("Band")),
                        Frame("TALB", Text8("Record")), Frame("TRCK", Text8("3/12")),
                        Frame("TYER", Text8("1998")), Frame("TCON", Text8("(13)Pop")),
                        Frame("TCOM", Text8("Writer")), Frame("TENC", Text8("Enc")),
                        Frame("TCOP", Text8("(c) Someone")), Frame("TLAN", Text8("por")),
                        Frame("WXXX", Text8(std::string("desc\0http://x.example/", 22)))});
    TID3v2 t;
    ASSERT_TRUE(t.LoadFromFile(WriteTagged(dir, tag)));
    EXPECT_TRUE(t.Present());
    EXPECT_EQ(t.Version(), 3);
    EXPECT_EQ(t.TagSize(), static_cast<int32_t>(tag.size()));
    EXPECT_EQ(t.Title(), "Song");
    EXPECT_EQ(t.Artist(), "Band");
    EXPECT_EQ(t.Album(), "Record");
    EXPECT_EQ(t.Track(), 3);
    EXPECT_EQ(t.TrackText(), "3/12");
    EXPECT_EQ(t.Year(), "1998");
    EXPECT_EQ(t.Genre(), "Pop");
    EXPECT_EQ(t.Composer(), "Writer");
    EXPECT_EQ(t.Encoder(), "Enc");
    EXPECT_EQ(t.Copyright(), "(c) Someone");
    EXPECT_EQ(t.Language(), "por");
    EXPECT_EQ(t.Link(), "http://x.example/");
}

TEST(ID3v2, Version22ShortFrames) {
    TempDir dir;
    Bytes tag = Tag(2, {Frame22("TT2", Text8("Old Song")), Frame22("TP1", Text8("Old Band")),
                        Frame22("TRK", Text8("7")), Frame22("TOR", Text8("1977-01-01"))});
    TID3v2 t;
    ASSERT_TRUE(t.LoadFromFile(WriteTagged(dir, tag)));
    EXPECT_EQ(t.Version(), 2);
    EXPECT_EQ(t.Title(), "Old Song");
    EXPECT_EQ(t.Artist(), "Old Band");
    EXPECT_EQ(t.Track(), 7);
    EXPECT_EQ(t.Year(), "1977");  // from the original-release frame, first 4 characters
    // Version 3 identifiers mean nothing in a version 2 tag.
    ASSERT_TRUE(t.LoadFromFile(
        WriteTagged(dir, Tag(2, {Frame22("TIT", Text8("x")), Frame22("TT1", Text8("Group"))}))));
    EXPECT_EQ(t.Title(), "Group");
}

TEST(ID3v2, SixteenBitTextWithByteOrderMark) {
    TempDir dir;
    // 01 FF FE 41 00 42 00 00 00 decodes to AB; the zero unit ends the text.
    ByteWriter raw;
    raw.U8(1).U8(0xFF).U8(0xFE).Utf16(u"AB").LE16(0).Utf16(u"ignored");
    // A unit with low byte FF inside the text is dropped; other units become UTF-8.
    Bytes tag =
        Tag(3, {Frame("TIT2", raw.bytes()), Frame("TPE1", Text16(u"S\u00FFo Jo\u00E3o \u4E2D")),
                Frame("TALB", Text16(u"  padded  "))});
    TID3v2 t;
    ASSERT_TRUE(t.LoadFromFile(WriteTagged(dir, tag)));
    EXPECT_EQ(t.Title(), "AB");
    EXPECT_EQ(t.Artist(), "So Jo\xC3\xA3o \xE4\xB8\xAD");
    EXPECT_EQ(t.Album(), "padded");
}

TEST(ID3v2, SlotRulesAndFallbacks) {
    TempDir dir;
    TID3v2 t;
    // Encoding 3 is not stored, so the title comes from TIT1; a later TPE1 replaces an earlier one.
    Bytes utf8Title = Text8("ignored");
    utf8Title[0] = 3;
    ASSERT_TRUE(t.LoadFromFile(WriteTagged(
        dir, Tag(4, {Frame("TIT2", utf8Title), Frame("TIT1", Text8("Group Title")),
                     Frame("TPE1", Text8("First")), Frame("TPE1", Text8("Second")),
                     Frame("TOPE", Text8("Original")), Frame("TOAL", Text8("Orig Album")),
                     Frame("TDRC", Text8("2004-05-01")), Frame("TCON", Text8("(13)")),
                     Frame("TRCK", Text8("A1"))}))));
    EXPECT_EQ(t.Title(), "Group Title");
    EXPECT_EQ(t.Artist(), "Second");
    EXPECT_EQ(t.Album(), "Orig Album");
    EXPECT_EQ(t.Year(), "2004");
    EXPECT_EQ(t.Genre(), "");
    EXPECT_EQ(t.Track(), 0);
    EXPECT_EQ(t.TrackText(), "A1");
    // A frame marked as not stored (flag 0x80 of the second flags byte) is not offered.
    ASSERT_TRUE(t.LoadFromFile(WriteTagged(dir, Tag(3, {Frame("TIT2", Text8("Hidden"), 0x80)}))));
    EXPECT_EQ(t.Title(), "");
    // Track numbers keep 16 bits.
    ASSERT_TRUE(t.LoadFromFile(WriteTagged(dir, Tag(3, {Frame("TRCK", Text8("65537/2"))}))));
    EXPECT_EQ(t.Track(), 1);
}

TEST(ID3v2, CommentExtraction) {
    TempDir dir;
    TID3v2 t;
    ByteWriter eight;
    eight.U8(0).Raw("eng").Raw("desc").U8(0).Raw("hello");
    ASSERT_TRUE(t.LoadFromFile(WriteTagged(dir, Tag(3, {Frame("COMM", eight.bytes())}))));
    EXPECT_EQ(t.Comment(), "hello");

    // 16-bit comment with an empty description.
    ByteWriter empty;
    empty.U8(1).Raw("eng").U8(0xFF).U8(0xFE).LE16(0).U8(0xFF).U8(0xFE).Utf16(u"wide text");
    ASSERT_TRUE(t.LoadFromFile(WriteTagged(dir, Tag(3, {Frame("COMM", empty.bytes())}))));
    EXPECT_EQ(t.Comment(), "wide text");

    // 16-bit comment with a description: the separator is a whole zero unit,
    // not the high byte of the description's last letter and the unit after it.
    ByteWriter described;
    described.U8(1).Raw("eng").U8(0xFF).U8(0xFE).Utf16(u"desc").LE16(0).U8(0xFF).U8(0xFE).Utf16(
        u"after");
    ASSERT_TRUE(t.LoadFromFile(WriteTagged(dir, Tag(3, {Frame("COMM", described.bytes())}))));
    EXPECT_EQ(t.Comment(), "after");
}

TEST(ID3v2, TagSizeFooterAndLimits) {
    TempDir dir;
    TID3v2 t;
    Bytes tag = Tag(3, {Frame("TIT2", Text8("F"))});
    const auto plain = static_cast<int32_t>(tag.size());
    tag[5] = 0x10;  // footer flag
    ASSERT_TRUE(t.LoadFromFile(WriteTagged(dir, tag)));
    EXPECT_EQ(t.TagSize(), plain + 10);
    EXPECT_EQ(t.Title(), "F");

    // Size bytes saying 1,000,000 on a shorter file: present, size 0, no text.
    Bytes huge = Tag(3, {Frame("TIT2", Text8("Huge"))});
    huge[6] = 0x00, huge[7] = 0x3D, huge[8] = 0x04, huge[9] = 0x00;  // 1,000,000
    ASSERT_TRUE(t.LoadFromFile(WriteTagged(dir, huge, 500000)));
    EXPECT_TRUE(t.Present());
    EXPECT_EQ(t.TagSize(), 0);
    EXPECT_EQ(t.Title(), "");

    // Unknown versions: present, version kept, no texts.
    for (uint8_t version : {1, 5}) {
        ASSERT_TRUE(t.LoadFromFile(WriteTagged(dir, Tag(version, {Frame("TIT2", Text8("V"))}))));
        EXPECT_TRUE(t.Present());
        EXPECT_EQ(t.Version(), version);
        EXPECT_EQ(t.Title(), "");
    }

    // Files that cannot be read, and files without a tag.
    EXPECT_FALSE(t.LoadFromFile(dir.Write("short.mp3", Bytes{'I', 'D', '3', 3, 0})));
    EXPECT_FALSE(t.Present());
    EXPECT_FALSE(t.LoadFromFile(dir.Path("missing.mp3")));
    EXPECT_TRUE(t.LoadFromFile(dir.Write("plain.mp3", Bytes(100, 0xFF))));
    EXPECT_FALSE(t.Present());
}

TEST(ID3v2, FrameWalk) {
    TempDir dir;
    TID3v2 t;
    // An extended header is taken as the first frame header: the walk stops at once.
    ByteWriter extended;
    extended.BE32(6).U8(0).U8(0).BE32(0);
    Bytes tag = Tag(3, {extended.bytes(), Frame("TIT2", Text8("Never"))});
    tag[5] = 0x40;
    ASSERT_TRUE(t.LoadFromFile(WriteTagged(dir, tag)));
    EXPECT_EQ(t.Title(), "");

    // A frame of 2,000 bytes keeps its first 500 and the walk goes on after it.
    Bytes big = Text8(std::string(1999, 'x'));
    ASSERT_TRUE(t.LoadFromFile(
        WriteTagged(dir, Tag(3, {Frame("TIT2", big), Frame("TPE1", Text8("Next"))}))));
    EXPECT_EQ(t.Title(), std::string(499, 'x'));
    EXPECT_EQ(t.Artist(), "Next");

    // Version 4 sizes are plain 32-bit numbers: 00 00 01 00 is 256 bytes.
    Bytes v4 = Tag(4, {Frame("TIT2", Text8(std::string(255, 'y'))), Frame("TPE1", Text8("After"))});
    ASSERT_TRUE(t.LoadFromFile(WriteTagged(dir, v4)));
    EXPECT_EQ(t.Artist(), "After");
}

TEST(ID3v2, HostileFrameSizesEndTheWalk) {
    TempDir dir;
    TID3v2 t;
    // A size that would wrap a 32-bit position ends the walk instead of looping.
    ByteWriter wrap;
    wrap.Raw("TPE1").BE32(0xFFFFFFF0).U8(0).U8(0).Raw(Text8("Band"));
    ASSERT_TRUE(
        t.LoadFromFile(WriteTagged(dir, Tag(3, {Frame("TIT2", Text8("Kept")), wrap.bytes()}))));
    EXPECT_EQ(t.Title(), "Kept");
    EXPECT_EQ(t.Artist().substr(0, 4), "Band");  // its first 500 bytes are still offered
    // A tag that ends the file exactly, with a frame running past it.
    ByteWriter past;
    past.Raw("TALB").BE32(400).U8(0).U8(0).Raw(Text8("Cut"));
    Bytes exact = Tag(3, {Frame("TIT2", Text8("First")), past.bytes()}, 0);
    ASSERT_TRUE(t.LoadFromFile(dir.Write("exact.mp3", exact)));
    EXPECT_EQ(t.Title(), "First");
    EXPECT_EQ(t.Album(), "");
}

TEST(ID3v2, ReadFromMemoryStaysInsideTheTag) {
    Bytes tag = Tag(3,
                    {Frame("TIT2", Text8("Memory")), Frame("TPE1", Text8("Mem Band")),
                     Frame("TRCK", Text8("9/10")),
                     Frame("COMM", Bytes{0, 'e', 'n', 'g', 0, 'n', 'o', 't', 'e'})},
                    0);
    // A last frame whose content crosses the tag's end: bytes past the end count as zero.
    ByteWriter crossing;
    crossing.Raw("TALB").BE32(20).U8(0).U8(0).Raw(Text8("Al"));
    tag.insert(tag.end(), crossing.bytes().begin(), crossing.bytes().end());
    const uint32_t size = static_cast<uint32_t>(tag.size() - 10);
    tag[8] = (size >> 7) & 0x7F, tag[9] = size & 0x7F;
    Bytes block = tag;
    block.insert(block.end(), {'b', 'u', 'm', 'X', 'Y', 'Z', 'Q', 'Q'});  // beyond TagSize

    TID3v2 t;
    TMP3TagInfo info;
    ASSERT_TRUE(t.ReadFromMemory(block.data(), static_cast<int32_t>(block.size()), info));
    EXPECT_EQ(info.Title, "Memory");
    EXPECT_EQ(info.Artist, "Mem Band");
    EXPECT_EQ(info.Track, 9);
    EXPECT_EQ(info.Comment, "note");
    EXPECT_EQ(info.Album, "Al");
    EXPECT_EQ(t.TagSize(), static_cast<int32_t>(tag.size()));
    EXPECT_FALSE(t.Present());  // only Version and TagSize change
    EXPECT_EQ(t.Title(), "");

    // A limit below the tag size: TagSize 0, true, record untouched.
    TMP3TagInfo untouched;
    untouched.Title = "keep";
    EXPECT_TRUE(t.ReadFromMemory(block.data(), 50, untouched));
    EXPECT_EQ(t.TagSize(), 0);
    EXPECT_EQ(untouched.Title, "keep");
    // Not a tag, or fewer bytes than a header.
    EXPECT_FALSE(t.ReadFromMemory(Bytes(20, 0).data(), 20, untouched));
    EXPECT_TRUE(t.ReadFromMemory(block.data(), 5, untouched));
    EXPECT_EQ(untouched.Title, "keep");
}

TEST(ID3v2, MPEGReaderHandsBlocksToTheTagReaders) {
    TMPEGaudio mpeg;
    Bytes v2 = Tag(3, {Frame("TIT2", Text8("Via MPEG"))});
    TMP3TagInfo info;
    ASSERT_TRUE(mpeg.ReadTagFromMemory(v2.data(), static_cast<int32_t>(v2.size()), info, 2));
    EXPECT_EQ(info.Title, "Via MPEG");
    Bytes v1(128, 0);
    v1[0] = 'T', v1[1] = 'A', v1[2] = 'G', v1[3] = 'Q', v1[127] = 0;
    ASSERT_TRUE(mpeg.ReadTagFromMemory(v1.data(), 128, info, 1));
    EXPECT_EQ(info.Title, "Q");
    EXPECT_EQ(info.Genre, "Blues");
    info.Title = "same";
    EXPECT_FALSE(mpeg.ReadTagFromMemory(v1.data(), 128, info, 0));
    EXPECT_FALSE(mpeg.ReadTagFromMemory(v1.data(), 128, info, 3));
    EXPECT_EQ(info.Title, "same");
}

TEST(ID3v2, EightBitFramesBecomeUtf8) {
    TempDir dir;
    TID3v2 t;
    ASSERT_TRUE(t.LoadFromFile(WriteTagged(dir, Tag(3, {Frame("TIT2", Text8("Can\xE7\xE3o")),
                                                        Frame("TPE1", Text8("J\xC3\xBAlio"))}))));
    EXPECT_EQ(t.Title(), "Can\u00E7\u00E3o");
    EXPECT_EQ(t.Artist(), "J\u00FAlio");
}

// Frame texts are decoded where they lie in the reader's 4 KB read-ahead
// block: texts that start just before, at and after its end, and texts after
// a frame far longer than the block, come out whole, from a file and from memory.
TEST(ID3v2, TextsAcrossTheReadBlockEdge) {
    TempDir dir;
    const std::u16string wide = u"Jo\u00E3o \u4E2D \U0001F3B5 end";
    ByteWriter comment;
    comment.U8(1).Raw("por").U8(0xFF).U8(0xFE).Utf16(u"d").LE16(0).U8(0xFF).U8(0xFE).Utf16(wide);
    for (size_t contentStart : {4000u, 4085u, 4090u, 4095u, 4096u, 4097u, 4101u, 9000u}) {
        // TXXX is not kept: it only moves TIT2's content to contentStart.
        const size_t filler = contentStart - 10 - 10 - 10;
        Bytes tag = Tag(3, {Frame("TXXX", Bytes(filler, 'f')), Frame("TIT2", Text16(wide)),
                            Frame("TPE1", Text8("Band \xE7")), Frame("COMM", comment.bytes())});
        const std::string expected = "Jo\xC3\xA3o \xE4\xB8\xAD \xF0\x9F\x8E\xB5 end";
        TID3v2 t;
        ASSERT_TRUE(t.LoadFromFile(WriteTagged(dir, tag))) << contentStart;
        EXPECT_EQ(t.Title(), expected) << contentStart;
        EXPECT_EQ(t.Artist(), "Band \xC3\xA7") << contentStart;
        EXPECT_EQ(t.Comment(), expected) << contentStart;
        TMP3TagInfo info;
        ASSERT_TRUE(t.ReadFromMemory(tag.data(), static_cast<int32_t>(tag.size()), info));
        EXPECT_EQ(info.Title, expected) << contentStart;
        EXPECT_EQ(info.Comment, expected) << contentStart;
    }
}

// The first 500 bytes of a frame are its text, whatever its length: an odd
// 16-bit length keeps its last byte as a unit, and an 8-bit comment without a
// separator in them is taken whole after its language.
TEST(ID3v2, TextLimitsOfAFrame) {
    TempDir dir;
    TID3v2 t;
    const Bytes odd = {1, 0xFF, 0xFE, 'A', 0, 'B'};
    ByteWriter longComment;
    longComment.U8(0).Raw("eng").Raw(std::string(600, 'c'));
    ByteWriter lateSeparator;
    lateSeparator.U8(0).Raw("eng").Raw(std::string(500, 'd')).U8(0).Raw("after");
    ByteWriter wideLong;
    wideLong.U8(1).U8(0xFF).U8(0xFE).Utf16(std::u16string(300, u'w'));
    ASSERT_TRUE(t.LoadFromFile(WriteTagged(
        dir, Tag(3, {Frame("TIT2", odd), Frame("COMM", longComment.bytes()),
                     Frame("TALB", wideLong.bytes()), Frame("WXXX", lateSeparator.bytes())}))));
    EXPECT_EQ(t.Title(), "AB");
    EXPECT_EQ(t.Comment(), std::string(496, 'c'));
    EXPECT_EQ(t.Album(), std::string(248, 'w'));  // the mark and 248 units fill the 500 bytes
    EXPECT_EQ(t.Link(), "eng" + std::string(496, 'd'));
}
