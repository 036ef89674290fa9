#include "StreamAudio.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>

#include "tests/support/Pcm.h"
#include "tests/support/TempDir.h"

namespace nettest {

namespace fs = std::filesystem;

const std::string& mp3Tone(int freq) {
    static std::mutex mtx;
    static std::map<int, std::string> made;
    static TempDir dir;
    std::lock_guard<std::mutex> lk(mtx);
    std::string& mp3 = made[freq];
    if (mp3.empty()) {
        const std::string wav = dir.File("tone" + std::to_string(freq) + ".wav");
        const std::string out = dir.File("tone" + std::to_string(freq) + ".mp3");
        const std::string cmd = testsound::soxToneCommand(wav, {4, double(freq)}) +
                                " && lame --quiet -t -b 128 '" + wav + "' '" + out + "'";
        if (std::system(cmd.c_str()) == 0) mp3 = TempDir::Read(out);
    }
    return mp3;
}

}  // namespace nettest
