// Runs the built program in a program directory of its own: a copy of the
// build's bin folder with its own kav.ini and lists, the null output captured.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace e2e {

// Local time of day in milliseconds, as the program reads it.
std::uint32_t LocalTimeOfDayMs();
std::string TimeText(std::uint32_t ms);  // "hh:mm:ss", seconds rounded down

class ProgramRun {
  public:
    ProgramRun();   // makes the directory and copies the program into it
    ~ProgramRun();  // ends the program if it still runs, removes the directory

    const std::filesystem::path& Dir() const { return dir_; }
    // The capture of the latest start.
    std::string Capture() const { return (dir_ / capture_).string(); }
    // What the latest start wrote on standard error.
    std::string Stderr() const;
    // A sine tone file in the directory (sox).
    std::string Tone(const std::string& name, double seconds, int frequency);
    // Writes a file beside the program, lines ended by CR LF.
    void WriteLines(const std::string& name, const std::vector<std::string>& lines);
    // The number of the null output in the library's device list.
    int NullDevice() const;

    bool Start();
    // With arguments, more environment ("NAME=value"), and a capture file
    // and standard error of its own for this start (names in Dir()).
    struct Launch {
        std::vector<std::string> args{};
        std::vector<std::string> env{};
        std::string capture = "capture.wav";
        std::string stderrFile = "stderr.txt";
    };
    bool Start(const Launch& launch);
    pid_t Pid() const { return pid_; }
    // The local time of day at Start, in ms.
    std::uint32_t StartTimeOfDay() const { return startTimeOfDay_; }
    bool Running();
    // How the latest start ended (a wait status), once Running, Terminate or
    // Kill has seen it end; -1 before.
    int EndStatus() const { return endStatus_; }
    // SIGTERM, then waits; false when it did not end within the limit.
    bool Terminate(std::chrono::milliseconds limit, int& status);
    // SIGKILL, and waits for the end.
    void Kill();
    // Samples of (time since Start, captured bytes) taken by WaitFor.
    struct Sample {
        double wall;
        std::uintmax_t bytes;
    };
    const std::vector<Sample>& Samples() const { return samples_; }
    // Waits while the program runs, sampling the capture's growth.
    void WaitFor(std::chrono::milliseconds time);
    // When the capture started, in seconds since Start, from the samples.
    double CaptureStart() const;
    // When the capture had reached `seconds` of sound, in seconds since Start,
    // from the samples (each sample's bytes were written by its time); -1
    // when no sample reached it.
    double CaptureWall(double seconds) const;
    // The system clock and the steady clock at Start.
    std::chrono::system_clock::time_point StartedAt() const { return startedAt_; }
    std::chrono::steady_clock::time_point StartedSteady() const { return started_; }

  private:
    std::filesystem::path dir_;
    std::string capture_ = "capture.wav";
    std::string stderr_ = "stderr.txt";
    pid_t pid_ = -1;
    int endStatus_ = -1;
    std::chrono::steady_clock::time_point started_;
    std::chrono::system_clock::time_point startedAt_;
    std::uint32_t startTimeOfDay_ = 0;
    std::vector<Sample> samples_;
};

}  // namespace e2e
