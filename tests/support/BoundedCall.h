// A call that must return promptly although it may block on a named pipe:
// it runs on the calling thread while a watchdog waits. Past the limit the
// watchdog opens the pipe's writing end now and then, which releases an open
// or a read that waits on the pipe, so the test goes on and reports the
// overrun instead of hanging; a call still stuck long after that aborts.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

// Runs call(); true when it returned within limit.
template <class Call>
bool ReturnsWithin(std::chrono::milliseconds limit, const std::string& pipePath, Call&& call) {
    using Clock = std::chrono::steady_clock;
    std::mutex mutex;
    std::condition_variable doneChanged;
    bool done = false;
    const auto deadline = Clock::now() + limit;
    std::thread watchdog([&] {
        std::unique_lock lock(mutex);
        if (doneChanged.wait_until(lock, deadline, [&] { return done; })) return;
        const auto giveUp = Clock::now() + std::chrono::seconds(30);
        while (!doneChanged.wait_for(lock, std::chrono::milliseconds(50), [&] { return done; })) {
            if (!pipePath.empty()) {
                const int fd = ::open(pipePath.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                if (fd >= 0) ::close(fd);
            }
            if (Clock::now() > giveUp) {
                std::fprintf(stderr, "call on %s still blocked after 30 s\n", pipePath.c_str());
                std::abort();
            }
        }
    });
    call();
    const bool inTime = Clock::now() <= deadline;
    {
        std::lock_guard lock(mutex);
        done = true;
    }
    doneChanged.notify_all();
    watchdog.join();
    return inTime;
}
