// The program's version, as "%d.%d.%d.%d" and "%d.%d". The executable carries
// it as a function compiled into it from the build's version (the platform
// has no version resource); an executable built without one has no version.
#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <optional>

using TFileVersion = std::array<std::uint16_t, 4>;

// Defined by the executable that has a version; absent otherwise.
extern "C" const std::uint16_t* kav_executable_version() __attribute__((weak));

std::optional<TFileVersion> ExecutableFileVersion();

// Empty strings for none.
QString FileVersionText(const std::optional<TFileVersion>& version);
QString ShortVersionText(const std::optional<TFileVersion>& version);
inline QString FileVersionText() {
    return FileVersionText(ExecutableFileVersion());
}
inline QString ShortVersionText() {
    return ShortVersionText(ExecutableFileVersion());
}
