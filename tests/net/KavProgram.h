// The built program, run in a program directory of its own (a copy of the
// build's) with Qt's offscreen platform and the null output capturing what it
// plays; kavvis --dump beside it records the stream information the program
// gives its visualiser (titles and bit rates as the window shows them).
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Processes.h"
#include "tests/support/Capture.h"
#include "tests/support/TempDir.h"

namespace nettest {

// A stretch of the capture where one tone sounds, in seconds.
struct Heard {
    double start = 0, end = 0;
    int freq = 0;  // to the nearest 10 Hz
};
// The tones of a capture in order, silences shorter than minGap seconds
// inside a tone passed over.
std::vector<Heard> heardTones(const bass_test::Capture& capture, double minGap = 0.25);
std::string describe(const std::vector<Heard>& tones);

class KavProgram {
  public:
    KavProgram();
    ~KavProgram();
    std::string file(const std::string& name) const { return dir_.File(name); }

    // The rows play one after another: the programme list starts a short
    // tone (kStartTone Hz) a few seconds after the start, then the playlist
    // goes on with rows, and stops after the last.
    static constexpr int kStartTone = 1500;
    void playInOrder(const std::vector<std::string>& rows);
    // Starts kavvis --dump, then the program, with extra environment entries.
    void start(const std::vector<std::string>& env = {});
    // SIGTERM: the exit status, -1 when it did not end in time.
    int stop();

    std::string errors() const;  // the program's standard error
    bool capture(bass_test::Capture& heard) const;
    // The tones heard so far (the capture grows as the program plays).
    std::vector<Heard> tones() const;
    // "record 2 ..." lines: the stream information sent to the visualiser.
    std::vector<std::string> streamRecords() const;

  private:
    TempDir dir_;
    std::string scope_;
    std::unique_ptr<Child> vis_, kav_;
};

// A 16-bit stereo WAV tone made by sox in dir.
std::string toneWav(const std::string& path, double seconds, int freq);
// Polls pred every 50 ms until it holds or limit passes; returns pred().
bool waitUntil(const std::function<bool()>& pred, std::chrono::milliseconds limit);

}  // namespace nettest
