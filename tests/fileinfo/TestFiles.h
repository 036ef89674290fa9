#pragma once
// Helpers for the reader tests: byte builders, a temporary folder that goes
// away with the test, and the encoders that make real fixtures.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// Appends to a byte buffer in the layouts the formats use.
class ByteWriter {
  public:
    ByteWriter& Raw(const std::string& text);
    ByteWriter& Raw(const Bytes& bytes);
    ByteWriter& U8(uint8_t v);
    ByteWriter& Fill(std::size_t count, uint8_t v = 0);
    ByteWriter& LE16(uint16_t v);
    ByteWriter& LE32(uint32_t v);
    ByteWriter& LE64(uint64_t v);
    ByteWriter& BE24(uint32_t v);
    ByteWriter& BE32(uint32_t v);
    // 16-bit text, low byte first, without terminator.
    ByteWriter& Utf16(const std::u16string& text);
    const Bytes& bytes() const { return bytes_; }
    std::size_t size() const { return bytes_.size(); }

  private:
    Bytes bytes_;
};

// A fresh folder under the system's temporary folder, removed at the end.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    // Writes the bytes to a file in the folder and returns its path.
    std::string Write(const std::string& name, const Bytes& bytes) const;

  private:
    std::filesystem::path dir_;
};

// Runs a shell command with its output discarded; true when it exited with 0.
bool RunQuiet(const std::string& command);
// Runs a shell command and returns what it printed on standard output.
std::string Capture(const std::string& command, int* status = nullptr);
// The file's size in bytes.
int64_t SizeOf(const std::string& path);
// A path quoted for the shell.
std::string Quote(const std::string& path);
