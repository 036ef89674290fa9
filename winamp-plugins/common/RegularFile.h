// A file opened for reading only when it is a regular file: a FIFO or a
// device is refused without blocking. Reads are positioned (pread), so a
// reader never depends on a shared file offset.
#pragma once

#include <cstdint>
#include <string>

namespace inplug {

class RegularFile {
  public:
    RegularFile() = default;
    explicit RegularFile(const std::string& path);
    ~RegularFile();
    RegularFile(const RegularFile&) = delete;
    RegularFile& operator=(const RegularFile&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    std::uint64_t size() const { return size_; }
    // Reads up to length bytes at offset; returns the bytes read (0 at or past the end).
    std::size_t readAt(std::uint64_t offset, void* out, std::size_t length) const;
    // Whether path still names this file, unchanged since it was opened.
    bool isStill(const std::string& path) const;

  private:
    int fd_ = -1;
    std::uint64_t size_ = 0;
    std::uint64_t device_ = 0, inode_ = 0;
    std::int64_t modifiedNs_ = 0;
};

}  // namespace inplug
