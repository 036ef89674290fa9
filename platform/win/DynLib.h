// Dynamic libraries: load by path, look up an entry point by name, release.
#pragma once

#include <string>

namespace win {

using HMODULE = void*;  // nullptr is failure

// Loads the library at path (no search of system folders when the path has a
// directory). A second load of the same file returns the same library.
HMODULE LoadLibrary(const std::string& path);
void* GetProcAddress(HMODULE module, const char* name);
bool FreeLibrary(HMODULE module);
// The loader's last error text, for diagnostics.
std::string LastLibraryError();

}  // namespace win
