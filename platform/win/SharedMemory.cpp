#include "platform/win/SharedMemory.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "platform/win/IpcNames.h"

namespace win {
namespace {

// A creator locks its block before giving it a size, so a block without a
// size and without a lock is one being made right now, unless it is older
// than this (its creator died between the two steps).
constexpr time_t kCreationSlackSeconds = 5;

std::string ShmPath(const std::string& name) {
    return "/" + UserScopedName(name);
}

bool SameFile(int fd, const std::string& path) {
    const int again = ::shm_open(path.c_str(), O_RDONLY, 0);
    if (again < 0) return false;
    struct stat a {
    }, b{};
    const bool same = ::fstat(fd, &a) == 0 && ::fstat(again, &b) == 0 && a.st_dev == b.st_dev &&
                      a.st_ino == b.st_ino;
    ::close(again);
    return same;
}

// The name is taken: removes the block when its owner is gone. True when
// the name is free again.
bool ReclaimIfAbandoned(const std::string& path) {
    const int fd = ::shm_open(path.c_str(), O_RDWR, 0);
    if (fd < 0) return errno == ENOENT;  // its owner removed it meanwhile
    bool reclaimed = false;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        struct stat st {};
        const bool beingMade = ::fstat(fd, &st) == 0 && st.st_size == 0 &&
                               std::time(nullptr) - st.st_ctime < kCreationSlackSeconds;
        // Unlink only the block we looked at, not one another process has
        // made in its place since.
        if (!beingMade && SameFile(fd, path)) reclaimed = ::shm_unlink(path.c_str()) == 0;
    }
    ::close(fd);  // drops the lock
    return reclaimed;
}

int CreateExclusive(const std::string& path, std::size_t size) {
    const int fd = ::shm_open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    if (fd < 0) return -1;
    // The lock comes first: from here on nobody takes the block for abandoned.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::fchmod(fd, 0600) != 0 ||
        ::ftruncate(fd, static_cast<off_t>(size)) != 0) {
        ::shm_unlink(path.c_str());
        ::close(fd);
        errno = EIO;
        return -1;
    }
    return fd;
}

}  // namespace

SharedMemory::SharedMemory(int fd, std::string path, std::size_t size, bool owner)
    : fd_(fd), path_(std::move(path)), size_(size), owner_(owner) {}

std::unique_ptr<SharedMemory> SharedMemory::Create(const std::string& name, std::size_t size,
                                                   Created& result) {
    const std::string path = ShmPath(name);
    int fd = CreateExclusive(path, size);
    bool taken = fd < 0 && errno == EEXIST;
    if (taken && ReclaimIfAbandoned(path)) {
        fd = CreateExclusive(path, size);
        taken = fd < 0 && errno == EEXIST;
    }
    if (fd < 0) {
        result = taken ? Created::NameTaken : Created::Failed;
        return nullptr;
    }
    result = Created::New;
    return std::unique_ptr<SharedMemory>(new SharedMemory(fd, path, size, true));
}

std::unique_ptr<SharedMemory> SharedMemory::Open(const std::string& name, std::size_t size,
                                                 bool readOnly) {
    const std::string path = ShmPath(name);
    const int fd = ::shm_open(path.c_str(), readOnly ? O_RDONLY : O_RDWR, 0);
    if (fd < 0) return nullptr;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_size < static_cast<off_t>(size)) {
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<SharedMemory>(new SharedMemory(fd, path, size, false));
}

SharedMemory::~SharedMemory() {
    if (owner_) ::shm_unlink(path_.c_str());
    ::close(fd_);
}

void* SharedMemory::Map(bool readOnly) {
    void* view =
        ::mmap(nullptr, size_, readOnly ? PROT_READ : PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
    return view == MAP_FAILED ? nullptr : view;
}

bool SharedMemory::Unmap(void* view, std::size_t size) {
    return view && ::munmap(view, size) == 0;
}

}  // namespace win
