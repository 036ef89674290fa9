#include "platform/win/DataDir.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "platform/win/AtomicFile.h"
#include "platform/win/ProgramDir.h"

namespace win {
namespace {

std::mutex dataMutex;
std::string overrideDir;
std::string chosenFor;  // the program directory the choice below was made for
std::string chosen;

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// Asked of the kernel, not tried: a second start must write nothing, not
// even a probe. A read-only mount, a folder of another user or one without
// write permission fail here.
bool writableDir(const std::string& dir) {
    return ::access(dir.c_str(), W_OK | X_OK) == 0;
}

std::string choose(const std::string& programDir) {
    if (writableDir(programDir)) return programDir;
    return ChooseDataDir(programDir, env("XDG_CONFIG_HOME"), env("HOME"));
}

}  // namespace

std::string ChooseDataDir(const std::string& programDir, const std::string& xdgConfigHome,
                          const std::string& home) {
    if (!xdgConfigHome.empty() && xdgConfigHome.front() == PathDelim)
        return xdgConfigHome + PathDelim + "kav";
    // No home at all: the program directory stays the folder, and its
    // unwritable files are reported as such.
    if (home.empty()) return programDir;
    return home + PathDelim + ".config" + PathDelim + "kav";
}

std::string DataDir() {
    const std::string programDir = ProgramDir();
    std::lock_guard lock(dataMutex);
    if (!overrideDir.empty()) return overrideDir;
    if (chosen.empty() || chosenFor != programDir) {
        chosen = choose(programDir);
        chosenFor = programDir;
    }
    return chosen;
}

std::string DataFile(const std::string& name) {
    return DataDir() + PathDelim + name;
}

std::string DataFileToRead(const std::string& name) {
    const std::string kept = DataFile(name);
    if (FileExists(kept)) return kept;
    const std::string starting = ProgramDir() + PathDelim + name;
    return FileExists(starting) ? starting : kept;
}

void SetDataDir(const std::string& dir) {
    std::lock_guard lock(dataMutex);
    overrideDir = dir;
    while (overrideDir.size() > 1 && overrideDir.back() == PathDelim) overrideDir.pop_back();
    chosen.clear();
}

bool PrepareDataDir(const std::vector<std::string>& startingCopies, std::string* error) {
    const std::string dir = DataDir();
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        if (error) *error = "cannot create " + dir + ": " + ec.message();
        return false;
    }
    bool ok = true;
    for (const std::string& name : startingCopies) {
        const std::string from = ProgramDir() + PathDelim + name;
        const std::string to = dir + PathDelim + name;
        if (from == to || FileExists(to) || !FileExists(from)) continue;
        std::string text;
        if (!ReadWholeFile(from, text, error) || !WriteFileAtomic(to, text, error)) ok = false;
    }
    return ok;
}

}  // namespace win
