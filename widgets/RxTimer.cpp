#include "widgets/RxTimer.h"

#include <utility>

TRxTimer::TRxTimer() {
    timer_.SetInterval(1000);
    timer_.OnTimer = [this] {
        if (onTimer_) onTimer_();
    };
}

void TRxTimer::SetEnabled(bool enabled) {
    enabled_ = enabled;
    apply();
}

void TRxTimer::SetInterval(unsigned ms) {
    timer_.SetEnabled(false);  // restarts the period with the new length
    timer_.SetInterval(ms);
    apply();
}

void TRxTimer::SetOnTimer(std::function<void()> onTimer) {
    onTimer_ = std::move(onTimer);
    apply();
}

void TRxTimer::apply() {
    timer_.SetEnabled(enabled_ && timer_.Interval() > 0 && onTimer_);
}
