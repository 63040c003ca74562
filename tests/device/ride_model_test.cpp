// SPDX-License-Identifier: Apache-2.0
// The ride model of the wireless rider device: power, calories, virtual speed, the
// high-power reduction and the resistance output.
#include <gtest/gtest.h>

#include "device/velox_device_w.h"

namespace wct {
namespace {

class RideModelTest : public ::testing::Test {
protected:
    void SetUp() override { device.SetRiderWeight(70); }
    TVeloxDeviceW device;
};

TEST_F(RideModelTest, PowerOnTheFlatAndUpASlope) {
    EXPECT_NEAR(device.PowerAtSpeed(30, 0), 142.35, 1e-9);
    EXPECT_NEAR(device.PowerAtSpeed(30, 5), 466.35, 1e-9);
}

TEST_F(RideModelTest, TrainerVersionFiveClimbsWithItsOwnFactor) {
    device.SetTrainerVersion(5);
    EXPECT_NEAR(device.PowerAtSpeed(30, 5), 142.35 + 30 * 0.0189 * 80 * 5, 1e-9);
}

TEST_F(RideModelTest, PowerInMilesUsesPoundsAndItsOwnConstants) {
    device.SetUOM(umMiles);
    device.SetRiderWeight(154);
    // 0.006 * 8000 + 0.33 * 400 + 20 * (0.02 * 176 * 2 - 0.6)
    EXPECT_NEAR(device.PowerAtSpeed(20, 2), 48 + 132 + 20 * (7.04 - 0.6), 1e-9);
}

TEST_F(RideModelTest, NoSpeedOrANegativePolynomialGivesNoPower) {
    EXPECT_EQ(device.PowerAtSpeed(0, 5), 0);
    EXPECT_EQ(device.PowerAtSpeed(-3, 0), 0);
    EXPECT_EQ(device.PowerAtSpeed(1, 0), 0) << "0.00145 + 0.127 - 0.37 < 0";
    EXPECT_EQ(device.PowerAtSpeed(20, -10), 0);
}

TEST_F(RideModelTest, CaloriesPerStepNeverGoNegative) {
    EXPECT_NEAR(device.CalorieIncrement(30), 4.4e-6 * 27000 + 1.8e-5 * 30 * 80, 1e-12);
    device.SetCurrentSlope(-50);
    EXPECT_EQ(device.CalorieIncrement(30), 0);
    device.SetCurrentSlope(0);
    device.SetUOM(umMiles);
    EXPECT_NEAR(device.CalorieIncrement(10), 1.83e-5 * 1000 + 1.3e-5 * 10 * 92, 1e-12);
}

TEST_F(RideModelTest, ResistanceIsClampedToWhatTheBrakeAccepts) {
    device.SetVeloxResistance(300);
    EXPECT_EQ(device.VeloxResistance(), 255);
    device.SetVeloxResistance(240);
    EXPECT_EQ(device.VeloxResistance(), 239);
    device.SetVeloxResistance(247);
    EXPECT_EQ(device.VeloxResistance(), 246);
    device.SetVeloxResistance(-5);
    EXPECT_EQ(device.VeloxResistance(), 0);
    device.SetVeloxResistance(120);
    EXPECT_EQ(device.VeloxResistance(), 120);
}

TEST_F(RideModelTest, TheReductionCoefficientScalesTheNextResistance) {
    device.SetHighPowerReduceCoefficient(0.5);
    device.SetVeloxResistance(200);
    EXPECT_EQ(device.VeloxResistance(), 100);
    device.SetVeloxResistance(100);
    EXPECT_EQ(device.VeloxResistance(), 100) << "equal to the stored level: unchanged";
    device.SetVeloxResistance(101);
    EXPECT_EQ(device.VeloxResistance(), 50) << "50.5 rounds to even";
}

TEST_F(RideModelTest, TheCoefficientNeverFallsBelowItsMinimum) {
    device.SetHighPowerReduceCoefficient(0.1);
    EXPECT_EQ(device.HighPowerReduceCoefficient(), 0.25);
}

TEST_F(RideModelTest, WithSecurityAStandingRollGetsNoLoad) {
    device.SetSecurityActive(true);
    device.SetVeloxResistance(150);
    EXPECT_EQ(device.VeloxResistance(), 0);
    device.SetSpeed(12);
    device.SetVeloxResistance(150);
    EXPECT_EQ(device.VeloxResistance(), 150);
}

TEST_F(RideModelTest, InitialResistanceIsClampedAndApplied) {
    device.SetInitialResistance(247);
    EXPECT_EQ(device.InitialResistance(), 246);
    EXPECT_EQ(device.VeloxResistance(), 246);
    device.SetInitialResistance(-1);
    EXPECT_EQ(device.InitialResistance(), 0);
    EXPECT_EQ(device.VeloxResistance(), 0);
}

TEST_F(RideModelTest, TheTrainerVersionBringsItsRollDiameter) {
    int announced = 0;
    device.OnVersionChange = [&](TComponent*) { ++announced; };
    const std::vector<std::pair<double, std::pair<double, double>>> cases = {
        {3, {4.5, 39.5}}, {8, {4.5, 39.5}}, {-1, {4.5, 39.5}}, {4, {4.5, 39.5}},
        {5, {5, 45}},     {6, {6, 40}},     {7, {7, 30}}};
    for (const auto& [reported, expected] : cases) {
        device.SetTrainerVersion(reported);
        EXPECT_EQ(device.VeloxVersion(), expected.first) << reported;
        EXPECT_EQ(device.RollDiameter(), expected.second) << reported;
    }
    EXPECT_EQ(announced, 7);
    device.SetTrainerVersion(5.5);
    EXPECT_EQ(device.VeloxVersion(), 5.5);
    EXPECT_EQ(device.RollDiameter(), 30) << "unchanged for a version without a roll of its own";
}

class HighPowerReductionTest : public RideModelTest {
protected:
    void SetUp() override {
        RideModelTest::SetUp();
        device.SetHighPowerReduceEnable(true);
        device.SetTimerStatsInterval(3600000);  // steps are run by hand
    }
};

TEST_F(HighPowerReductionTest, BelowTheStartSpeedTheCoefficientFollowsTheInstantSpeed) {
    device.SetInstantSpeed(3.5);
    device.StatsTick();
    EXPECT_DOUBLE_EQ(device.HighPowerReduceCoefficient(), 0.625);
    device.SetInstantSpeed(0);
    device.StatsTick();
    EXPECT_DOUBLE_EQ(device.HighPowerReduceCoefficient(), 0.25);
    device.SetInstantSpeed(9);
    device.StatsTick();
    EXPECT_DOUBLE_EQ(device.HighPowerReduceCoefficient(), 1);
}

TEST_F(HighPowerReductionTest, DisabledTheCoefficientIsOne) {
    device.SetInstantSpeed(3.5);
    device.SetHighPowerReduceEnable(false);
    device.SetHighPowerReduceCoefficient(0.5);
    device.StatsTick();
    EXPECT_EQ(device.HighPowerReduceCoefficient(), 1);
}

using VirtualSpeedTest = RideModelTest;

TEST_F(VirtualSpeedTest, DownhillTheVirtualSpeedGrowsThenCoastsOutOnTheFlat) {
    const double mass = 80;  // rider 70 kg and the bike
    device.SetVirtualSpeedEnabled(true);
    device.SetCurrentSlope(-5);
    device.VirtualSpeedUpdate(20);
    const double pedal = device.PowerAtSpeed(20, 0) / 20;
    const double gravity = mass * 5 / 100;
    EXPECT_DOUBLE_EQ(device.PedalingForce(), pedal);
    EXPECT_DOUBLE_EQ(device.GravityForce(), gravity);
    EXPECT_DOUBLE_EQ(device.AttritionForce(), pedal) << "from rest the attrition is the pedalling";
    EXPECT_NEAR(device.VirtualSpeed(), gravity / (mass / 9.8), 1e-8);

    double previous = device.VirtualSpeed();
    for (int step = 0; step < 10; ++step) {
        device.VirtualSpeedUpdate(20);
        const double attrition = device.PowerAtSpeed(previous + 20, 0) / (previous + 20);
        EXPECT_NEAR(device.VirtualSpeed(), previous + (pedal + gravity - attrition) / (mass / 9.8),
                    1e-8);
        previous = device.VirtualSpeed();
    }
    ASSERT_GT(previous, 2.0) << "fast enough to coast";

    device.SetCurrentSlope(0);
    int steps = 0;
    while (device.VirtualSpeed() > 0 && steps < 100) {
        device.VirtualSpeedUpdate(20);
        const double attrition = device.PowerAtSpeed(previous + 20, 0) / (previous + 20);
        const double expected =
            previous > 2.0 ? std::max(0.0, previous - attrition * 2.5 / (mass / 9.8)) : 0.0;
        EXPECT_NEAR(device.VirtualSpeed(), expected, 1e-9) << "step " << steps;
        previous = device.VirtualSpeed();
        ++steps;
    }
    EXPECT_EQ(device.VirtualSpeed(), 0);
    EXPECT_GT(steps, 1);
    EXPECT_LT(steps, 100);
}

TEST_F(VirtualSpeedTest, TheStepTracksTheDistanceOfOneSecondAndStopsWithTheRider) {
    device.SetVirtualSpeedEnabled(true);
    device.SetCurrentSlope(-8);
    device.SetTimerStatsInterval(3600000);
    device.SetSpeed(20);
    device.StatsTick();  // the step reads Speed as the real speed
    ASSERT_GT(device.VirtualSpeed(), 0);
    EXPECT_NEAR(device.VirtualDistance(), device.VirtualSpeed() / 3600, 1e-8);
    device.VirtualSpeedUpdate(0);
    EXPECT_EQ(device.VirtualSpeed(), 0);
    EXPECT_EQ(device.PedalingForce(), 0);
}

TEST_F(VirtualSpeedTest, OnTheFlatFromRestNothingHappensAndTurningItOffClearsIt) {
    device.SetVirtualSpeedEnabled(true);
    device.SetTimerStatsInterval(3600000);
    device.SetSpeed(25);
    device.StatsTick();
    EXPECT_EQ(device.VirtualSpeed(), 0);
    device.SetCurrentSlope(-4);
    device.StatsTick();
    ASSERT_GT(device.VirtualSpeed(), 0);
    device.SetVirtualSpeedEnabled(false);
    EXPECT_EQ(device.VirtualSpeed(), 0);
    EXPECT_EQ(device.GravityForce(), 0);
}

}  // namespace
}  // namespace wct
