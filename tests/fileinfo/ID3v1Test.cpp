#include <gtest/gtest.h>

#include <cstring>

#include "ID3v1.h"
#include "TestFiles.h"

namespace {

// A 128-byte tag block; fields shorter than their width are padded with NUL.
Bytes Tag(const std::string& title, const std::string& comment, uint8_t b125, uint8_t b126,
          uint8_t genre, const std::string& id = "TAG") {
    Bytes tag(128, 0);
    std::memcpy(tag.data(), id.data(), 3);
    std::memcpy(tag.data() + 3, title.data(), std::min<size_t>(title.size(), 30));
    std::memcpy(tag.data() + 33, "Artist", 6);
    std::memcpy(tag.data() + 63, "Album", 5);
    std::memcpy(tag.data() + 93, "1999", 4);
    std::memcpy(tag.data() + 97, comment.data(), std::min<size_t>(comment.size(), 30));
    tag[125] = b125;
    tag[126] = b126;
    tag[127] = genre;
    return tag;
}

// Audio bytes followed by the tag.
Bytes WithAudio(const Bytes& tag) {
    Bytes file(1000 + tag.size(), 0x55);
    std::copy(tag.begin(), tag.end(), file.begin() + 1000);
    return file;
}

void ExpectCleared(const TID3v1& t) {
    EXPECT_FALSE(t.Present());
    EXPECT_EQ(t.Version(), 1);
    EXPECT_EQ(t.Title(), "");
    EXPECT_EQ(t.Comment(), "");
    EXPECT_EQ(t.Track(), 0);
    EXPECT_EQ(t.GenreID(), 255);
}

}  // namespace

TEST(ID3v1, ReadsVersion11TagWithTrack) {
    TempDir dir;
    std::string comment(30, 'c');  // bytes 28 and 29 become the marker and the track
    TID3v1 t;
    ASSERT_TRUE(t.LoadFromFile(dir.Write("a.mp3", WithAudio(Tag("Title", comment, 0, 7, 17)))));
    EXPECT_TRUE(t.Present());
    EXPECT_EQ(t.Version(), TID3v1::TAG_VERSION_1_1);
    EXPECT_EQ(t.Title(), "Title");
    EXPECT_EQ(t.Artist(), "Artist");
    EXPECT_EQ(t.Album(), "Album");
    EXPECT_EQ(t.Year(), "1999");
    EXPECT_EQ(t.Comment(), std::string(28, 'c'));
    EXPECT_EQ(t.Track(), 7);
    EXPECT_EQ(t.GenreID(), 17);
    EXPECT_EQ(t.GenreName(), "Rock");
}

TEST(ID3v1, VersionTestOnBytes125And126) {
    TempDir dir;
    struct Case {
        uint8_t b125, b126, version, track;
        size_t commentLength;
    } cases[] = {
        {0, 0, 1, 0, 4},      // both zero: 1.0, whole comment field
        {' ', ' ', 1, 0, 4},  // both spaces: 1.0
        {' ', 9, 2, 9, 4},    // space then a number: 1.1
        {'x', 5, 1, 0, 29},   // a letter in 125: 1.0, the comment runs to the letter
        {0, 7, 2, 7, 4},
    };
    for (const Case& c : cases) {
        TID3v1 t;
        ASSERT_TRUE(
            t.LoadFromFile(dir.Write("v.mp3", WithAudio(Tag("T", "note", c.b125, c.b126, 1)))));
        EXPECT_EQ(t.Version(), c.version) << int(c.b125) << "/" << int(c.b126);
        EXPECT_EQ(t.Track(), c.track) << int(c.b125) << "/" << int(c.b126);
        EXPECT_EQ(t.Comment().size(), c.commentLength) << int(c.b125) << "/" << int(c.b126);
    }
}

TEST(ID3v1, TrimsOnlyTrailingBlankBytes) {
    TempDir dir;
    TID3v1 t;
    std::string inner("A\0B", 3);
    ASSERT_TRUE(
        t.LoadFromFile(dir.Write("t.mp3", WithAudio(Tag("  " + inner + " \t", "", 0, 0, 0)))));
    EXPECT_EQ(t.Title(), "  " + inner);  // leading blanks and the inner NUL stay

    ASSERT_TRUE(
        t.LoadFromFile(dir.Write("s.mp3", WithAudio(Tag(std::string(30, ' '), "", 0, 0, 0)))));
    EXPECT_EQ(t.Title(), "");
    ASSERT_TRUE(
        t.LoadFromFile(dir.Write("f.mp3", WithAudio(Tag(std::string(30, 'x'), "", 0, 0, 0)))));
    EXPECT_EQ(t.Title(), std::string(30, 'x'));
}

