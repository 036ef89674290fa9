// Output devices: those SDL2 reports (the default first), then the null
// output, which consumes the mix at real-time pace and can capture it to WAV.
// Whatever the device, what it takes leaves through the tap (Tap.h): the
// level meter, the capture and the stream outputs' rings are its consumers.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "LevelMeter.h"
#include "Tap.h"
#include "bass_types.h"

namespace kavbass {

class WavCapture;

class Output {
  public:
    // Device names by number from 1; the null output is always the last.
    static const std::vector<std::string>& deviceNames();
    static constexpr const char* kNullName = "No sound (null output)";

    Output();
    ~Output();
    // device from 1, as listed; false with a BASS_ERROR_* code.
    bool open(int device, DWORD freq, int& error);
    void close();
    bool isOpen() const { return device_ != 0; }
    int device() const { return device_; }
    DWORD rate() const { return rate_; }
    DWORD latencyMs() const { return latencyMs_; }
    // The level of what the output took (read by one reader thread).
    LevelMeter& meter() { return meter_; }
    // The consumers of what the output takes; they outlive a close and a reopen.
    Tap& tap() { return tap_; }
    // Writes what the capture, if any, has not yet written (not on the output thread).
    void flushCapture();
    // The one point after the final mix where the output receives the audio:
    // it goes to the tap's consumers. Output thread only.
    void receive(const int16_t* frames, size_t frameCount) { tap_.deliver(frames, frameCount); }

  private:
    bool openSdl(int device, int& error);
    void openNull();
    void nullLoop();
    void setCapture(const char* path);

    int device_ = 0;
    DWORD rate_ = 44100;
    DWORD latencyMs_ = 0;
    uint32_t sdlDevice_ = 0;
    std::thread nullThread_;
    std::atomic<bool> stopNull_{false};
    Tap tap_;
    LevelMeter meter_;
    std::unique_ptr<WavCapture> capture_;  // kept over a reopen: one capture per run
    bool paced_ = true;
};

}  // namespace kavbass
