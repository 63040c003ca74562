// SPDX-License-Identifier: Apache-2.0
#include "sim/ride_profile.h"

#include <cmath>
#include <numbers>

namespace wct::sim {

namespace {

constexpr int64_t kWarmUpMs = 180000;
constexpr int64_t kSteadyMs = 180000;
constexpr int64_t kEffortMs = 60000;
constexpr int64_t kKeyEveryMs = 40000;
constexpr int64_t kKeyHeldMs = 300;
constexpr double kRestingHeartRate = 65;
constexpr double kHeartLagMs = 25000;

uint32_t Mix(uint32_t x) {
    x ^= x >> 16;
    x *= 0x7FEB352Du;
    x ^= x >> 15;
    x *= 0x846CA68Bu;
    x ^= x >> 16;
    return x;
}

double Wave(int64_t ms, double periodMs) {
    return std::sin(2 * std::numbers::pi * static_cast<double>(ms) / periodMs);
}

}  // namespace

TRideProfile::TRideProfile(uint32_t seed)
    : strength_(0.85 + 0.3 * (Mix(seed) % 1000) / 1000.0),
      cycleOffsetMs_(Mix(seed + 1) % (kSteadyMs + kEffortMs)),
      keyOffsetMs_(Mix(seed + 2) % kKeyEveryMs),
      heartRate_(kRestingHeartRate) {}

TRiderState TRideProfile::At(int64_t rideMs) {
    double base;
    if (rideMs < kWarmUpMs) {
        base = 60 + 90 * static_cast<double>(rideMs) / kWarmUpMs;
    } else {
        const int64_t inCycle = (rideMs - kWarmUpMs + cycleOffsetMs_) % (kSteadyMs + kEffortMs);
        base = inCycle < kSteadyMs ? 150 : 270;
    }
    TRiderState state{};
    state.power = strength_ * base + 8 * Wave(rideMs, 13000) + 5 * Wave(rideMs, 31000);
    state.cadence = 72 + (state.power - 60) / 9 + 3 * Wave(rideMs, 23000);

    const double target = kRestingHeartRate + 0.42 * state.power;
    const auto elapsed = static_cast<double>(rideMs > lastMs_ ? rideMs - lastMs_ : 0);
    heartRate_ += (target - heartRate_) * (1 - std::exp(-elapsed / kHeartLagMs));
    lastMs_ = rideMs;
    state.heartRate = heartRate_;

    const int64_t sinceKey = (rideMs + keyOffsetMs_) % kKeyEveryMs;
    if (rideMs >= kKeyEveryMs && sinceKey < kKeyHeldMs) {
        state.keys = static_cast<uint8_t>(1u << ((rideMs + keyOffsetMs_) / kKeyEveryMs % 4));
    }
    return state;
}

double RollSpeed(double power, double brake, double slopePercent) {
    if (power <= 0) return 0;
    // Power = (viscous brake drag + climbing force) × speed; the brake's drag grows with
    // its level, the climbing force is that of a 75 kg rider.
    const double drag = 2 + 0.25 * brake;
    const double climb = 75 * 9.81 * slopePercent / 100;
    const double speed = (-climb + std::sqrt(climb * climb + 4 * drag * power)) / (2 * drag);
    return speed > 0 ? speed : 0;
}

}  // namespace wct::sim
