#include "platform/win/NamedMutex.h"

#include <fcntl.h>
#include <semaphore.h>

#include "platform/win/IpcNames.h"

namespace win {

NamedMutex::NamedMutex(void* semaphore, std::string path)
    : semaphore_(semaphore), path_(std::move(path)) {}

std::unique_ptr<NamedMutex> NamedMutex::Create(const std::string& name) {
    const std::string path = "/" + UserScopedName(name);
    sem_t* s = ::sem_open(path.c_str(), O_CREAT, 0600, 1u);
    if (s == SEM_FAILED) return nullptr;
    return std::unique_ptr<NamedMutex>(new NamedMutex(s, path));
}

NamedMutex::~NamedMutex() {
    ::sem_close(static_cast<sem_t*>(semaphore_));
    ::sem_unlink(path_.c_str());
}

}  // namespace win
