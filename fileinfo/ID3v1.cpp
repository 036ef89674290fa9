#include "ID3v1.h"

#include <cstring>

#include "FileReader.h"
#include "TextUtil.h"

using fileinfo_detail::EightBitToUtf8;
using fileinfo_detail::FileReader;
using fileinfo_detail::TrimmedRight;

const std::array<const char*, MAX_MUSIC_GENRES> MusicGenre = {"Blues",
                                                              "Classic Rock",
                                                              "Country",
                                                              "Dance",
                                                              "Disco",
                                                              "Funk",
                                                              "Grunge",
                                                              "Hip-Hop",
                                                              "Jazz",
                                                              "Metal",
                                                              "New Age",
                                                              "Oldies",
                                                              "Other",
                                                              "Pop",
                                                              "R&B",
                                                              "Rap",
                                                              "Reggae",
                                                              "Rock",
                                                              "Techno",
                                                              "Industrial",
                                                              "Alternative",
                                                              "Ska",
                                                              "Death Metal",
                                                              "Pranks",
                                                              "Soundtrack",
                                                              "Euro-Techno",
                                                              "Ambient",
                                                              "Trip-Hop",
                                                              "Vocal",
                                                              "Jazz+Funk",
                                                              "Fusion",
                                                              "Trance",
                                                              "Classical",
                                                              "Instrumental",
                                                              "Acid",
                                                              "House",
                                                              "Game",
                                                              "Sound Clip",
                                                              "Gospel",
                                                              "Noise",
                                                              "AlternRock",
                                                              "Bass",
                                                              "Soul",
                                                              "Punk",
                                                              "Space",
                                                              "Meditative",
                                                              "Instrumental Pop",
                                                              "Instrumental Rock",
                                                              "Ethnic",
                                                              "Gothic",
                                                              "Darkwave",
                                                              "Techno-Industrial",
                                                              "Electronic",
                                                              "Pop-Folk",
                                                              "Eurodance",
                                                              "Dream",
                                                              "Southern Rock",
                                                              "Comedy",
                                                              "Cult",
                                                              "Gangsta",
                                                              "Top 40",
                                                              "Christian Rap",
                                                              "Pop/Funk",
                                                              "Jungle",
                                                              "Native American",
                                                              "Cabaret",
                                                              "New Wave",
                                                              "Psychadelic",
                                                              "Rave",
                                                              "Showtunes",
                                                              "Trailer",
                                                              "Lo-Fi",
                                                              "Tribal",
                                                              "Acid Punk",
                                                              "Acid Jazz",
                                                              "Polka",
                                                              "Retro",
                                                              "Musical",
                                                              "Rock & Roll",
                                                              "Hard Rock",
                                                              "Folk",
                                                              "Folk-Rock",
                                                              "National Folk",
                                                              "Swing",
                                                              "Fast Fusion",
                                                              "Bebob",
                                                              "Latin",
                                                              "Revival",
                                                              "Celtic",
                                                              "Bluegrass",
                                                              "Avantgarde",
                                                              "Gothic Rock",
                                                              "Progessive Rock",
                                                              "Psychedelic Rock",
                                                              "Symphonic Rock",
                                                              "Slow Rock",
                                                              "Big Band",
                                                              "Chorus",
                                                              "Easy Listening",
                                                              "Acoustic",
                                                              "Humour",
                                                              "Speech",
                                                              "Chanson",
                                                              "Opera",
                                                              "Chamber Music",
                                                              "Sonata",
                                                              "Symphony",
                                                              "Booty Bass",
                                                              "Primus",
                                                              "Porn Groove",
                                                              "Satire",
                                                              "Slow Jam",
                                                              "Club",
                                                              "Tango",
                                                              "Samba",
                                                              "Folklore",
                                                              "Ballad",
                                                              "Power Ballad",
                                                              "Rhythmic Soul",
                                                              "Freestyle",
                                                              "Duet",
                                                              "Punk Rock",
                                                              "Drum Solo",
                                                              "A capella",
                                                              "Euro-House",
                                                              "Dance Hall",
                                                              "Goa",
                                                              "Drum & Bass",
                                                              "Club-House",
                                                              "Hardcore",
                                                              "Terror",
                                                              "Indie",
                                                              "BritPop",
                                                              "Negerpunk",
                                                              "Polsk Punk",
                                                              "Beat",
                                                              "Christian Gangsta Rap",
                                                              "Heavy Metal",
                                                              "Black Metal",
                                                              "Crossover",
                                                              "Contemporary Christian",
                                                              "Christian Rock",
                                                              "Merengue",
                                                              "Salsa",
                                                              "Trash Metal",
                                                              "Anime",
                                                              "JPop",
                                                              "Synthpop"};

