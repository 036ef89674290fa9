// plugin_call_bench [CALLS]: the time one call into a plug-in takes when it is
// made through the bounded call (handed to the thread of plug-in calls and
// waited for), beside the same call made directly, for a call that does
// nothing and for one that does a little work (some microseconds). Prints the median, the
// 99th percentile and the mean of each, and what the bounded call adds.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include "plugins/ForeignCall.h"

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<long> sink{0};

// Stands for a plug-in's function: nothing, or a little arithmetic.
void Nothing() {
    sink.fetch_add(1, std::memory_order_relaxed);
}

void Some() {
    long x = 0;
    for (int i = 0; i < 20000; ++i) x += i * (i ^ 7);
    sink.fetch_add(x, std::memory_order_relaxed);
}

struct Stats {
    double median, p99, mean;  // microseconds
};

Stats Measure(int calls, const std::function<void()>& call) {
    std::vector<double> us;
    us.reserve(size_t(calls));
    for (int i = 0; i < calls; ++i) {
        const auto start = Clock::now();
        call();
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    double total = 0;
    for (double u : us) total += u;
    std::sort(us.begin(), us.end());
    return {us[us.size() / 2], us[us.size() * 99 / 100], total / double(us.size())};
}

void Print(const char* name, const Stats& direct, const Stats& bounded) {
    std::printf("%-8s direct   median %7.2f us  p99 %7.2f us  mean %7.2f us\n", name, direct.median,
                direct.p99, direct.mean);
    std::printf("%-8s bounded  median %7.2f us  p99 %7.2f us  mean %7.2f us\n", "", bounded.median,
                bounded.p99, bounded.mean);
    std::printf("%-8s the bounded call adds %.2f us a call (median), %.2f us (mean)\n", "",
                bounded.median - direct.median, bounded.mean - direct.mean);
}

}  // namespace

int main(int argc, char** argv) {
    const int calls = argc > 1 ? std::max(100, std::atoi(argv[1])) : 20000;
    const auto limit = std::chrono::milliseconds(2000);
    foreign::Call(Nothing, limit);  // the call thread is made once, outside the count
    for (auto [name, fn] : {std::pair{"nothing", &Nothing}, std::pair{"some", &Some}}) {
        const Stats direct = Measure(calls, fn);
        const Stats bounded = Measure(calls, [fn, limit] { foreign::Call(fn, limit); });
        Print(name, direct, bounded);
    }
    std::printf("(%d calls each)\n", calls);
    return 0;
}
