// The bound library on the null output with a capture file, for one test.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <string>

#include "platform/bassbind/DRT_BASSWMA.h"
#include "platform/bassbind/Dynamic_BASS.h"

namespace bass_test {

// The build's program directory: KAV_BIN_DIR, else the working directory
// (CTest runs the tests there).
std::string binDir();
// Binds bass.dll and basswma.dll from the build's program directory (once).
bool bindLibraries();
// The device number of the null output.
int nullDevice();

// Counts a sync's calls and remembers when the first came and how much
// the capture file held then.
struct SyncCounter {
    std::atomic<int> calls{0};
    std::atomic<long long> captureBytesAtFirst{-1};
    std::string capturePath;
    static void proc(HSYNC, DWORD, DWORD_PTR, void* user);
};

class Session {
  public:
    // Opens the null output capturing to a new file named after the test.
    explicit Session(const std::string& name);
    ~Session();
    bool ok() const { return ok_; }
    const std::string& capturePath() const { return capture_; }
    // Ends the output so the capture file is complete (done by the destructor too).
    void close();

  private:
    std::string capture_;
    bool ok_ = false;
    bool open_ = false;
};

// Waits until cond holds or timeout passes; returns cond().
bool waitFor(const std::function<bool()>& cond, std::chrono::milliseconds timeout);
// Seconds on the steady clock since t.
double secondsSince(std::chrono::steady_clock::time_point t);
// The channel's position in seconds.
double positionSeconds(DWORD handle);

}  // namespace bass_test
