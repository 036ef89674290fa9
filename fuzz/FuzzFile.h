#pragma once
// Helpers for fuzz targets that read from a file: the input is written to a
// file of this process's own, rewritten for every run.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace kav_fuzz {

// The file is removed when the process ends normally.
inline const std::string& FuzzFilePath(const char* extension) {
    static const std::string path = [extension] {
        std::atexit([] { std::remove(FuzzFilePath("").c_str()); });
        return (std::filesystem::temp_directory_path() /
                ("kav_fuzz_" + std::to_string(getpid()) + extension))
            .string();
    }();
    return path;
}

// Writes the input to the process's file and returns its path.
inline const std::string& WriteFuzzFile(const uint8_t* data, size_t size, const char* extension) {
    const std::string& path = FuzzFilePath(extension);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f) {
        if (size) std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    return path;
}

// A heap copy of exactly the input's bytes, so the address sanitizer sees any
// read past its end.
inline std::vector<uint8_t> ExactCopy(const uint8_t* data, size_t size) {
    return std::vector<uint8_t>(data, data + size);
}

}  // namespace kav_fuzz
