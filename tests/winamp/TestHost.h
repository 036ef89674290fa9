// A small plug-in host for the tests: loads an input plug-in library from the
// program directory with every symbol resolved at load, hands it an output
// module that keeps what it is given, and records what the plug-in posts
// through the exported PostMessageA.
//
// The output drains its ring on a thread of its own at a chosen multiple of
// real time, so CanWrite and IsPlaying answer as a sound card's would.
#pragma once

#define KAV_WINAMP_HOST
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/winamp/In_Module.h"

namespace wtest {

// The window the host gives plug-ins; posts to any other handle get 0.
HWND mainWindow();

// End-of-file messages posted to mainWindow() since the last resetHost().
int endMessages();
// Waits (bounded) until at least one end message has been posted.
bool waitForEnd(std::chrono::milliseconds limit);

struct FlushCall {
    int ms;
    std::size_t heardBytes;  // what had been heard when Flush came
};

struct OutputLog {
    int rate = 0, channels = 0, bits = 0;
    int opens = 0, closes = 0, writesWhileClosed = 0;
    int refusedWrites = 0;  // blocks larger than the room CanWrite gave
    int volume = -1, pan = -1000;
    std::vector<int> pauses;  // the arguments of Pause
    std::vector<FlushCall> flushes;
    std::vector<int> setInfo;  // bit rate, sample rate, channels, synched of the last SetInfo
    std::vector<std::uint8_t> heard;
};

// Clears the log, the end messages and the output's ring; sets the pace.
void resetHost(double speed = 20.0);
OutputLog outputLog();
// Holds the output's clock (nothing more is heard) while true.
void holdOutput(bool hold);

// DSP seen by the plug-in: active or not, and the processing applied.
using DspFunction = int (*)(short* samples, int frames, int bps, int nch, int srate);
void setDsp(DspFunction dsp);  // null: inactive

// Counts of SAAddPCMData calls (only when installed).
int visualisationCalls();

class LoadedPlugin {
  public:
    // file: a library name in the program directory, e.g. "in_wave.dll".
    // withVisualisation installs SAAddPCMData and VSAAddPCMData.
    explicit LoadedPlugin(const std::string& file, bool withVisualisation = false);
    ~LoadedPlugin();
    LoadedPlugin(const LoadedPlugin&) = delete;
    LoadedPlugin& operator=(const LoadedPlugin&) = delete;

    In_Module* operator->() const { return module_; }
    In_Module* get() const { return module_; }
    std::string error() const { return error_; }

  private:
    void* library_ = nullptr;
    In_Module* module_ = nullptr;
    std::string error_;
};

}  // namespace wtest
