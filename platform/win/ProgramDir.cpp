#include "platform/win/ProgramDir.h"

#include <filesystem>
#include <mutex>
#include <system_error>

namespace win {
namespace {
std::mutex dirMutex;
std::string overrideDir;

std::string executableDir() {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return ".";
    return exe.parent_path().string();
}
}  // namespace

std::string ProgramDir() {
    std::lock_guard lock(dirMutex);
    if (!overrideDir.empty()) return overrideDir;
    static const std::string dir = executableDir();
    return dir;
}

void SetProgramDir(const std::string& dir) {
    std::lock_guard lock(dirMutex);
    overrideDir = dir;
    while (overrideDir.size() > 1 && overrideDir.back() == PathDelim) overrideDir.pop_back();
}

bool FileExists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
}

}  // namespace win
