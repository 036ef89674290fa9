#include "FileReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fileinfo_detail {

FileReader::OpenResult FileReader::OpenRegular(const std::string& path) {
    Close();
    struct stat before {};
    if (::stat(path.c_str(), &before) != 0) return OpenResult::CannotOpen;
    if (!S_ISREG(before.st_mode)) return OpenResult::NotRegularFile;
    // The name may have been replaced since: opening without waiting and
    // checking what was opened keeps a pipe put there from blocking the open.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return OpenResult::CannotOpen;
    struct stat opened {};
    if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
        ::close(fd);
        return OpenResult::NotRegularFile;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);  // plain reads from here on
    file_ = ::fdopen(fd, "rb");
    if (!file_) {
        ::close(fd);
        return OpenResult::CannotOpen;
    }
    size_ = opened.st_size;
    position_ = 0;
    return OpenResult::Opened;
}

void FileReader::Close() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
    size_ = 0;
    position_ = 0;
}

bool FileReader::Seek(int64_t position) {
    if (!file_ || position < 0) return false;
    if (position == position_) return true;
    if (std::fseek(file_, static_cast<long>(position), SEEK_SET) != 0) return false;
    position_ = position;
    return true;
}

std::size_t FileReader::Read(void* buffer, std::size_t count) {
    if (!file_ || count == 0) return 0;
    // Past the end nothing is read; avoid asking the C library at all.
    if (position_ >= size_) return 0;
    std::size_t got = std::fread(buffer, 1, count, file_);
    position_ += static_cast<int64_t>(got);
    if (got < count) std::clearerr(file_);
    return got;
}

std::size_t FileReader::ReadAt(int64_t position, void* buffer, std::size_t count) {
    if (!Seek(position)) return 0;
    return Read(buffer, count);
}

}  // namespace fileinfo_detail
