#include "sim/sim_clock.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "common/tick_count.h"

namespace wct::sim {

namespace {

constexpr uint32_t kTickClockSliceMs = 10;

double MonotonicMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

uint32_t TTickClock::Now() const {
    return GetTickCount();
}

int TTickClock::RealSleep(uint32_t ms) const {
    return static_cast<int>(std::min(ms, kTickClockSliceMs));
}

TSimClock& DefaultClock() {
    static TTickClock clock;
    return clock;
}

TScaledClock::TScaledClock(double factor) : factor_(factor > 0 ? factor : 1) {}

uint32_t TScaledClock::Now() const {
    return static_cast<uint32_t>(static_cast<uint64_t>(MonotonicMs() * factor_));
}

int TScaledClock::RealSleep(uint32_t ms) const {
    return static_cast<int>(std::min(std::ceil(ms / factor_), 60000.0));
}

}  // namespace wct::sim
