// What the MPEG decoder reads its file through: positioned reads into a
// buffer of its own, so the decoder's many small reads (a frame header, then
// the frame) cost one system call per buffer, not two per frame.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "winamp-plugins/common/RegularFile.h"

namespace inmp3 {

class MpegInput {
  public:
    explicit MpegInput(const inplug::RegularFile& file) : file_(file), buffer_(kBufferBytes) {}

    // The decoder library's read and seek, with this object as its handle.
    static ssize_t read(void* self, void* out, std::size_t length);
    static off_t seek(void* self, off_t offset, int whence);

  private:
    static constexpr std::size_t kBufferBytes = 64 * 1024;
    std::size_t take(unsigned char* out, std::size_t length);

    const inplug::RegularFile& file_;
    std::vector<unsigned char> buffer_;
    std::uint64_t position_ = 0;     // where the next read starts
    std::uint64_t bufferStart_ = 0;  // the file offset of buffer_[0]
    std::size_t bufferFill_ = 0;
};

}  // namespace inmp3
