// A file that only grows by whole lines, for logs that must survive a kill at
// any moment: it is opened for appending (O_APPEND), and each Append is one
// write() of the whole line, so a killed program leaves every line it wrote
// whole and nothing before the last one touched. A line cut short (a full
// disk, a power cut) is at most the last one; EndsWithNewline lets the next
// writer start on a line of its own.
//
// One thread uses an AppendFile at a time.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace win {

class AppendFile {
  public:
    AppendFile() = default;
    ~AppendFile() { Close(); }
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    // Opens (and creates, mode 0644) the file at path for appending. False
    // (with error) when it cannot; a file open before is closed first.
    bool Open(const std::string& path, std::string* error = nullptr);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }
    const std::string& Path() const { return path_; }

    // The file's size now; -1 when it cannot be told.
    std::int64_t Size() const;
    // True when the file is empty or its last byte is a line feed.
    bool EndsWithNewline() const;
    // The bytes in one write. False (with error) when the write failed or
    // wrote fewer bytes than given (the file may then end mid-line).
    bool Append(std::string_view bytes, std::string* error = nullptr);

  private:
    int fd_ = -1;
    std::string path_;
};

}  // namespace win
