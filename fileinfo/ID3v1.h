#pragma once
// TID3v1: the 128-byte tag at the end of an MPEG audio file, and the genre table.

#include <array>
#include <cstdint>
#include <string>

namespace fileinfo_detail {
class FileReader;
}

// Tag record filled by the in-memory tag readers (TID3v1, TID3v2) and copied
// by the engine into its stream information.
struct TMP3TagInfo {
    std::string Title;
    std::string Artist;
    std::string Album;
    std::string Year;
    std::string Comment;
    uint16_t Track = 0;
    std::string Genre;
};

constexpr int MAX_MUSIC_GENRES = 148;
// Genre names by ID3v1 genre index, 0 to 147.
extern const std::array<const char*, MAX_MUSIC_GENRES> MusicGenre;

class TID3v1 {
  public:
    static constexpr std::size_t TagLength = 128;

    TID3v1() { Clear(); }

    void Clear();
    // Reads the last 128 bytes of the file. True when they could be read,
    // whether or not they hold a tag; false (fields cleared) otherwise.
    bool LoadFromFile(const std::string& FileName);
    // The same from a file already open (the readers of a whole file share one).
    bool LoadFromReader(fileinfo_detail::FileReader& File);
    // Decodes the 128-byte block at Data into Info; true when it begins with
    // "TAG". Changes only Version and GenreID of this reader.
    bool ReadFromMemory(const void* Data, TMP3TagInfo& Info);

    // The genre table's name for GenreID, empty for 148 and above.
    std::string GenreName() const;

    bool Present() const { return FPresent; }
    uint8_t Version() const { return FVersion; }
    const std::string& Title() const { return FTitle; }
    const std::string& Artist() const { return FArtist; }
    const std::string& Album() const { return FAlbum; }
    const std::string& Year() const { return FYear; }
    const std::string& Comment() const { return FComment; }
    uint8_t Track() const { return FTrack; }
    uint8_t GenreID() const { return FGenreID; }

    static constexpr uint8_t TAG_VERSION_1_0 = 1;
    static constexpr uint8_t TAG_VERSION_1_1 = 2;

  private:
    bool FPresent = false;
    uint8_t FVersion = TAG_VERSION_1_0;
    std::string FTitle, FArtist, FAlbum, FYear, FComment;
    uint8_t FTrack = 0;
    uint8_t FGenreID = 255;
};
