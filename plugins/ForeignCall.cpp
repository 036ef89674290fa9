#include "plugins/ForeignCall.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/win/Application.h"

namespace foreign {
namespace {

using Clock = std::chrono::steady_clock;

// How often a waiting caller looks whether the program is ending.
constexpr std::chrono::milliseconds kQuitPoll{20};

std::atomic<int> stillInside{0};

// What the caller and one call thread share; guarded by mutex.
struct Hand {
    std::mutex mutex;
    std::condition_variable given;     // a call was given, or the thread is to end
    std::condition_variable returned;  // the call returned
    std::function<void()> call;
    bool pending = false;  // a call was given and has not returned yet
    bool ending = false;   // the thread ends after its call: it was given up
};

// The call thread's loop: one call at a time until it is told to end.
void Serve(std::shared_ptr<Hand> hand) {
    std::unique_lock lock(hand->mutex);
    for (;;) {
        hand->given.wait(lock, [&] { return hand->pending || hand->ending; });
        if (!hand->pending) return;
        std::function<void()> call = std::move(hand->call);
        lock.unlock();
        call();
        call = nullptr;  // what it captured goes on this thread, outside the lock
        lock.lock();
        hand->pending = false;
        hand->returned.notify_all();
        if (hand->ending) {  // given up while inside: nobody waits for it now
            stillInside.fetch_sub(1);
            return;
        }
    }
}

// The current call thread, made on first use and again after one was given up.
class CallThread {
  public:
    CallThread() : hand_(std::make_shared<Hand>()), thread_(Serve, hand_) {}
    ~CallThread() {
        {
            std::lock_guard lock(hand_->mutex);
            hand_->ending = true;
        }
        hand_->given.notify_all();
        if (thread_.joinable()) thread_.join();
    }
    CallThread(const CallThread&) = delete;
    CallThread& operator=(const CallThread&) = delete;

    // True when the call returned in time; false leaves this thread to it.
    bool Run(std::function<void()> call, std::chrono::milliseconds limit) {
        std::unique_lock lock(hand_->mutex);
        hand_->call = std::move(call);
        hand_->pending = true;
        hand_->given.notify_all();
        if (Wait(lock, limit)) return true;
        hand_->ending = true;
        stillInside.fetch_add(1);
        lock.unlock();
        thread_.detach();
        return false;
    }

  private:
    bool Wait(std::unique_lock<std::mutex>& lock, std::chrono::milliseconds limit) {
        auto deadline = Clock::now() + limit;
        bool quitSeen = false;
        while (hand_->pending) {
            if (!quitSeen && win::QuitRequested()) {
                quitSeen = true;
                deadline = std::min(deadline, Clock::now() + kQuittingLimit);
            }
            const auto now = Clock::now();
            if (now >= deadline) return false;
            hand_->returned.wait_until(lock, std::min(deadline, now + kQuitPoll));
        }
        return true;
    }

    std::shared_ptr<Hand> hand_;
    std::thread thread_;
};

std::unique_ptr<CallThread>& current() {
    static std::unique_ptr<CallThread> thread;
    return thread;
}

}  // namespace

bool Call(std::function<void()> call, std::chrono::milliseconds limit) {
    std::unique_ptr<CallThread>& thread = current();
    if (!thread) thread = std::make_unique<CallThread>();
    if (win::QuitRequested()) limit = std::min(limit, kQuittingLimit);
    if (thread->Run(std::move(call), limit)) return true;
    thread.reset();
    return false;
}

int CallsStillInside() {
    return stillInside.load();
}

}  // namespace foreign
