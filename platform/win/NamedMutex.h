// A named mutex between processes of the same user (a POSIX named semaphore
// with one token, mode 0600, its name carrying the user's id). The object
// creates or opens it; nothing here acquires it.
#pragma once

#include <memory>
#include <string>

namespace win {

class NamedMutex {
  public:
    // Creates the mutex, or opens it when it exists; null on failure.
    static std::unique_ptr<NamedMutex> Create(const std::string& name);
    // Closes it and removes the name: whoever holds the object owns the name
    // (the shared block's owner, which alone creates it).
    ~NamedMutex();
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;

  private:
    NamedMutex(void* semaphore, std::string path);

    void* semaphore_;
    std::string path_;
};

}  // namespace win
