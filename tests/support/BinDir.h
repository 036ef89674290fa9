// The build's program directory (build/bin): KAV_BIN_DIR when set (the
// sanitizer stages set it), else the working directory, where CTest runs the
// tests.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

inline std::filesystem::path TestBinDir() {
    const char* dir = std::getenv("KAV_BIN_DIR");
    return dir && *dir ? std::filesystem::path(dir) : std::filesystem::current_path();
}

// The folder of the running test program (build/tests), found at run time so
// that no build path is compiled in (a path compiled in would keep the
// compiler cache from answering for another clone). The helper programs the
// tests start are built beside it.
inline std::filesystem::path TestProgramDir() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path();
}

// The libraries the tests load as plug-ins.
inline std::string TestPluginDir() {
    return (TestProgramDir() / "plugin-libs").string();
}
