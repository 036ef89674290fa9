// The build's program directory (build/bin): KAV_BIN_DIR when set (the
// sanitizer stages set it), else the working directory, where CTest runs the
// tests.
#pragma once

#include <cstdlib>
#include <filesystem>

inline std::filesystem::path TestBinDir() {
    const char* dir = std::getenv("KAV_BIN_DIR");
    return dir && *dir ? std::filesystem::path(dir) : std::filesystem::current_path();
}