TEST(ID3v1, FileWithoutTagOrTooShort) {
    TempDir dir;
    TID3v1 t;
    ASSERT_TRUE(t.LoadFromFile(dir.Write("tag.mp3", WithAudio(Tag("Old", "", 0, 0, 3)))));
    // No "TAG": readable, not present, and nothing left from the previous file.
    EXPECT_TRUE(t.LoadFromFile(dir.Write("none.mp3", Bytes(500, 0x41))));
    ExpectCleared(t);
    ASSERT_TRUE(t.LoadFromFile(dir.Write("tag.mp3", WithAudio(Tag("Old", "", 0, 0, 3)))));
    EXPECT_FALSE(t.LoadFromFile(dir.Write("short.mp3", Bytes(127, 0))));
    ExpectCleared(t);
    EXPECT_FALSE(t.LoadFromFile(dir.Path("missing.mp3")));
    ExpectCleared(t);
    // Exactly 128 bytes is a tag and nothing else.
    EXPECT_TRUE(t.LoadFromFile(dir.Write("only.mp3", Tag("Only", "", 0, 0, 0))));
    EXPECT_EQ(t.Title(), "Only");
}

TEST(ID3v1, GenreTable) {
    EXPECT_EQ(std::string(MusicGenre[0]), "Blues");
    EXPECT_EQ(std::string(MusicGenre[92]), "Progessive Rock");
    EXPECT_EQ(std::string(MusicGenre[123]), "A capella");
    EXPECT_EQ(std::string(MusicGenre[147]), "Synthpop");
    TID3v1 t;
    Bytes block = Tag("x", "", 0, 0, 147);
    TMP3TagInfo info;
    ASSERT_TRUE(t.ReadFromMemory(block.data(), info));
    EXPECT_EQ(info.Genre, "Synthpop");
    for (uint8_t genre : {148, 200, 255}) {
        block[127] = genre;
        ASSERT_TRUE(t.ReadFromMemory(block.data(), info));
        EXPECT_EQ(t.GenreName(), "");
        EXPECT_EQ(info.Genre, "");
    }
}

TEST(ID3v1, ReadFromMemoryFillsRecordOnly) {
    TID3v1 t;
    Bytes block = Tag("Mem Title", "mem comment", 0, 12, 13);
    TMP3TagInfo info;
    ASSERT_TRUE(t.ReadFromMemory(block.data(), info));
    EXPECT_EQ(info.Title, "Mem Title");
    EXPECT_EQ(info.Artist, "Artist");
    EXPECT_EQ(info.Album, "Album");
    EXPECT_EQ(info.Year, "1999");
    EXPECT_EQ(info.Comment, "mem comment");
    EXPECT_EQ(info.Track, 12);
    EXPECT_EQ(info.Genre, "Pop");
    // Only Version and GenreID of the reader change.
    EXPECT_FALSE(t.Present());
    EXPECT_EQ(t.Title(), "");
    EXPECT_EQ(t.Version(), TID3v1::TAG_VERSION_1_1);
    EXPECT_EQ(t.GenreID(), 13);

    // A version 1.0 block gives track 0.
    ASSERT_TRUE(t.ReadFromMemory(Tag("x", "", 0, 0, 1).data(), info));
    EXPECT_EQ(info.Track, 0);

    // Without "TAG": false, record untouched.
    TMP3TagInfo before = info;
    EXPECT_FALSE(t.ReadFromMemory(Tag("Other", "", 0, 0, 1, "TAB").data(), info));
    EXPECT_EQ(info.Title, before.Title);
    EXPECT_EQ(info.Genre, before.Genre);
    EXPECT_FALSE(t.ReadFromMemory(nullptr, info));
}

// Texts come out as UTF-8: 8-bit Western text is converted, and text a tagger
// already wrote as UTF-8 is kept as it is.
TEST(ID3v1, EightBitTextBecomesUtf8AndUtf8IsKept) {
    TempDir dir;
    TID3v1 t;
    ASSERT_TRUE(
        t.LoadFromFile(dir.Write("a.mp3", WithAudio(Tag("Can\xE7\xE3o \x80", "", 0, 0, 0)))));
    EXPECT_EQ(t.Title(), "Can\u00E7\u00E3o \u20AC");
    ASSERT_TRUE(
        t.LoadFromFile(dir.Write("b.mp3", WithAudio(Tag("Fado \xC3\xA9 nosso", "", 0, 0, 0)))));
    EXPECT_EQ(t.Title(), "Fado \u00E9 nosso");
}
