// The list loader: an .m3u file of any content read into both grids, and the
// list files written back from them. The list lies in a folder of its own, so
// its relative lines (itself included) name only what the fuzzer wrote.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "ListFiles.h"

namespace {

const std::string& ListPath() {
    static const std::string path = [] {
        auto dir =
            std::filesystem::temp_directory_path() / ("kav_fuzz_m3u_" + std::to_string(getpid()));
        std::filesystem::create_directories(dir);
        return (dir / "lista.m3u").string();
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = ListPath();
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        if (size) std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    StringGrid playlist({25, 403, 342});
    StringGrid prgmlist({25, 68, 163, 249});
    try {
        AddToPlaylist(playlist, path);
        AddToProgrammeList(prgmlist, path, kNoStartTime);
    } catch (const ListFileError&) {
    }
    volatile size_t sink = PlaylistText(playlist).size() + ProgrammeListText(prgmlist).size();
    (void)sink;
    return 0;
}
