#include "platform/win/AppendFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace win {
namespace {

void setError(std::string* error, const std::string& what, int err) {
    if (error) *error = what + ": " + std::strerror(err);
}

}  // namespace

bool AppendFile::Open(const std::string& path, std::string* error) {
    Close();
    fd_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        setError(error, "cannot open " + path, errno);
        return false;
    }
    path_ = path;
    return true;
}

void AppendFile::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

std::int64_t AppendFile::Size() const {
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) return -1;
    return st.st_size;
}

// Read through a descriptor of its own: the appending one is write-only.
bool AppendFile::EndsWithNewline() const {
    const std::int64_t size = Size();
    if (size <= 0) return size == 0;
    const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return true;  // nothing to be learnt: assume the usual
    char last = '\n';
    const bool read = ::pread(fd, &last, 1, off_t(size - 1)) == 1;
    ::close(fd);
    return !read || last == '\n';
}

// A signal handled meanwhile may interrupt the write before anything is
// written (EINTR): it is tried again. Anything else, including a short write,
// is a failure: writing the rest later would tear the line.
bool AppendFile::Append(std::string_view bytes, std::string* error) {
    if (fd_ < 0) {
        if (error) *error = "no file open";
        return false;
    }
    ssize_t n;
    do {
        n = ::write(fd_, bytes.data(), bytes.size());
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        setError(error, "cannot write " + path_, errno);
        return false;
    }
    if (size_t(n) != bytes.size()) {
        setError(error, "cannot write " + path_, ENOSPC);
        return false;
    }
    return true;
}

}  // namespace win
