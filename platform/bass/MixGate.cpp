#include "MixGate.h"

#include <thread>

namespace kavbass {

// Never destroyed: the output may still mix while the process ends.
MixGate& MixGate::instance() {
    static MixGate* g = new MixGate;
    return *g;
}

void MixGate::quiesce() const {
    if (!inMix_.load()) return;
    const uint64_t pass = passes_.load();
    while (inMix_.load() && passes_.load() == pass) std::this_thread::yield();
}

}  // namespace kavbass
