#include "winamp-plugins/common/RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace inplug {
namespace {

std::int64_t modifiedNs(const struct stat& st) {
    return static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
}

}  // namespace

RegularFile::RegularFile(const std::string& path) {
    // O_NONBLOCK keeps the open itself from waiting for a FIFO's writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    fd_ = fd;
    size_ = static_cast<std::uint64_t>(st.st_size);
    device_ = st.st_dev;
    inode_ = st.st_ino;
    modifiedNs_ = modifiedNs(st);
}

bool RegularFile::isStill(const std::string& path) const {
    struct stat st {};
    return fd_ >= 0 && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           st.st_dev == device_ && st.st_ino == inode_ &&
           static_cast<std::uint64_t>(st.st_size) == size_ && modifiedNs(st) == modifiedNs_;
}

RegularFile::~RegularFile() {
    if (fd_ >= 0) ::close(fd_);
}

std::size_t RegularFile::readAt(std::uint64_t offset, void* out, std::size_t length) const {
    std::size_t done = 0;
    auto* bytes = static_cast<unsigned char*>(out);
    while (fd_ >= 0 && done < length) {
        const ssize_t got =
            ::pread(fd_, bytes + done, length - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

}  // namespace inplug
