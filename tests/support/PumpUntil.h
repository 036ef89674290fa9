// Runs the event loop, in real time, until pred holds or the limit is up.
#pragma once

#include <QCoreApplication>
#include <QEventLoop>

#include <chrono>
#include <functional>

inline bool PumpUntil(const std::function<bool()>& pred,
                      std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}
