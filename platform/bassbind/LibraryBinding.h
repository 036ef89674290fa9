// Shared steps of binding a library at run time: load it, look every entry
// point up, and release it again when one is missing.
#pragma once

#include <string>

#include "platform/win/DynLib.h"

namespace kav_binding {

using BindFn = bool (*)(win::HMODULE);  // sets every entry point; false when one is missing
using ClearFn = void (*)();             // sets every entry point back to nullptr

// Loads path into module unless a library is bound already (a second load
// succeeds at once). A library missing an entry point is released again.
inline bool Load(win::HMODULE& module, const std::string& path, BindFn bind, ClearFn clear) {
    if (module) return true;
    win::HMODULE m = win::LoadLibrary(path);
    if (!m) return false;
    if (!bind(m)) {
        clear();
        win::FreeLibrary(m);
        return false;
    }
    module = m;
    return true;
}

inline void Unload(win::HMODULE& module, ClearFn clear) {
    if (!module) return;
    clear();
    win::FreeLibrary(module);
    module = nullptr;
}

}  // namespace kav_binding
