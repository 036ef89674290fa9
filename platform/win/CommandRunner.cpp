#include "platform/win/CommandRunner.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

extern char** environ;

namespace win {
namespace {

constexpr std::chrono::milliseconds kReapPoll{50};

// The child starts with no signal blocked and the usual actions for the
// signals a program commonly changes.
void resetSignals(posix_spawnattr_t& attr) {
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int s : {SIGPIPE, SIGINT, SIGTERM, SIGCHLD, SIGHUP}) sigaddset(&defaults, s);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(
        &attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
}

}  // namespace

CommandRunner::CommandRunner(std::chrono::milliseconds limit, std::chrono::milliseconds graceAtEnd)
    : limit_(limit), grace_(graceAtEnd) {}

CommandRunner::~CommandRunner() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void CommandRunner::Run(const std::string& command, std::vector<std::string> args) {
    if (command.empty()) return;
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        if (queue_.size() >= kMaxQueued) {
            ++counts_.dropped;
            return;
        }
        queue_.push_back({command, std::move(args)});
        if (!thread_.joinable()) thread_ = std::thread([this] { loop(); });
    }
    wake_.notify_all();
}

CommandRunner::Counts CommandRunner::counts() const {
    std::lock_guard lock(mutex_);
    return counts_;
}

bool CommandRunner::WaitIdle(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return wake_.wait_for(lock, limit, [this] { return queue_.empty() && !busy_; });
}

void CommandRunner::loop() {
    Clock::time_point endBy{};
    std::unique_lock lock(mutex_);
    for (;;) {
        auto ready = [this] {
            return stopping_ || (!queue_.empty() && children_.size() < kMaxRunning);
        };
        if (children_.empty())
            wake_.wait(lock, ready);
        else
            wake_.wait_for(lock, kReapPoll, ready);
        std::deque<Job> jobs;
        while (!stopping_ && !queue_.empty() && children_.size() + jobs.size() < kMaxRunning) {
            jobs.push_back(std::move(queue_.front()));
            queue_.pop_front();
        }
        busy_ = true;
        if (stopping_ && endBy == Clock::time_point{}) endBy = Clock::now() + grace_;
        lock.unlock();
        for (const Job& job : jobs) start(job);
        const Clock::time_point now = Clock::now();
        if (endBy != Clock::time_point{})
            for (Child& c : children_) c.deadline = std::min(c.deadline, endBy);
        reap(now);
        lock.lock();
        busy_ = !children_.empty();
        wake_.notify_all();  // WaitIdle
        if (stopping_ && children_.empty()) {
            counts_.dropped += unsigned(queue_.size());  // not started at the end
            queue_.clear();
            return;
        }
    }
}

void CommandRunner::start(const Job& job) {
    std::vector<std::string> words = {"/bin/sh", "-c", job.command + " \"$@\"", "kav"};
    words.insert(words.end(), job.args.begin(), job.args.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    resetSignals(attr);
    pid_t pid = 0;
    const int err = posix_spawn(&pid, "/bin/sh", &files, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&files);

    std::lock_guard lock(mutex_);
    if (err != 0) {
        ++counts_.failed;
        return;
    }
    ++counts_.started;
    children_.push_back({pid, Clock::now() + limit_});
}

// Ended children are reaped; those past their deadline lose their whole
// process group (the shell and whatever it started) and are reaped next time.
void CommandRunner::reap(Clock::time_point now) {
    unsigned finished = 0, killed = 0;
    std::erase_if(children_, [&](Child& c) {
        int status = 0;
        const pid_t r = ::waitpid(c.pid, &status, WNOHANG);
        if (r == c.pid || (r < 0 && errno == ECHILD)) {
            ++finished;
            return true;
        }
        if (now >= c.deadline) {
            ::kill(-c.pid, SIGKILL);
            ::waitpid(c.pid, &status, 0);  // SIGKILL cannot be held off: at once
            ++killed;
            return true;
        }
        return false;
    });
    std::lock_guard lock(mutex_);
    counts_.finished += finished;
    counts_.killed += killed;
}

}  // namespace win
