#pragma once
// TWMAfile: the objects of an ASF Header Object: format, bit rate, play time
// and seven text fields. Texts are delivered as UTF-8.

#include <cstdint>
#include <string>

class TWMAfile {
  public:
    TWMAfile() { Clear(); }

    void Clear();
    // False when the file cannot be opened or a read falls short inside the
    // header walk; true otherwise, with Valid() telling whether the data
    // passed the validity test.
    bool LoadFromFile(const std::string& FileName);

    bool Valid() const { return FValid; }
    int32_t FileSize() const { return FFileSize; }
    uint8_t Channels() const { return FChannels; }
    int32_t SampleRate() const { return FSampleRate; }
    double Duration() const { return FDuration; }
    int32_t BitRate() const { return FBitRate; }
    const std::string& Title() const { return FTitle; }
    const std::string& Artist() const { return FArtist; }
    const std::string& Album() const { return FAlbum; }
    int32_t Track() const { return FTrack; }
    const std::string& Year() const { return FYear; }
    const std::string& Genre() const { return FGenre; }
    const std::string& Comment() const { return FComment; }

  private:
    bool FValid = false;
    int32_t FFileSize = 0;
    uint8_t FChannels = 0;
    int32_t FSampleRate = 0;
    double FDuration = 0;
    int32_t FBitRate = 0;
    std::string FTitle, FArtist, FAlbum;
    int32_t FTrack = 0;
    std::string FYear, FGenre, FComment;
};
