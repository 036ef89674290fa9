#include "PluginHost.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/win/ProgramDir.h"
#include "tests/support/BinDir.h"

namespace fs = std::filesystem;

namespace plugintest {

const std::string& ProgramDir() {
    static const std::string dir = [] {
        const fs::path d = fs::path(enginetest::TempDir()) / "program";
        fs::create_directories(d);
        const fs::path bin = TestBinDir();
        const fs::path libs = TestPluginDir();
        for (const char* name : {"in_mp3.dll", "in_wave.dll"})
            fs::create_symlink(bin / name, d / name);
        // A second name for a library loaded already is a link; a copy is
        // another library, which may be loaded beside the first.
        fs::create_symlink(bin / "in_mp3.dll", d / "mp3link.dll");
        fs::copy_file(bin / "in_mp3.dll", d / "IN_MP3.DLL");
        for (const auto& entry : fs::directory_iterator(libs))
            fs::create_symlink(entry.path(), d / entry.path().filename());
        for (int i = 1; i <= 9; ++i)
            fs::copy_file(bin / "in_wave.dll", d / ("wave" + std::to_string(i) + ".dll"));
        std::ofstream(d / "not_a_library.dll") << "MZ but not really a library\n";
        return d.string();
    }();
    return dir;
}

std::unique_ptr<TBASSPlayer> StartPlayer(const std::string& capture) {
    enginetest::UseNullOutput();
    if (!capture.empty()) ::setenv("KAV_CAPTURE_WAV", capture.c_str(), 1);
    auto player = std::make_unique<TBASSPlayer>();
    ::unsetenv("KAV_CAPTURE_WAV");
    win::SetProgramDir(ProgramDir());
    return player;
}

}  // namespace plugintest
