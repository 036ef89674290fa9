#include "platform/win/Timer.h"

#include <QTimer>

#include "platform/win/Clock.h"

namespace win {

struct Timer::Impl {
    QTimer timer;
    unsigned interval = 1000;
    bool aligned = false;
    bool enabled = false;
    bool once = false;    // a StartOnce is pending
    bool firing = false;  // inside OnTimer
    unsigned onceMs = 0;

    // Until the next multiple of the interval on the clock; never 0, so an
    // early wake-up cannot fire twice for one moment.
    int msToNextBoundary() const {
        const unsigned period = interval ? interval : 1;
        return static_cast<int>(period - TimeOfDayMs() % period);
    }
    void arm() {
        if (once) {
            timer.setSingleShot(true);
            timer.start(static_cast<int>(onceMs));
        } else if (aligned) {
            timer.setSingleShot(true);
            timer.start(msToNextBoundary());
        } else {
            timer.setSingleShot(false);
            timer.start(static_cast<int>(interval));
        }
    }
};

Timer::Timer() : impl_(std::make_unique<Impl>()) {
    impl_->timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&impl_->timer, &QTimer::timeout, [this] {
        Impl& t = *impl_;
        if (t.once) t.once = t.enabled = false;
        t.firing = true;
        if (OnTimer) OnTimer();
        t.firing = false;
        // An aligned timer is armed again only now: an OnTimer that
        // dispatches messages is not entered again from inside itself.
        if (t.enabled && t.aligned && !t.once && !t.timer.isActive()) t.arm();
    });
}

Timer::~Timer() = default;

void Timer::SetInterval(unsigned ms) {
    impl_->interval = ms;
    if (!impl_->aligned && !impl_->once) impl_->timer.setInterval(static_cast<int>(ms));
}

unsigned Timer::Interval() const {
    return impl_->interval;
}

void Timer::SetEnabled(bool enabled) {
    Impl& t = *impl_;
    if (enabled == t.enabled && !t.once) return;
    t.enabled = enabled;
    t.once = false;
    if (!enabled)
        t.timer.stop();
    else if (!(t.firing && t.aligned))
        t.arm();
}

bool Timer::Enabled() const {
    return impl_->enabled;
}

void Timer::SetAlignedToClock(bool aligned) {
    Impl& t = *impl_;
    t.aligned = aligned;
    if (t.enabled && !t.once && !t.firing) t.arm();
}

void Timer::StartOnce(unsigned ms) {
    Impl& t = *impl_;
    t.once = t.enabled = true;
    t.onceMs = ms;
    t.arm();
}

}  // namespace win
