#include "FileReader.h"

namespace fileinfo_detail {

bool FileReader::Open(const std::string& path) {
    Close();
    file_ = std::fopen(path.c_str(), "rb");
    if (!file_) return false;
    // A directory opens on some systems but cannot be read or measured.
    if (std::fseek(file_, 0, SEEK_END) != 0) {
        Close();
        return false;
    }
    long end = std::ftell(file_);
    if (end < 0 || std::fseek(file_, 0, SEEK_SET) != 0) {
        Close();
        return false;
    }
    size_ = end;
    position_ = 0;
    return true;
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
