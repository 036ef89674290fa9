#pragma once
// TID3v2: an ID3v2 tag (versions 2.2, 2.3, 2.4) at the start of a file or in
// memory, with up to sixteen of its text frames as plain text fields.

#include <cstdint>
#include <string>

namespace fileinfo_detail {
class FileReader;
}

#include "ID3v1.h"  // TMP3TagInfo

class TID3v2 {
  public:
    TID3v2() { Clear(); }

    void Clear();
    // True when the first 10 bytes of the file could be read, tag or not;
    // false (fields cleared) when the file cannot be opened or is shorter.
    bool LoadFromFile(const std::string& FileName);
    // The same from a file already open (the readers of a whole file share one).
    bool LoadFromReader(fileinfo_detail::FileReader& File);
    // Reads a tag held in memory; Limit stands for the file size, and no byte
    // at or beyond Data + TagSize is read. False when the block does not
    // begin with "ID3". Changes only Version and TagSize of this reader.
    bool ReadFromMemory(const void* Data, int32_t Limit, TMP3TagInfo& Info);

    bool Present() const { return FPresent; }
    uint8_t Version() const { return FVersion; }
    int32_t TagSize() const { return FTagSize; }
    const std::string& Title() const { return FTitle; }
    const std::string& Artist() const { return FArtist; }
    const std::string& Album() const { return FAlbum; }
    uint16_t Track() const { return FTrack; }
    const std::string& TrackText() const { return FTrackText; }
    const std::string& Year() const { return FYear; }
    const std::string& Genre() const { return FGenre; }
    const std::string& Comment() const { return FComment; }
    const std::string& Composer() const { return FComposer; }
    const std::string& Encoder() const { return FEncoder; }
    const std::string& Copyright() const { return FCopyright; }
    const std::string& Language() const { return FLanguage; }
    const std::string& Link() const { return FLink; }

  private:
    bool FPresent = false;
    uint8_t FVersion = 0;
    int32_t FTagSize = 0;
    std::string FTitle, FArtist, FAlbum;
    uint16_t FTrack = 0;
    std::string FTrackText, FYear, FGenre, FComment, FComposer, FEncoder, FCopyright, FLanguage,
        FLink;
};
