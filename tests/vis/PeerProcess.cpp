#include "PeerProcess.h"

#include <algorithm>

#include "tests/engine/EngineTestSupport.h"
#include "tests/support/BinDir.h"

PeerProcess::PeerProcess() {
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(QString::fromStdString((TestProgramDir() / "vis_peer").string()), {});
    ready_ = process_.waitForStarted(5000) && WaitFor("ready", std::chrono::seconds(5));
    Take();
}

PeerProcess::~PeerProcess() {
    process_.write("quit\n");
    if (!process_.waitForFinished(2000)) process_.kill();
    process_.waitForFinished(2000);
}

void PeerProcess::Poll() {
    pending_ += process_.readAllStandardOutput().toStdString();
    for (std::size_t end; (end = pending_.find('\n')) != std::string::npos;) {
        lines_.push_back(pending_.substr(0, end));
        pending_.erase(0, end + 1);
    }
}

bool PeerProcess::Seen(const std::string& prefix) const {
    return std::any_of(lines_.begin(), lines_.end(),
                       [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
}

bool PeerProcess::WaitFor(const std::string& prefix, std::chrono::milliseconds limit) {
    return enginetest::PumpUntil(
        [&] {
            Poll();
            return Seen(prefix);
        },
        limit);
}

void PeerProcess::Collect(std::chrono::milliseconds time) {
    enginetest::PumpFor(time);
    Poll();
}

bool PeerProcess::Send(const std::string& command) {
    Poll();
    const std::size_t before = lines_.size();
    process_.write((command + "\n").c_str());
    const bool answered = enginetest::PumpUntil(
        [&] {
            Poll();
            return std::any_of(
                lines_.begin() + static_cast<long>(before), lines_.end(),
                [](const std::string& l) { return l == "sent" || l == "no player"; });
        },
        std::chrono::seconds(5));
    auto answer =
        std::find_if(lines_.begin() + static_cast<long>(before), lines_.end(),
                     [](const std::string& l) { return l == "sent" || l == "no player"; });
    if (!answered) return false;
    const bool sent = *answer == "sent";
    lines_.erase(answer);
    return sent;
}

std::vector<std::string> PeerProcess::Take() {
    Poll();
    std::vector<std::string> taken;
    taken.swap(lines_);
    return taken;
}

std::vector<std::string> Starting(const std::vector<std::string>& lines,
                                  const std::string& prefix) {
    std::vector<std::string> out;
    for (const std::string& l : lines)
        if (l.rfind(prefix, 0) == 0) out.push_back(l);
    return out;
}
