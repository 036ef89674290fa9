// Named shared memory between processes of the same user. The block's name
// carries the user's id (IpcNames.h) and its mode is 0600.
//
// The process that creates a block owns it: it holds a lock on the block for
// as long as the object lives, and removes the name when it is destroyed.
// Unlike the memory of a process, a named block survives the process that
// made it, so a creator finding the name taken looks at that lock: a block
// whose owner no longer runs (nobody holds the lock) is removed and made
// anew, while a block whose owner is alive stays taken.
//
// Not thread-safe: one thread uses an object.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace win {

class SharedMemory {
  public:
    enum class Created { New, NameTaken, Failed };

    // Creates the block exclusively, zero-filled. NameTaken: another live
    // process owns the name.
    static std::unique_ptr<SharedMemory> Create(const std::string& name, std::size_t size,
                                                Created& result);
    // Opens a block that another process created; null when there is none
    // of at least `size` bytes.
    static std::unique_ptr<SharedMemory> Open(const std::string& name, std::size_t size,
                                              bool readOnly);
    ~SharedMemory();
    SharedMemory(const SharedMemory&) = delete;
    SharedMemory& operator=(const SharedMemory&) = delete;

    // Maps the whole block; null on failure. A view outlives the object.
    void* Map(bool readOnly);
    static bool Unmap(void* view, std::size_t size);
    std::size_t Size() const { return size_; }

  private:
    SharedMemory(int fd, std::string path, std::size_t size, bool owner);

    int fd_;
    std::string path_;
    std::size_t size_;
    bool owner_;
};

}  // namespace win