namespace {

bool HasTagId(const uint8_t* tag) {
    return std::memcmp(tag, "TAG", 3) == 0;
}

// Version 1.1 keeps a track number in byte 126, marked by byte 125.
uint8_t TagVersion(const uint8_t* tag) {
    if ((tag[125] == 0 && tag[126] != 0) || (tag[125] == 0x20 && tag[126] != 0x20))
        return TID3v1::TAG_VERSION_1_1;
    return TID3v1::TAG_VERSION_1_0;
}

// A field's bytes, trailing bytes of value 0x20 or less removed, as UTF-8.
std::string Field(const uint8_t* tag, int offset, int width) {
    return EightBitToUtf8(TrimmedRight(
        std::string_view(reinterpret_cast<const char*>(tag) + offset, static_cast<size_t>(width))));
}

// The tag's texts, as both read operations decode them.
struct Decoded {
    std::string Title, Artist, Album, Year, Comment;
    uint8_t Track = 0;
};

Decoded DecodeTag(const uint8_t* tag, uint8_t version) {
    Decoded d;
    d.Title = Field(tag, 3, 30);
    d.Artist = Field(tag, 33, 30);
    d.Album = Field(tag, 63, 30);
    d.Year = Field(tag, 93, 4);
    if (version == TID3v1::TAG_VERSION_1_1) {
        d.Comment = Field(tag, 97, 28);
        d.Track = tag[126];
    } else {
        d.Comment = Field(tag, 97, 30);
    }
    return d;
}

}  // namespace

void TID3v1::Clear() {
    FPresent = false;
    FVersion = TAG_VERSION_1_0;
    FTitle.clear();
    FArtist.clear();
    FAlbum.clear();
    FYear.clear();
    FComment.clear();
    FTrack = 0;
    FGenreID = 255;
}

bool TID3v1::LoadFromFile(const std::string& FileName) {
    Clear();
    FileReader file;
    return file.Open(FileName) && LoadFromReader(file);
}

bool TID3v1::LoadFromReader(FileReader& file) {
    Clear();
    uint8_t tag[TagLength];
    if (!file.IsOpen() || file.Size() < static_cast<int64_t>(TagLength)) return false;
    if (file.ReadAtOnce(file.Size() - static_cast<int64_t>(TagLength), tag, TagLength) != TagLength)
        return false;
    if (!HasTagId(tag)) return true;

    FPresent = true;
    FVersion = TagVersion(tag);
    Decoded d = DecodeTag(tag, FVersion);
    FTitle = std::move(d.Title);
    FArtist = std::move(d.Artist);
    FAlbum = std::move(d.Album);
    FYear = std::move(d.Year);
    FComment = std::move(d.Comment);
    FTrack = d.Track;
    FGenreID = tag[127];
    return true;
}

bool TID3v1::ReadFromMemory(const void* Data, TMP3TagInfo& Info) {
    if (!Data) return false;
    const auto* tag = static_cast<const uint8_t*>(Data);
    if (!HasTagId(tag)) return false;

    FVersion = TagVersion(tag);
    Decoded d = DecodeTag(tag, FVersion);
    Info.Title = std::move(d.Title);
    Info.Artist = std::move(d.Artist);
    Info.Album = std::move(d.Album);
    Info.Year = std::move(d.Year);
    Info.Comment = std::move(d.Comment);
    Info.Track = d.Track;
    FGenreID = tag[127];
    Info.Genre = GenreName();
    return true;
}

std::string TID3v1::GenreName() const {
    if (FGenreID >= MAX_MUSIC_GENRES) return std::string();
    return MusicGenre[FGenreID];
}
