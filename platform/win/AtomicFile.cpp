#include "platform/win/AtomicFile.h"

#include <fcntl.h>
#include <signal.h>
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

// The temporary files of a target are named target.tmp.<pid>.<count>.
constexpr std::string_view kTempInfix = ".tmp.";

std::string temporaryName(const std::string& target) {
    static std::atomic<unsigned> counter{0};
    return target + std::string(kTempInfix) + std::to_string(::getpid()) + "." +
           std::to_string(++counter);
}

bool allDigits(std::string_view s) {
    return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
}

// The process number in a temporary file's name ("<pid>.<count>" after the
// infix), or 0 when the name is not one of ours.
long temporaryOwner(std::string_view name, std::string_view target) {
    if (!name.starts_with(target) || name.substr(target.size()).find(kTempInfix) != 0) return 0;
    std::string_view rest = name.substr(target.size() + kTempInfix.size());
    size_t dot = rest.find('.');
    if (dot == std::string_view::npos || !allDigits(rest.substr(0, dot)) ||
        !allDigits(rest.substr(dot + 1)) || dot > 9)
        return 0;
    return std::stol(std::string(rest.substr(0, dot)));
}

std::string executableOf(const std::string& pid) {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/" + pid + "/exe", ec);
    return ec ? std::string() : exe.string();
}

// A process of that number runs this same program (and may be writing now).
bool runningCopy(long pid) {
    if (::kill(pid_t(pid), 0) != 0 && errno == ESRCH) return false;
    const std::string mine = executableOf("self");
    return !mine.empty() && executableOf(std::to_string(pid)) == mine;
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

bool writeAtomic(const std::string& path, std::string_view data, std::string* error, bool flush) {
    const std::string target = resolveTarget(path);
    const std::string temp = temporaryName(target);
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        setError(error, "cannot create " + temp, errno);
        return false;
    }
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0) ::fchmod(fd, old.st_mode & 07777);

    bool ok = writeAll(fd, data) && (!flush || ::fsync(fd) == 0);
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
    if (flush) syncDirectory(target);
    return true;
}

}  // namespace

bool WriteFileAtomic(const std::string& path, std::string_view data, std::string* error) {
    return writeAtomic(path, data, error, true);
}

bool ReplaceFileUnflushed(const std::string& path, std::string_view data, std::string* error) {
    return writeAtomic(path, data, error, false);
}

bool CanReplaceFile(const std::string& path, std::string* error) {
    const std::string target = resolveTarget(path);
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        setError(error, "cannot write " + path, S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
        return false;
    }
    const std::string temp = temporaryName(target);
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        setError(error, "cannot create " + temp, errno);
        return false;
    }
    ::close(fd);
    ::unlink(temp.c_str());
    return true;
}

int RemoveLeftoverTemporaries(const std::string& path) {
    const std::filesystem::path target(resolveTarget(path));
    const std::string name = target.filename().string();
    std::error_code ec;
    int removed = 0;
    for (const auto& entry : std::filesystem::directory_iterator(
             target.parent_path().empty() ? "." : target.parent_path(), ec)) {
        const long owner = temporaryOwner(entry.path().filename().string(), name);
        if (owner <= 0 || !entry.is_regular_file(ec) || entry.is_symlink(ec)) continue;
        if (owner != ::getpid() && runningCopy(owner)) continue;
        if (std::filesystem::remove(entry.path(), ec)) ++removed;
    }
    return removed;
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
