#include "platform/win/Timer.h"

#include <QTimer>

namespace win {

struct Timer::Impl {
    QTimer timer;
    unsigned interval = 1000;
};

Timer::Timer() : impl_(std::make_unique<Impl>()) {
    impl_->timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&impl_->timer, &QTimer::timeout, [this] {
        if (OnTimer) OnTimer();
    });
}

Timer::~Timer() = default;

void Timer::SetInterval(unsigned ms) {
    impl_->interval = ms;
    impl_->timer.setInterval(static_cast<int>(ms));
}

unsigned Timer::Interval() const {
    return impl_->interval;
}

void Timer::SetEnabled(bool enabled) {
    if (enabled == impl_->timer.isActive()) return;
    if (enabled)
        impl_->timer.start(static_cast<int>(impl_->interval));
    else
        impl_->timer.stop();
}

bool Timer::Enabled() const {
    return impl_->timer.isActive();
}

}  // namespace win
