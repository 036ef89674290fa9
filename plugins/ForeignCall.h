// Calls into plug-ins, which are other people's code, made so that the GUI
// thread waits for each at most a bounded time.
//
// Threads: Call is made from the GUI thread only, one call at a time. The
// call runs on the call thread: the same thread for every call, until one
// overruns. A call that overruns is left running on its thread, which is
// given up to it: nobody waits for it again, it ends by itself if the call
// ever returns, and a new call thread serves the next call. So everything a
// call writes must belong to the call (captured by value or shared), never
// to the caller's stack.
#pragma once

#include <chrono>
#include <functional>

namespace foreign {

// The longest any call is waited for once the program is ending
// (win::QuitRequested): a call in progress then gets at most this much more.
constexpr std::chrono::milliseconds kQuittingLimit{300};

// Runs call on the call thread; true when it returned within limit.
bool Call(std::function<void()> call, std::chrono::milliseconds limit);

// Calls that overran and are still running.
int CallsStillInside();

}  // namespace foreign
