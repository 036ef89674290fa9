#include "RadioServer.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace nettest {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

// One metadata block: a length byte in 16-byte units, then the padded text.
std::string metaBlock(const std::string& text) {
    if (text.empty()) return std::string(1, '\0');
    std::string block = text.substr(0, 255 * 16);
    block.resize((block.size() + 15) / 16 * 16, '\0');
    return static_cast<char>(block.size() / 16) + block;
}

// The audio from byte at on, metadata blocks put in where they fall due.
class IcyWriter {
  public:
    IcyWriter(const LiveStream& s, bool metadata) : s_(s), metadata_(metadata && s.metaint > 0) {}

    // The next bytes carrying audio bytes of audio.
    std::string next(size_t audio) {
        std::string out;
        while (audio > 0) {
            const size_t room = metadata_ ? s_.metaint - sinceMeta_ : audio;
            const size_t n = std::min({audio, room, s_.audio.size() - at_});
            out.append(s_.audio, at_, n);
            at_ = (at_ + n) % s_.audio.size();
            audio -= n;
            sent_ += n;
            sinceMeta_ += n;
            if (metadata_ && sinceMeta_ == s_.metaint) out += meta();
        }
        return out;
    }
    double secondsSent() const { return double(sent_) / s_.bytesPerSecond; }

  private:
    std::string meta() {
        sinceMeta_ = 0;
        const std::string title = s_.title ? s_.title(secondsSent()) : std::string();
        if (title == last_) return metaBlock("");
        last_ = title;
        return metaBlock("StreamTitle='" + title + "';");
    }

    const LiveStream& s_;
    const bool metadata_;
    size_t at_ = s_.offset % s_.audio.size();
    size_t sent_ = 0, sinceMeta_ = 0;
    std::string last_;
};

}  // namespace

void serveLive(Reply& reply, const Request& request, const LiveStream& s) {
    std::string head = s.status + "\r\n";
    if (!s.contentType.empty()) head += "Content-Type: " + s.contentType + "\r\n";
    head += s.extraHeaders;
    if (request.wantsMetadata() && s.metaint > 0)
        head += "icy-metaint:" + std::to_string(s.metaint) + "\r\n";
    if (!reply.send(head + "\r\n")) return;
    IcyWriter writer(s, request.wantsMetadata());
    const auto total = static_cast<size_t>(s.seconds * s.bytesPerSecond);
    size_t sent = std::min(total, static_cast<size_t>(s.burstSeconds * s.bytesPerSecond));
    if (!reply.send(writer.next(sent))) return;
    // After the burst, every 20 ms as much as the pace allows.
    const auto start = Clock::now();
    double allowed = 0;
    for (auto tick = start; sent < total && !reply.stopping();) {
        tick += 20ms;
        std::this_thread::sleep_until(tick);
        const double t = std::chrono::duration<double>(tick - start).count();
        allowed += s.pace(t) * s.bytesPerSecond * 0.02;
        const auto n = std::min(total - sent, static_cast<size_t>(allowed));
        if (n == 0) continue;
        allowed -= double(n);
        sent += n;
        if (!reply.send(writer.next(n))) return;
    }
}

}  // namespace nettest
