#include "Id3Blocks.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace kavbass {

namespace {

constexpr size_t kMaxId3v2 = 16u << 20;

// Total size of the ID3v2 block the header announces, 0 when it is none.
size_t id3v2Size(const std::string& head) {
    if (head.size() < 10 || head.compare(0, 3, "ID3") != 0) return 0;
    size_t size = 0;
    for (int i = 6; i < 10; ++i) {
        const auto b = static_cast<unsigned char>(head[i]);
        if (b & 0x80) return 0;  // not a synchsafe size
        size = (size << 7) | b;
    }
    const bool footer = (static_cast<unsigned char>(head[5]) & 0x10) != 0;
    return 10 + size + (footer ? 10 : 0);
}

}  // namespace

std::string id3v2Block(const std::string& head) {
    const size_t n = id3v2Size(head);
    return n == 0 || n > head.size() ? std::string() : head.substr(0, n);
}

std::string afterId3v2(const std::string& head) {
    const size_t n = id3v2Size(head);
    return n <= head.size() ? head.substr(n) : std::string();
}

std::string id3v1Block(const std::string& tail) {
    if (tail.size() < 128) return {};
    std::string t = tail.substr(tail.size() - 128);
    return t.compare(0, 3, "TAG") == 0 ? t : std::string();
}

bool readHeadTail(const std::string& path, std::string& head, std::string& tail, long long& size) {
    // Without waiting for a writer, should the path have become a FIFO meanwhile.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    FILE* f = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? ::fdopen(fd, "rb") : nullptr;
    if (!f) return ::close(fd), false;
    head.assign(10, '\0');
    head.resize(std::fread(head.data(), 1, 10, f));
    // The ID3v2 block and the first audio frames after it.
    size_t want = id3v2Size(head);
    if (want > kMaxId3v2) want = 0;
    want += 65536;
    if (head.size() == 10) {
        head.resize(want);
        head.resize(10 + std::fread(head.data() + 10, 1, want - 10, f));
    }
    size = -1;
    if (std::fseek(f, 0, SEEK_END) == 0) size = std::ftell(f);
    tail.clear();
    if (size >= 128 && std::fseek(f, -128, SEEK_END) == 0) {
        tail.assign(128, '\0');
        tail.resize(std::fread(tail.data(), 1, 128, f));
    }
    std::fclose(f);
    return true;
}

}  // namespace kavbass
