// A program directory of the tests' own: the build's plug-ins and the test
// plug-ins side by side, with the player started on the null output.
#pragma once

#include <memory>
#include <string>

#include "tests/engine/EngineTestSupport.h"

namespace plugintest {

// The folder (made once per process): in_mp3.dll, in_wave.dll, every test
// plug-in, a file that is not a library, a link mp3link.dll to in_mp3.dll,
// and copies of in_mp3.dll as IN_MP3.DLL and of in_wave.dll as wave1.dll ..
// wave9.dll.
const std::string& ProgramDir();

// Starts the player from the build's program directory, then points the
// program directory at ProgramDir() for the plug-ins. With a capture path
// the null output writes what it plays there.
std::unique_ptr<TBASSPlayer> StartPlayer(const std::string& capture = {});

}  // namespace plugintest
