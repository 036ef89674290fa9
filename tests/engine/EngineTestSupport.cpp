#include "EngineTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "platform/bassbind/Dynamic_BASS.h"
#include "platform/win/MessageBox.h"
#include "platform/win/ProgramDir.h"
#include "tests/support/BinDir.h"
#include "tests/support/Pcm.h"

namespace fs = std::filesystem;

namespace enginetest {
namespace {

struct TempFolder {
    std::string path;
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "kav-engine-XXXXXX").string();
        if (mkdtemp(pattern.data())) path = pattern;
    }
    ~TempFolder() {
        std::error_code ec;
        if (!path.empty()) fs::remove_all(path, ec);
    }
};

std::string quoted(const std::string& path) {
    return "'" + path + "'";
}

// Makes a fixture once: later calls with the same name reuse the file.
std::string makeOnce(const std::string& name, const std::function<void(const std::string&)>& make) {
    static std::map<std::string, std::string> made;
    auto it = made.find(name);
    if (it != made.end()) return it->second;
    const std::string path = TempDir() + "/" + name;
    make(path);
    made[name] = path;
    return path;
}

}  // namespace

const std::string& TempDir() {
    static TempFolder folder;
    return folder.path;
}

bool Run(const std::string& command) {
    const int rc = std::system((command + " >/dev/null 2>&1").c_str());
    EXPECT_EQ(rc, 0) << command;
    return rc == 0;
}

std::string ToneWav(const std::string& name, double seconds, int channels, int frequency,
                    int rate) {
    return makeOnce(name, [&](const std::string& path) {
        Run(testsound::soxToneCommand(path, {seconds, double(frequency), channels, rate}));
    });
}

std::string CbrMp3(const std::string& name, double seconds, const std::string& lameTagArgs) {
    return makeOnce(name, [&](const std::string& path) {
        const std::string wav = ToneWav(name + ".src.wav", seconds);
        Run("lame --quiet -b 128 " + lameTagArgs + " " + quoted(wav) + " " + quoted(path));
    });
}

std::string VbrMp3(const std::string& name, double seconds) {
    return makeOnce(name, [&](const std::string& path) {
        const std::string src = name + ".src.wav";
        const std::string wav = makeOnce(src, [&](const std::string& p) {
            // A sweep, so that the encoder really varies the frame size.
            Run("sox -n -r 44100 -c 2 -b 16 " + quoted(p) + " synth " + std::to_string(seconds) +
                " sine 200-8000 vol 0.5");
        });
        Run("lame --quiet -V 2 " + quoted(wav) + " " + quoted(path));
    });
}

std::string OggFile(const std::string& name, double seconds, const std::string& oggencArgs) {
    return makeOnce(name, [&](const std::string& path) {
        const std::string wav = ToneWav(name + ".src.wav", seconds);
        Run("oggenc -Q " + oggencArgs + " -o " + quoted(path) + " " + quoted(wav));
    });
}

std::string WmaFile(const std::string& name, double seconds, const std::string& ffmpegArgs) {
    return makeOnce(name, [&](const std::string& path) {
        const std::string wav = ToneWav(name + ".src.wav", seconds);
        Run("ffmpeg -nostdin -loglevel error -y -i " + quoted(wav) + " -c:a wmav2 -b:a 128k " +
            ffmpegArgs + " " + quoted(path));
    });
}

void AppendId3v1(const std::string& path, const std::string& title, const std::string& artist,
                 int genre, int track) {
    char tag[128] = {};
    std::memcpy(tag, "TAG", 3);
    std::memcpy(tag + 3, title.data(), std::min<std::size_t>(title.size(), 30));
    std::memcpy(tag + 33, artist.data(), std::min<std::size_t>(artist.size(), 30));
    std::memcpy(tag + 93, "2001", 4);
    tag[125] = 0;
    tag[126] = static_cast<char>(track);
    tag[127] = static_cast<char>(genre);
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out.write(tag, sizeof tag);
}

std::vector<char> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const std::string& path, const std::vector<char>& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
}

uint8_t NullDevice() {
    static const uint8_t device = [] {
        uint8_t found = 0;
        if (Load_BASSDLL(win::ProgramDir() + win::PathDelim + "bass.dll")) {
            for (int i = 1; i < 256 && !found; ++i) {
                const char* name = BASS_GetDeviceDescription(i);
                if (!name) break;
                if (std::string(name) == "No sound (null output)") found = static_cast<uint8_t>(i);
            }
            Unload_BASSDLL();
        }
        return found;
    }();
    return device;
}

void UseNullOutput() {
    // CTest runs the tests in the build's bin folder, the program directory.
    win::SetProgramDir(TestBinDir().string());
    StartupDevice = NullDevice();
    ASSERT_NE(StartupDevice, 0) << "the null output is not in the device list";
}

BoxRecorder::BoxRecorder() {
    win::SetMessageBoxHandler(
        [this](const std::string& caption, const std::string& text, unsigned flags) {
            boxes.push_back({caption, text, flags});
            return win::IDOK;
        });
}

BoxRecorder::~BoxRecorder() {
    win::SetMessageBoxHandler({});
}

bool PumpUntil(const std::function<bool()>& pred, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!pred() && std::chrono::steady_clock::now() < end) {
        win::ProcessMessages();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return pred();
}

void PumpFor(std::chrono::milliseconds time) {
    const auto end = std::chrono::steady_clock::now() + time;
    while (std::chrono::steady_clock::now() < end) {
        win::ProcessMessages();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

}  // namespace enginetest
