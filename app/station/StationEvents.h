// Station events: what a station left alone reports (dead air, a skipped
// item, an unclean restart, a resumed start, its files not written; later
// issues add their own names). Each event is one time-stamped line on
// standard error, and runs the [estacao] alarme command, when one is set,
// with two arguments: the event's name and its one-line text. The command
// runs on the runner's thread; the caller never waits for it
// (platform/win/CommandRunner.h).
//
// GUI thread only.
#pragma once

#include <ctime>
#include <functional>
#include <string>

#include "platform/win/CommandRunner.h"

namespace station {

// The events' names, as the alarm command receives them.
namespace event {
constexpr const char* kSilence = "silencio";  // dead air: silence or a stuck output
constexpr const char* kFailure = "falha";     // an item skipped
constexpr const char* kStart = "arranque";    // a start that resumed playing by itself
constexpr const char* kRestart = "reinicio";  // the last run did not end in order
constexpr const char* kLog = "registo";       // the as-run log or now-playing files not written
}  // namespace event

// "YYYY-MM-DD hh:mm:ss [estacao] name: text", the text on one line.
std::string EventLine(std::time_t when, const std::string& name, const std::string& text);

class Events {
  public:
    explicit Events(win::CommandRunner& runner) : runner_(runner) {}

    void SetAlarm(std::string command) { alarm_ = std::move(command); }
    const std::string& Alarm() const { return alarm_; }
    // Where the lines go: standard error unless a test says otherwise.
    void SetSink(std::function<void(const std::string& line)> sink) { sink_ = std::move(sink); }

    // The one way to report a station event.
    void Report(const std::string& name, const std::string& text);

    // The runner of the program's outside commands, for other commands than
    // the alarm that must not be waited for either.
    win::CommandRunner& Runner() { return runner_; }

  private:
    win::CommandRunner& runner_;
    std::string alarm_;
    std::function<void(const std::string&)> sink_;
};

}  // namespace station
