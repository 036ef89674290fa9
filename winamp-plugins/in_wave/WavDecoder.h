// Decodes the sample data of a WAVE file for the output: 8-bit stays 8-bit
// unsigned, every other format becomes 16-bit signed (rounded, clipped).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "winamp-plugins/common/InputPlayer.h"
#include "winamp-plugins/common/RegularFile.h"
#include "winamp-plugins/in_wave/WavReader.h"

namespace inwave {

class WavDecoder : public inplug::Decoder {
  public:
    // Null when the file is not a regular, playable WAVE file.
    static std::unique_ptr<WavDecoder> open(const std::string& path);

    inplug::StreamFormat format() const override;
    int read(unsigned char* out, int frames) override;
    void seekMs(int ms) override;

  private:
    WavDecoder(std::unique_ptr<inplug::RegularFile> file, const WavLayout& layout)
        : file_(std::move(file)), layout_(layout) {}

    std::unique_ptr<inplug::RegularFile> file_;
    WavLayout layout_;
    std::uint64_t frame_ = 0;  // next frame to read
    std::vector<unsigned char> raw_;
    std::vector<std::int16_t> converted_;
};

// Converts count samples of the stored format to 16-bit signed.
void toInt16(const unsigned char* in, std::size_t count, const WavLayout& layout,
             std::int16_t* out);

}  // namespace inwave
