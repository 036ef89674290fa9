#pragma once
// TOggVorbis: identification and comment headers of an Ogg Vorbis file and
// the granule position of its last page.

#include <cstdint>
#include <stdexcept>
#include <string>

// Raised by TOggVorbis::LoadFromFile when the file cannot be opened for
// reading; every other problem, a path that is not a regular file included,
// is a false result.
class EOggFileOpenError : public std::runtime_error {
  public:
    explicit EOggFileOpenError(const std::string& FileName)
        : std::runtime_error("Cannot open file \"" + FileName + "\""), FFileName(FileName) {}
    const std::string& FileName() const { return FFileName; }

  private:
    std::string FFileName;
};

class TOggVorbis {
  public:
    TOggVorbis() { Clear(); }

    void Clear();
    // True when the file begins (after an optional ID3v2 tag) with an Ogg
    // page whose first packet is a Vorbis identification header; false with
    // the fields cleared otherwise (also for a directory, a named pipe or a
    // device). Throws EOggFileOpenError when the file cannot be opened.
    bool LoadFromFile(const std::string& FileName);

    double Duration() const;   // seconds
    uint16_t BitRate() const;  // average kbit/s
    bool IsValid() const;

    int32_t FileSize() const { return FFileSize; }
    uint8_t Channels() const { return FChannels; }
    uint16_t SampleRate() const { return FSampleRate; }
    uint16_t NominalBitRate() const { return FNominalBitRate; }
    int32_t SampleCount() const { return FSampleCount; }
    int32_t ID3v2Size() const { return FID3v2Size; }
    const std::string& Title() const { return FTitle; }
    const std::string& Artist() const { return FArtist; }
    const std::string& Album() const { return FAlbum; }
    uint16_t Track() const { return FTrack; }
    const std::string& Date() const { return FDate; }
    const std::string& Genre() const { return FGenre; }
    const std::string& Comment() const { return FComment; }
    const std::string& Vendor() const { return FVendor; }

  private:
    int32_t FFileSize = 0;
    uint8_t FChannels = 0;
    uint16_t FSampleRate = 0;
    uint16_t FNominalBitRate = 0;
    int32_t FSampleCount = 0;
    int32_t FID3v2Size = 0;
    std::string FTitle, FArtist, FAlbum;
    uint16_t FTrack = 0;
    std::string FDate, FGenre, FComment, FVendor;
};
