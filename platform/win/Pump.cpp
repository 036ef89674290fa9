#include "platform/win/Pump.h"

#include <QCoreApplication>
#include <QThread>

#include <chrono>
#include <thread>

#include "platform/win/Clock.h"
#include "platform/win/Messages.h"

namespace win {
namespace {

// The time a wait has taken, on the clock its rests run on.
class Elapsed {
  public:
    explicit Elapsed(Rest rest)
        : program_(rest == Rest::Clock),
          realStart_(std::chrono::steady_clock::now()),
          tickStart_(program_ ? GetTickCount() : 0) {}

    std::uint32_t Ms() const {
        if (program_) return GetTickCount() - tickStart_;  // the tick counter wraps
        const auto taken = std::chrono::steady_clock::now() - realStart_;
        return static_cast<std::uint32_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(taken).count());
    }

  private:
    bool program_;
    std::chrono::steady_clock::time_point realStart_;
    std::uint32_t tickStart_;
};

void RestOnce(const PumpLimit& limit, bool gui) {
    if (gui && limit.rest == Rest::UntilPosted) return WaitForMessages(limit.restMs);
    if (gui) ProcessMessages();
    if (limit.rest == Rest::Clock)
        Sleep(limit.restMs);
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(limit.restMs));
}

bool LimitReached(const PumpLimit& limit, unsigned rests, const Elapsed& elapsed) {
    if (limit.rounds == 0 && limit.ms == 0) return true;
    if (limit.rounds != 0 && rests >= limit.rounds) return true;
    return limit.ms != 0 && elapsed.Ms() >= limit.ms;
}

}  // namespace

bool PumpWhile(const std::function<bool()>& waiting, const PumpLimit& limit) {
    if (!waiting()) return true;  // the common case costs one look
    const bool gui = OnGuiThread();
    const Elapsed elapsed(limit.rest);
    for (unsigned rests = 0; !LimitReached(limit, rests, elapsed); ++rests) {
        RestOnce(limit, gui);
        if (!waiting()) return true;
    }
    return false;
}

bool OnGuiThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

}  // namespace win
