#include "winamp-plugins/in_mp3/MpegInput.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace inmp3 {

// Copies what the buffer holds at the position; 0 when it holds nothing there.
std::size_t MpegInput::take(unsigned char* out, std::size_t length) {
    if (position_ < bufferStart_ || position_ >= bufferStart_ + bufferFill_) return 0;
    const std::size_t at = static_cast<std::size_t>(position_ - bufferStart_);
    const std::size_t n = std::min(length, bufferFill_ - at);
    std::memcpy(out, buffer_.data() + at, n);
    position_ += n;
    return n;
}

ssize_t MpegInput::read(void* self, void* out, std::size_t length) {
    auto& in = *static_cast<MpegInput*>(self);
    auto* bytes = static_cast<unsigned char*>(out);
    std::size_t done = in.take(bytes, length);
    if (done == length) return static_cast<ssize_t>(done);
    if (length - done >= kBufferBytes) {  // a large read goes straight to the caller
        const std::size_t got = in.file_.readAt(in.position_, bytes + done, length - done);
        in.position_ += got;
        return static_cast<ssize_t>(done + got);
    }
    in.bufferStart_ = in.position_;
    in.bufferFill_ = in.file_.readAt(in.position_, in.buffer_.data(), kBufferBytes);
    done += in.take(bytes + done, length - done);
    return static_cast<ssize_t>(done);
}

off_t MpegInput::seek(void* self, off_t offset, int whence) {
    auto& in = *static_cast<MpegInput*>(self);
    off_t base = 0;
    if (whence == SEEK_CUR) {
        base = static_cast<off_t>(in.position_);
    } else if (whence == SEEK_END) {
        struct stat st {};
        if (::fstat(in.file_.fd(), &st) != 0) return -1;
        base = st.st_size;
    } else if (whence != SEEK_SET) {
        errno = EINVAL;
        return -1;
    }
    if (offset < 0 && -offset > base) {
        errno = EINVAL;
        return -1;
    }
    in.position_ = static_cast<std::uint64_t>(base + offset);
    return static_cast<off_t>(in.position_);
}

}  // namespace inmp3
