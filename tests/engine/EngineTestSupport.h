// Shared helpers of the engine tests: fixtures made by real encoders in a
// temporary folder, a player on the null output, message-box recording and
// waits that dispatch the GUI thread's messages.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/BASSPlayer.h"

namespace enginetest {

// A temporary folder removed with its contents at the end of the process.
const std::string& TempDir();

// Runs a shell command; fails the current test when it does not exit 0.
bool Run(const std::string& command);

// Fixture files, made once per process (same name, same file).
// A sine tone as 16-bit PCM WAV.
std::string ToneWav(const std::string& name, double seconds, int channels = 2, int frequency = 1000,
                    int rate = 44100);
std::string CbrMp3(const std::string& name, double seconds, const std::string& lameTagArgs = {});
std::string VbrMp3(const std::string& name, double seconds);
std::string OggFile(const std::string& name, double seconds, const std::string& oggencArgs = {});
std::string WmaFile(const std::string& name, double seconds, const std::string& ffmpegArgs = {});
// Appends a 128-byte ID3v1 tag to a file.
void AppendId3v1(const std::string& path, const std::string& title, const std::string& artist,
                 int genre, int track);
std::vector<char> ReadAll(const std::string& path);
void WriteAll(const std::string& path, const std::vector<char>& data);

// The number of the null output in the library's device list.
uint8_t NullDevice();
// Points the program directory at the build's bin folder and the engine at
// the null output.
void UseNullOutput();

// Records every message box and answers it at once.
struct BoxRecorder {
    struct Box {
        std::string caption, text;
        unsigned flags;
    };
    BoxRecorder();
    ~BoxRecorder();
    std::vector<Box> boxes;
};

// Dispatches messages until pred holds or the time is up; returns pred().
bool PumpUntil(const std::function<bool()>& pred,
               std::chrono::milliseconds limit = std::chrono::seconds(5));
// Dispatches messages for the given time.
void PumpFor(std::chrono::milliseconds time);

}  // namespace enginetest
