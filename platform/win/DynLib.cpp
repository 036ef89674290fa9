#include "platform/win/DynLib.h"

#include <dlfcn.h>

#include <mutex>

namespace win {
namespace {
std::mutex errorMutex;
std::string lastError;

void rememberError() {
    const char* e = dlerror();
    std::lock_guard lock(errorMutex);
    lastError = e ? e : "";
}
}  // namespace

HMODULE LoadLibrary(const std::string& path) {
    HMODULE h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h) rememberError();
    return h;
}

void* GetProcAddress(HMODULE module, const char* name) {
    if (!module) return nullptr;
    void* p = dlsym(module, name);
    if (!p) rememberError();
    return p;
}

bool FreeLibrary(HMODULE module) {
    return module && dlclose(module) == 0;
}

std::string LastLibraryError() {
    std::lock_guard lock(errorMutex);
    return lastError;
}

}  // namespace win
