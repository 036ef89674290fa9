#pragma once
// Binary file access shared by the readers: a file opened for reading only,
// positioned and read in plain byte counts, closed when the object goes.
// Small reads are served from one block read ahead at the position asked
// for, so walking a header's fields costs one system call per block, and text
// can be looked at where it lies in that block instead of being copied out.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace fileinfo_detail {

class FileReader {
  public:
    FileReader() = default;
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;
    ~FileReader() { Close(); }

    enum class OpenResult { Opened, NotRegularFile, CannotOpen };
    // Opens a regular file only, and never waits doing so: a named pipe, a
    // directory or a device is refused before it is opened.
    OpenResult OpenRegular(const std::string& path);
    bool Open(const std::string& path) { return OpenRegular(path) == OpenResult::Opened; }
    void Close();
    bool IsOpen() const { return fd_ >= 0; }

    // Size of the open file in bytes, taken when it was opened.
    int64_t Size() const { return size_; }
    int64_t Position() const { return position_; }

    // Positions anywhere from 0 on, the end of the file included and beyond;
    // false only for a negative position or a failing seek.
    bool Seek(int64_t position);
    bool Skip(int64_t count) { return Seek(position_ + count); }

    // Reads up to count bytes at the current position; returns how many were
    // read (fewer at the end of the file) and advances by that many.
    std::size_t Read(void* buffer, std::size_t count);
    // Reads exactly count bytes or reports false.
    bool ReadExact(void* buffer, std::size_t count) { return Read(buffer, count) == count; }

    // Reads at a position; bytes beyond the end of the file are left untouched.
    std::size_t ReadAt(int64_t position, void* buffer, std::size_t count);
    // The same for a lone read away from the others (a tag at the end of the
    // file): served from the block when it holds the bytes, else read straight
    // into buffer, leaving the block for the reads near it.
    std::size_t ReadAtOnce(int64_t position, void* buffer, std::size_t count);

    static constexpr std::size_t BlockLength = 4096;
    // The bytes the file has at position, up to count (at most BlockLength),
    // where they lie in the block: no copy. Fewer at the end of the file. The
    // view is good until the next read; the position does not move.
    std::span<const uint8_t> View(int64_t position, std::size_t count) {
        if (BlockHolds(position, count)) return {block_ + (position - blockStart_), count};
        return ViewAfterLoad(position, count);
    }

    // How many of count bytes the file has at position.
    std::size_t Available(int64_t position, std::size_t count) const {
        if (position < 0 || position >= size_) return 0;
        return size_ - position < static_cast<int64_t>(count)
                   ? static_cast<std::size_t>(size_ - position)
                   : count;
    }

  private:
    bool BlockHolds(int64_t position, std::size_t count) const {
        return position >= blockStart_ &&
               static_cast<int64_t>(count) <=
                   blockStart_ + static_cast<int64_t>(blockLength_) - position;
    }
    std::span<const uint8_t> ViewAfterLoad(int64_t position, std::size_t count);
    // Makes the block hold the bytes the file has at position, up to count;
    // returns how many it holds from there.
    std::size_t LoadBlock(int64_t position, std::size_t count);
    // Reads straight from the file at a position, up to count bytes.
    std::size_t ReadFile(int64_t position, uint8_t* buffer, std::size_t count);

    int fd_ = -1;
    int64_t size_ = 0;
    int64_t position_ = 0;
    // The block read ahead: block_[0, blockLength_) holds the bytes at blockStart_.
    uint8_t block_[BlockLength];
    int64_t blockStart_ = 0;
    std::size_t blockLength_ = 0;
};

// Little- and big-endian integers from a byte buffer.
inline uint16_t GetLE16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t GetLE32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint32_t GetBE32(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}
inline uint32_t GetBE24(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 16) | (static_cast<uint32_t>(p[1]) << 8) |
           static_cast<uint32_t>(p[2]);
}

}  // namespace fileinfo_detail
