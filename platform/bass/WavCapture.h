// Writes 16-bit stereo PCM to a WAV file, keeping the header valid after every
// block so that a killed process still leaves a readable file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kavbass {

class WavCapture {
  public:
    WavCapture(const std::string& path, uint32_t rate);
    ~WavCapture();
    WavCapture(const WavCapture&) = delete;
    WavCapture& operator=(const WavCapture&) = delete;

    bool ok() const { return fd_ >= 0; }
    const std::string& path() const { return path_; }
    uint32_t rate() const { return rate_; }
    void append(const int16_t* frames, size_t frameCount);

  private:
    void writeHeader();
    int fd_ = -1;
    std::string path_;
    uint32_t rate_;
    uint64_t dataBytes_ = 0;
};

}  // namespace kavbass
