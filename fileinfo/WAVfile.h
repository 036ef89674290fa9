#pragma once
// TWAVfile: the canonical 44-byte header of a RIFF WAVE file.

#include <cstdint>
#include <string>

class TWAVfile {
  public:
    TWAVfile() { Clear(); }

    void Clear();
    // False when the file cannot be opened or has fewer than 44 bytes; true
    // otherwise, with Valid() telling whether the header passed the test.
    bool LoadFromFile(const std::string& FileName);

    double Duration() const;  // seconds; 0 unless Valid()

    bool Valid() const { return FValid; }
    uint8_t Channels() const { return FChannels; }
    uint16_t SampleRate() const { return FSampleRate; }
    uint8_t BitsPerSample() const { return FBitsPerSample; }
    int32_t FileSize() const { return FFileSize; }

  private:
    bool FValid = false;
    uint8_t FChannels = 0;
    uint16_t FSampleRate = 0;
    uint8_t FBitsPerSample = 0;
    int32_t FFileSize = 0;
};
