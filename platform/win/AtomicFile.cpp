#include "platform/win/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace win {
namespace {

void setError(std::string* error, const std::string& what, int err) {
    if (error) *error = what + ": " + std::strerror(err);
}

// A symbolic link keeps pointing at the list: the file it names is replaced.
std::string resolveTarget(const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::is_symlink(path, ec)) return path;
    auto target = std::filesystem::canonical(path, ec);
    return ec ? path : target.string();
}

std::string temporaryName(const std::string& target) {
    static std::atomic<unsigned> counter{0};
    return target + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(++counter);
}

bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

void syncDirectory(const std::string& target) {
    auto dir = std::filesystem::path(target).parent_path();
    int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

bool WriteFileAtomic(const std::string& path, std::string_view data, std::string* error) {
    const std::string target = resolveTarget(path);
    const std::string temp = temporaryName(target);
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        setError(error, "cannot create " + temp, errno);
        return false;
    }
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0) ::fchmod(fd, old.st_mode & 07777);

    bool ok = writeAll(fd, data) && ::fsync(fd) == 0;
    int err = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        setError(error, "cannot write " + path, err);
        return false;
    }
    syncDirectory(target);
    return true;
}

bool ReadWholeFile(const std::string& path, std::string& text, std::string* error) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        setError(error, "cannot read " + path, EISDIR);
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        setError(error, "cannot open " + path, errno ? errno : ENOENT);
        return false;
    }
    std::ostringstream buffer;
    buffer << in.rdbuf();
    if (in.bad()) {
        setError(error, "cannot read " + path, errno ? errno : EIO);
        return false;
    }
    text = std::move(buffer).str();
    return true;
}

}  // namespace win
