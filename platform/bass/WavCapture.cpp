#include "WavCapture.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

namespace kavbass {

namespace {

void put32(unsigned char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
void put16(unsigned char* p, uint16_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}

}  // namespace

WavCapture::WavCapture(const std::string& path, uint32_t rate) : path_(path), rate_(rate) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ >= 0) writeHeader();
}

WavCapture::~WavCapture() {
    if (fd_ >= 0) ::close(fd_);
}

void WavCapture::writeHeader() {
    // The data size is capped so the 32-bit fields stay valid.
    const uint32_t data = static_cast<uint32_t>(std::min<uint64_t>(dataBytes_, 0xFFFFFFFFu - 36));
    unsigned char h[44];
    std::memcpy(h, "RIFF", 4);
    put32(h + 4, 36 + data);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    put32(h + 16, 16);
    put16(h + 20, 1);  // PCM
    put16(h + 22, 2);
    put32(h + 24, rate_);
    put32(h + 28, rate_ * 4);
    put16(h + 32, 4);
    put16(h + 34, 16);
    std::memcpy(h + 36, "data", 4);
    put32(h + 40, data);
    if (::pwrite(fd_, h, sizeof h, 0) != static_cast<ssize_t>(sizeof h)) {
        ::close(fd_);
        fd_ = -1;
    }
}

void WavCapture::append(const int16_t* frames, size_t frameCount) {
    if (fd_ < 0 || frameCount == 0) return;
    const size_t bytes = frameCount * 4;
    // Samples are written little-endian, as the file format wants.
    if (::pwrite(fd_, frames, bytes, static_cast<off_t>(44 + dataBytes_)) !=
        static_cast<ssize_t>(bytes)) {
        ::close(fd_);
        fd_ = -1;
        return;
    }
    dataBytes_ += bytes;
    writeHeader();
}

}  // namespace kavbass
