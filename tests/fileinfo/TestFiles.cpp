#include "TestFiles.h"

#include <array>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <random>
#include <stdexcept>

#include <sys/wait.h>

ByteWriter& ByteWriter::Raw(const std::string& text) {
    bytes_.insert(bytes_.end(), text.begin(), text.end());
    return *this;
}
ByteWriter& ByteWriter::Raw(const Bytes& bytes) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return *this;
}
ByteWriter& ByteWriter::U8(uint8_t v) {
    bytes_.push_back(v);
    return *this;
}
ByteWriter& ByteWriter::Fill(std::size_t count, uint8_t v) {
    bytes_.insert(bytes_.end(), count, v);
    return *this;
}
ByteWriter& ByteWriter::LE16(uint16_t v) {
    return U8(v & 0xFF).U8(v >> 8);
}
ByteWriter& ByteWriter::LE32(uint32_t v) {
    return LE16(v & 0xFFFF).LE16(v >> 16);
}
ByteWriter& ByteWriter::LE64(uint64_t v) {
    return LE32(v & 0xFFFFFFFF).LE32(v >> 32);
}
ByteWriter& ByteWriter::BE24(uint32_t v) {
    return U8((v >> 16) & 0xFF).U8((v >> 8) & 0xFF).U8(v & 0xFF);
}
ByteWriter& ByteWriter::BE32(uint32_t v) {
    return U8(v >> 24).BE24(v & 0xFFFFFF);
}
ByteWriter& ByteWriter::Utf16(const std::u16string& text) {
    for (char16_t c : text) LE16(c);
    return *this;
}

TempDir::TempDir() {
    static std::atomic<int> counter{0};
    std::random_device random;
    dir_ = std::filesystem::temp_directory_path() /
           ("kav_fileinfo_" + std::to_string(random()) + "_" + std::to_string(counter++));
    std::filesystem::create_directories(dir_);
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

std::string TempDir::Write(const std::string& name, const Bytes& bytes) const {
    const std::string path = Path(name);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
    return path;
}

bool RunQuiet(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

std::string Capture(const std::string& command, int* status) {
    std::string output;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) throw std::runtime_error("cannot run " + command);
    std::array<char, 4096> buffer;
    std::size_t got;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        output.append(buffer.data(), got);
    const int rc = pclose(pipe);
    if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return output;
}

int64_t SizeOf(const std::string& path) {
    return static_cast<int64_t>(std::filesystem::file_size(path));
}

std::string Quote(const std::string& path) {
    std::string quoted = "'";
    for (char c : path) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}
