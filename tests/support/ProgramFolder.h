// A program directory for the window tests, with the build's audio libraries
// and input plug-ins beside it, and the null output among its devices.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/bassbind/Dynamic_BASS.h"
#include "platform/win/DynLib.h"
#include "tests/support/BinDir.h"

// One folder for the process, removed at exit. The library stays mapped from
// the first test on: a thread of the sound system outlives an unload, and the
// windows' engines unload it as they go.
inline const std::filesystem::path& TestProgramFolder() {
    namespace fs = std::filesystem;
    // Never destroyed: the removal at exit still needs the path.
    static const fs::path& folder = *new fs::path([] {
        fs::path dir = fs::temp_directory_path() / ("kav-program-" + std::to_string(getpid()));
        fs::create_directories(dir);
        for (const char* lib : {"bass.dll", "basswma.dll", "in_mp3.dll", "in_wave.dll"})
            if (fs::exists(TestBinDir() / lib)) fs::copy_file(TestBinDir() / lib, dir / lib);
        win::LoadLibrary((dir / "bass.dll").string());
        std::atexit([] {
            std::error_code ignored;
            fs::remove_all(TestProgramFolder(), ignored);
        });
        return dir;
    }());
    return folder;
}

// The null output: so named, else the last device.
inline int TestNullDevice() {
    static const int device = [] {
        int found = 0, last = 0;
        if (!Load_BASSDLL((TestProgramFolder() / "bass.dll").string())) return 0;
        for (int i = 1; i < 256 && BASS_GetDeviceDescription(i); ++i) {
            last = i;
            if (std::string(BASS_GetDeviceDescription(i)).find("null") != std::string::npos)
                found = i;
        }
        Unload_BASSDLL();
        return found ? found : last;
    }();
    return device;
}
