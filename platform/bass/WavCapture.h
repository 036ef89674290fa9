// Writes what the output takes to a 16-bit stereo PCM WAV file, keeping the
// header valid after every period written, so that a killed process still
// leaves a readable file.
//
// The capture is a consumer of the output's tap: the output thread only
// copies blocks into ring() (never a system call there); a thread of the
// capture's own writes them to the file every few milliseconds. A capture
// that falls behind loses audio, counted and reported once a minute on
// standard error.
//
// Threads: ring() is attached to the tap by the output's owner; flush() may
// be called from any thread (the output's owner calls it once the output has
// stopped, so the file holds everything taken). The writes themselves run on
// the capture's thread, or in flush(), one at a time.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "TapRing.h"

namespace kavbass {

class WavCapture {
  public:
    WavCapture(const std::string& path, uint32_t rate);
    // Detach ring() from the tap first.
    ~WavCapture();
    WavCapture(const WavCapture&) = delete;
    WavCapture& operator=(const WavCapture&) = delete;

    const std::string& path() const { return path_; }
    uint32_t rate() const { return rate_; }
    TapRing& ring() { return ring_; }
    // Writes everything the ring holds now.
    void flush();

  private:
    void run();
    void drain();
    void append(const int16_t* frames, size_t frameCount);
    void writeHeader();
    void reportLoss();

    std::string path_;
    uint32_t rate_;
    TapRing ring_;
    std::mutex writing_;  // one drain at a time: the thread's or flush()'s
    int fd_ = -1;
    uint64_t dataBytes_ = 0;
    std::vector<int16_t> period_;  // one period of frames, read from the ring
    uint64_t lostReported_ = 0;
    std::chrono::steady_clock::time_point nextLossReport_;
    std::mutex stopMtx_;
    std::condition_variable stopCv_;
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace kavbass
