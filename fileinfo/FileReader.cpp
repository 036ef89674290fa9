#include "FileReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace fileinfo_detail {

FileReader::OpenResult FileReader::OpenRegular(const std::string& path) {
    Close();
    struct stat before {};
    if (::stat(path.c_str(), &before) != 0) return OpenResult::CannotOpen;
    if (!S_ISREG(before.st_mode)) return OpenResult::NotRegularFile;
    // The name may have been replaced since: opening without waiting and
    // checking what was opened keeps a pipe put there from blocking the open.
    // Reads of a regular file never wait for data, so the flag may stay.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return OpenResult::CannotOpen;
    struct stat opened {};
    if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
        ::close(fd);
        return OpenResult::NotRegularFile;
    }
    fd_ = fd;
    size_ = opened.st_size;
    position_ = 0;
    return OpenResult::Opened;
}

void FileReader::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    size_ = 0;
    position_ = 0;
    blockLength_ = 0;
}

bool FileReader::Seek(int64_t position) {
    if (fd_ < 0 || position < 0) return false;
    position_ = position;
    return true;
}

std::size_t FileReader::ReadFile(int64_t position, uint8_t* buffer, std::size_t count) {
    // Never asked past the size taken at opening: a read that reaches the end
    // would otherwise take a second call to learn there is nothing more.
    count = Available(position, count);
    std::size_t got = 0;
    while (got < count) {
        const ssize_t n = ::pread(fd_, buffer + got, count - got,
                                  static_cast<off_t>(position) + static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    return got;
}

std::size_t FileReader::LoadBlock(int64_t position, std::size_t count) {
    const std::size_t wanted = Available(position, count);
    if (!BlockHolds(position, wanted)) {
        blockStart_ = position;
        blockLength_ = ReadFile(position, block_, BlockLength);
    }
    return std::min(wanted, blockLength_ - static_cast<std::size_t>(position - blockStart_));
}

std::size_t FileReader::Read(void* buffer, std::size_t count) {
    if (fd_ < 0 || count == 0) return 0;
    // Past the end nothing is read; avoid asking the system at all.
    if (position_ >= size_) return 0;
    auto* out = static_cast<uint8_t*>(buffer);
    std::size_t got;
    if (count >= BlockLength) {
        got = ReadFile(position_, out, count);
    } else {
        got = LoadBlock(position_, count);
        std::memcpy(out, block_ + (position_ - blockStart_), got);
    }
    position_ += static_cast<int64_t>(got);
    return got;
}

std::size_t FileReader::ReadAt(int64_t position, void* buffer, std::size_t count) {
    if (!Seek(position)) return 0;
    return Read(buffer, count);
}

std::size_t FileReader::ReadAtOnce(int64_t position, void* buffer, std::size_t count) {
    if (!Seek(position)) return 0;
    const std::size_t wanted = Available(position, count);
    std::size_t got = wanted;
    if (BlockHolds(position, wanted))
        std::memcpy(buffer, block_ + (position - blockStart_), wanted);
    else
        got = ReadFile(position, static_cast<uint8_t*>(buffer), wanted);
    position_ += static_cast<int64_t>(got);
    return got;
}

std::span<const uint8_t> FileReader::ViewAfterLoad(int64_t position, std::size_t count) {
    if (fd_ < 0 || count > BlockLength || Available(position, count) == 0) return {};
    const std::size_t got = LoadBlock(position, count);
    return {block_ + (position - blockStart_), got};
}

}  // namespace fileinfo_detail
