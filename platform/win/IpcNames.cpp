#include "platform/win/IpcNames.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace win {
namespace {

std::string Escaped(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                           (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
        if (plain) {
            out += static_cast<char>(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    return out;
}

// A directory we own that nobody else may enter, not reached through a link.
bool IsPrivateDir(const std::string& dir) {
    struct stat st {};
    return ::lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
           (st.st_mode & 077) == 0;
}

}  // namespace

std::string UserScopedName(const std::string& name) {
    std::string scoped = "kav-" + std::to_string(::getuid()) + "-";
    const char* scope = std::getenv("KAV_IPC_SCOPE");
    if (scope && *scope) scoped += Escaped(scope) + "-";
    return scoped + Escaped(name);
}

std::string PrivateRuntimeDir() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime && IsPrivateDir(runtime)) return runtime;
    const char* tmp = std::getenv("TMPDIR");
    const std::string dir =
        std::string(tmp && *tmp ? tmp : "/tmp") + "/kav-" + std::to_string(::getuid());
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return {};
    return IsPrivateDir(dir) ? dir : std::string();
}

}  // namespace win
