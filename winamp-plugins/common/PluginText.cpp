#include "winamp-plugins/common/PluginText.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace inplug {

namespace {
constexpr std::size_t kTitleBufferBytes = 2048;
}

std::string titleFromPath(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
    return name;
}

void copyTitle(const std::string& text, char* title) {
    if (!title) return;
    const std::size_t n = std::min(text.size(), kTitleBufferBytes - 1);
    std::memcpy(title, text.data(), n);
    title[n] = '\0';
}

void showBox(const std::string& caption, const std::string& text) {
    std::fprintf(stderr, "[%s] %s\n", caption.c_str(), text.c_str());
}

}  // namespace inplug
