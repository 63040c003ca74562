// SPDX-License-Identifier: Apache-2.0
// A rider on a roll trainer, as both simulators play one: what the rider puts in over
// time (a warm-up, steady riding, hard efforts, a console key now and then) and how fast
// the roll turns for that effort under a given brake.
//
// Deterministic: the same seed gives the same ride, so tests can rely on it.
#pragma once

#include <cstdint>

namespace wct::sim {

struct TRiderState {
    double power;      // watts
    double cadence;    // pedal revolutions per minute
    double heartRate;  // beats per minute
    uint8_t keys;      // bit 0 to 3: one console key held, 0 most of the time
};

class TRideProfile {
public:
    explicit TRideProfile(uint32_t seed);
    // The rider `rideMs` ms into the ride. Calls must not go back in time: the heart
    // follows the effort with a lag.
    TRiderState At(int64_t rideMs);

private:
    double strength_;
    int64_t cycleOffsetMs_;
    int64_t keyOffsetMs_;
    int64_t lastMs_ = 0;
    double heartRate_;
};

// Roll surface speed in m/s for `power` watts against a brake level (0 to 255) and a
// slope in percent; more brake or more slope, less speed.
double RollSpeed(double power, double brake, double slopePercent = 0);

}  // namespace wct::sim
