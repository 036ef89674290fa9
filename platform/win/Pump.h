// The one way the GUI thread waits: it keeps dispatching messages while a
// condition holds, and gives up at a limit. Nothing else on the GUI thread
// loops over ProcessMessages.
//
// Threads: meant for the GUI thread. Called on any other thread it only
// rests between looks at the condition (it never dispatches there), so code
// that may run on either (the output emulator's writer) waits the same way.
#pragma once

#include <cstdint>
#include <functional>

namespace win {

// How a wait rests between two looks at what it waits for.
enum class Rest {
    // Real time, cut short as soon as a message is posted: for a wait on
    // another thread's message.
    UntilPosted,
    // Real time, in full: for a wait on another thread's work, which posts
    // nothing when it is done (the audio output, a plug-in's seek).
    Real,
    // The program's clock (win::Sleep), which a test clock moves by the rest:
    // for a wait that is part of what the program times (a fade).
    Clock,
};

// When a wait gives up: once `ms` have passed (on the rest's clock) or after
// `rounds` rests, whichever comes first. Every wait has one of the two; a
// limit with neither does not wait at all.
struct PumpLimit {
    std::uint32_t ms = 0;  // 0: no bound in time
    unsigned rounds = 0;   // 0: no bound in rests
    std::uint32_t restMs = 1;
    Rest rest = Rest::UntilPosted;

    static constexpr PumpLimit Within(std::uint32_t ms, std::uint32_t restMs, Rest rest) {
        return {ms, 0, restMs, rest};
    }
    static constexpr PumpLimit Rounds(unsigned rounds, std::uint32_t restMs, Rest rest) {
        return {0, rounds, restMs, rest};
    }
};

// While waiting() is true: dispatches every pending message, then rests (at
// most restMs), then asks again. waiting() is asked first, before anything is
// dispatched, and once more after the last rest. True when waiting() ended
// the wait, false when the limit did.
//
// Waits nest: a handler it dispatches may wait in turn. The inner wait runs
// to its own end first; the outer one then goes on, its time limit counting
// the time the inner one took and its rounds counting that rest as one. What
// must not start again inside its own wait (a fade, a start) is guarded where
// it waits, since each of those does something of its own when called again.
bool PumpWhile(const std::function<bool()>& waiting, const PumpLimit& limit);

// True on the thread the application's messages are dispatched on.
bool OnGuiThread();

}  // namespace win
