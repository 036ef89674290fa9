#include "platform/win/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/win/ProgramDir.h"

namespace win {

InstanceLock::Result InstanceLock::Acquire(const std::string& dir,
                                           std::unique_ptr<InstanceLock>& lock,
                                           std::string* error) {
    const std::string path = dir + PathDelim + kFileName;
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    // Another user's lock file in a folder both may write: a read-only
    // descriptor locks it as well.
    if (fd < 0 && errno == EACCES) fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        if (error) *error = "cannot open " + path + ": " + std::strerror(errno);
        return Result::Unavailable;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        lock.reset(new InstanceLock(fd));
        return Result::Acquired;
    }
    const int err = errno;
    ::close(fd);
    if (err == EWOULDBLOCK) return Result::HeldElsewhere;
    if (error) *error = "cannot lock " + path + ": " + std::strerror(err);
    return Result::Unavailable;
}

InstanceLock::~InstanceLock() {
    ::close(fd_);
}

}  // namespace win
