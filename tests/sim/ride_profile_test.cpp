// SPDX-License-Identifier: Apache-2.0
#include "sim/ride_profile.h"

#include <gtest/gtest.h>

namespace wct::sim {
namespace {

TEST(RideProfile, WarmsUpBeforeTheFirstEffort) {
    TRideProfile ride(7);
    const double start = ride.At(0).power;
    const double warm = ride.At(170000).power;
    EXPECT_LT(start, 100);
    EXPECT_GT(warm, start + 50);
}

TEST(RideProfile, AlternatesSteadyRidingWithHardEfforts) {
    TRideProfile ride(7);
    double lowest = 1e9;
    double highest = 0;
    for (int64_t ms = 200000; ms < 200000 + 240000; ms += 1000) {
        const double power = ride.At(ms).power;
        lowest = std::min(lowest, power);
        highest = std::max(highest, power);
    }
    EXPECT_GT(highest, lowest * 1.5);
}

TEST(RideProfile, HeartRateFollowsTheEffortWithALag) {
    TRideProfile ride(3);
    const double resting = ride.At(0).heartRate;
    EXPECT_NEAR(ride.At(1000).heartRate, resting, 2);
    EXPECT_GT(ride.At(300000).heartRate, resting + 30);
}

TEST(RideProfile, PressesAKeyNowAndThen) {
    TRideProfile ride(5);
    int pressed = 0;
    for (int64_t ms = 0; ms < 600000; ms += 100) pressed += ride.At(ms).keys != 0;
    EXPECT_GT(pressed, 0);
    EXPECT_LT(pressed, 600000 / 100 / 20) << "most of the time no key is held";
}

TEST(RideProfile, IsTheSameForTheSameSeed) {
    TRideProfile a(11);
    TRideProfile b(11);
    TRideProfile c(12);
    EXPECT_EQ(a.At(250000).power, b.At(250000).power);
    EXPECT_NE(a.At(260000).power, c.At(260000).power);
}

TEST(RollSpeed, FallsWithTheBrakeLevelAndTheSlope) {
    EXPECT_GT(RollSpeed(150, 0), RollSpeed(150, 50));
    EXPECT_GT(RollSpeed(150, 50), RollSpeed(150, 255));
    EXPECT_GT(RollSpeed(150, 50, 0), RollSpeed(150, 50, 5));
    EXPECT_GT(RollSpeed(300, 50), RollSpeed(150, 50));
    EXPECT_EQ(RollSpeed(0, 50), 0);
}

}  // namespace
}  // namespace wct::sim
