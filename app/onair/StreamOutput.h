// One stream output: what the program plays, encoded and sent to an Icecast
// server as a source, on a thread of its own, for as long as the output
// lives. A refused or lost connection (a server that is down or restarts, a
// mount still held by the last source, a connection that stops taking what
// is sent) is tried again by itself after 1 s, then after longer and longer
// waits up to 30 s, forever; a wrong password or a missing mount is tried
// again only every 30 s. Each outage is reported once, when it begins; the
// end of one is reported too (not as an alarm).
//
// Threads: the constructor, the destructor and Status() run on the
// program's GUI thread; SetTitle() on any thread. Everything else runs on
// the output's own thread, which never touches the program's sound: it takes
// what the output took from a tap (AudioSource), and a thread that falls
// behind loses sound there, counted and reported once a minute. The hooks
// are called on the output's thread.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "AudioSource.h"
#include "Encoder.h"
#include "OnAirSettings.h"

namespace onair {

// The event name stations' alarm commands receive for the outputs.
constexpr const char* kEvent = "transmissao";

struct Report {
    enum class Kind {
        Outage,  // an outage began (an alarm)
        Back,    // it ended
        Lost,    // sound lost by a thread that fell behind (an alarm)
    };
    int output = 0;  // 1 .. kOutputs
    Kind kind = Kind::Outage;
    std::string text;
};

struct Status {
    enum class State { Off, Connecting, OnAir, Error };
    State state = State::Off;
    std::string error;  // State::Error: why
};

// Tunings, shortened by tests.
struct Timings {
    std::chrono::milliseconds tick{50};           // how often the thread wakes
    std::chrono::milliseconds connect{10000};     // a connection's answer is waited for this long
    std::chrono::milliseconds stall{4000};        // of sound queued unsent: the connection stalls
    std::chrono::milliseconds lossReport{60000};  // lost sound is reported this often at most
};

class StreamOutput {
  public:
    struct Hooks {
        // The sound to send (called once, on the output's thread).
        std::function<std::unique_ptr<AudioSource>()> openSource;
        std::function<void(const Report&)> report;
    };

    StreamOutput(int number, const OutputSettings& settings, const Tags& title, Hooks hooks,
                 Timings timings = {});
    // Stops: the connection ends at once (the server frees the mount). A
    // thread held up (a name lookup) is waited for a few seconds at most.
    ~StreamOutput();
    StreamOutput(const StreamOutput&) = delete;
    StreamOutput& operator=(const StreamOutput&) = delete;

    const OutputSettings& Settings() const { return settings_; }
    // Asks the thread to stop without waiting (the destructor waits), so that
    // several outputs stop together.
    void Stop();
    void SetTitle(const Tags& title);
    Status GetStatus() const;

  private:
    struct Worker;
    OutputSettings settings_;
    std::shared_ptr<Worker> worker_;
};

// "Artista - Título", the title or the artist alone when the other is
// missing; empty when both are.
std::string SongText(const Tags& tags);

}  // namespace onair
