// One running program per data folder: an exclusive lock on a file in the
// folder, which the system releases with the process however it ends (a
// crash or a kill leaves nothing stale behind). The lock's descriptor is
// closed on exec, so commands the program starts never hold it.
#pragma once

#include <memory>
#include <string>

namespace win {

class InstanceLock {
  public:
    enum class Result { Acquired, HeldElsewhere, Unavailable };

    // Takes the lock on dir/kav.lock without waiting. HeldElsewhere: another
    // process has it. Unavailable: the file cannot be made or locked (error
    // explains); the caller decides whether to run unguarded.
    static Result Acquire(const std::string& dir, std::unique_ptr<InstanceLock>& lock,
                          std::string* error = nullptr);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    static constexpr const char* kFileName = "kav.lock";

  private:
    explicit InstanceLock(int fd) : fd_(fd) {}
    int fd_;
};

}  // namespace win
