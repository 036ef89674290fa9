// Runs outside commands for the program without anyone waiting for them.
// Run() hands a command to the runner's own thread, which starts it through
// /bin/sh (the command line as written, with the arguments given as "$1",
// "$2", ...) in a process group of its own, with standard input from
// /dev/null and the program's standard output and error, reaps it, and kills
// its whole group once it has run for the time limit.
//
// At most kMaxRunning commands run at once; the others wait in the queue,
// which holds at most kMaxQueued (a command beyond that is dropped and
// counted): a burst of events never becomes a burst of processes.
//
// Threads: Run() may be called from any thread; it only queues (a short lock,
// no system call, no wait). Starting, reaping and killing happen on the
// runner's thread, which exists from the first Run() on. The destructor gives
// commands still running a short grace, then kills them, and joins.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace win {

class CommandRunner {
  public:
    explicit CommandRunner(std::chrono::milliseconds limit = std::chrono::seconds(10),
                           std::chrono::milliseconds graceAtEnd = std::chrono::seconds(1));
    ~CommandRunner();
    CommandRunner(const CommandRunner&) = delete;
    CommandRunner& operator=(const CommandRunner&) = delete;

    static constexpr std::size_t kMaxRunning = 4;
    static constexpr std::size_t kMaxQueued = 64;

    // Queues `command` (a shell command line; empty: nothing) to run with args.
    void Run(const std::string& command, std::vector<std::string> args = {});

    struct Counts {
        unsigned started = 0;   // processes started
        unsigned finished = 0;  // ended by themselves
        unsigned killed = 0;    // killed at the time limit or at the end
        unsigned failed = 0;    // could not be started
        unsigned dropped = 0;   // not run: the queue was full
    };
    Counts counts() const;
    // Blocks until nothing is queued or running, at most `limit`; false when
    // something still is. For tests and tools, never for the GUI thread.
    bool WaitIdle(std::chrono::milliseconds limit);

  private:
    using Clock = std::chrono::steady_clock;
    struct Job {
        std::string command;
        std::vector<std::string> args;
    };
    struct Child {
        pid_t pid;
        Clock::time_point deadline;
    };
    void loop();
    void start(const Job& job);
    void reap(Clock::time_point now);

    const std::chrono::milliseconds limit_, grace_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> queue_;
    bool stopping_ = false;
    Counts counts_;
    bool busy_ = false;            // the thread holds jobs taken from the queue
    std::vector<Child> children_;  // the runner's thread only
    std::thread thread_;
};

}  // namespace win
