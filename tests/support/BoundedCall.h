// A call that must return promptly although it may block on something the
// test controls (a named pipe, a server): it runs on the calling thread while
// a watchdog waits. Past the limit the watchdog calls release now and then
// (opening a pipe's writing end, closing a server's connections), so the test
// goes on and reports the overrun instead of hanging; a call still stuck long
// after that aborts.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

// A release that opens the writing end of a named pipe, which lets an open or
// a read waiting on it go on (to an end of file).
inline std::function<void()> PipeRelease(const std::string& pipePath) {
    return [pipePath] {
        const int fd = ::open(pipePath.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) ::close(fd);
    };
}

// Runs call(); true when it returned within limit.
template <class Call>
bool ReturnsWithin(std::chrono::milliseconds limit, const std::function<void()>& release,
                   Call&& call) {
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
            if (release) release();
            if (Clock::now() > giveUp) {
                std::fprintf(stderr, "call still blocked 30 s after its release\n");
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
