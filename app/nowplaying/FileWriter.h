// Writes the station's files on a thread of its own, so that the GUI thread
// never waits for a disk: the as-run log's lines (each appended in one write
// to its day's file, the header first in a new file), the now-playing files
// (each replaced whole, so a reader never finds one half-written; then the
// ao_mudar command runs with agora.json's path), and the removal of old log
// files.
//
// Threads: the public operations are for one producer thread (the GUI
// thread); they only queue, under a lock held for a few instructions, with
// no system call and no wait. The writer's thread does every file operation.
// Lines wait in a bounded queue: when the disk is slower than lines come,
// lines are dropped and counted, the producer is never held up. Only the
// latest now-playing files wait: a newer state replaces one not yet written.
// Problems (a file that cannot be written, lines dropped) are kept for the
// producer to take and report, each once until writing works again.
//
// The destructor lets the thread write what is queued, waiting at most
// kExitWait for it; a thread stuck on a disk is left to the process's end.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

namespace win {
class CommandRunner;
}

namespace nowplaying {

class FileWriter {
  public:
    static constexpr std::size_t kMaxQueuedLines = 256;
    static constexpr std::chrono::milliseconds kExitWait{2000};

    // logDir: the day files' folder (made when missing); nowPlayingDir: the
    // folder of agora.json and agora.txt; runner runs the ao_mudar command
    // (none: no command), and must outlive the writer.
    FileWriter(std::string logDir, std::string nowPlayingDir, win::CommandRunner* runner);
    ~FileWriter();
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    // A line (its line end included) for the log file of that name.
    void AppendLine(std::string fileName, std::string line);
    // The now-playing files' texts; command (may be empty) runs once they are
    // written, with agora.json's path as its argument.
    void ReplaceNowPlaying(std::string json, std::string text, std::string command);
    // Removes the log files of the days before day ("AAAA-MM-DD").
    void RemoveDaysBefore(std::string day);
    // A problem met since the last call, or "".
    std::string TakeProblem();

    struct Counts {
        unsigned written = 0;   // lines on disk
        unsigned dropped = 0;   // lines never queued: the queue was full
        unsigned failed = 0;    // lines the disk refused
        unsigned replaced = 0;  // now-playing states written
        unsigned removed = 0;   // old log files removed
    };
    Counts counts() const;
    // Blocks until nothing is queued or being written, at most `limit`. For
    // tests and tools, never for the GUI thread.
    bool WaitIdle(std::chrono::milliseconds limit);

  private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
};

}  // namespace nowplaying
