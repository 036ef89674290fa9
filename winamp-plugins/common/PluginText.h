// Text helpers shared by the input plug-ins.
#pragma once

#include <string>

namespace inplug {

// The file name without its folder and its extension: the title of a file
// that carries none.
std::string titleFromPath(const std::string& path);

// Copies text into the host's title buffer (2048 bytes), always terminated.
void copyTitle(const std::string& text, char* title);

// Plug-ins have no window toolkit of their own: their boxes go to stderr,
// which never waits for anyone.
void showBox(const std::string& caption, const std::string& text);

}  // namespace inplug
