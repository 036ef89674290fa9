// The test's visualiser (VisPeer) run as a process of its own, driven line by
// line, while the caller's event loop keeps running (the engine under test
// lives in the caller).
#pragma once

#include <QProcess>

#include <chrono>
#include <string>
#include <vector>

class PeerProcess {
  public:
    PeerProcess();  // starts it and waits until it is ready
    ~PeerProcess();

    bool Ready() const { return ready_; }
    // Sends a command; true once the peer has sent it on to a player.
    bool Send(const std::string& command);
    // Lines received since the last Take, removed.
    std::vector<std::string> Take();
    // Waits (running the event loop) until a received line starts with prefix.
    bool WaitFor(const std::string& prefix, std::chrono::milliseconds limit);
    // Runs the event loop and collects lines for the given time.
    void Collect(std::chrono::milliseconds time);

  private:
    void Poll();
    bool Seen(const std::string& prefix) const;

    QProcess process_;
    std::string pending_;
    std::vector<std::string> lines_;
    bool ready_ = false;
};

// Lines that start with prefix.
std::vector<std::string> Starting(const std::vector<std::string>& lines, const std::string& prefix);
