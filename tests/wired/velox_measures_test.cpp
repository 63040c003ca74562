// SPDX-License-Identifier: Apache-2.0
// Speed, distance, the statistics tick and the load, fed with the trainer's messages.
#include <gtest/gtest.h>

#include <cmath>

#include "common/delay_with_messages.h"
#include "common/tick_count.h"
#include "velox_test_support.h"
#include "wired/velox_frame.h"

namespace wct::wired {
namespace {

using test::LongMeasures;
using test::ShortMeasures;

class VeloxMeasures : public ::testing::Test {
protected:
    // No port behind this device: a survey would only find it silent.
    VeloxMeasures() { device.SetConnectionSurvey(false); }
    void Receive(const std::string& bytes) { device.ComDataPacket().AddData(bytes); }
    void Moving() {
        device.SetConnected(true);
        Receive(ShortMeasures(0, 10));
        ASSERT_GT(device.Speed(), 0);
    }
    // The load frame the next SendResistance writes.
    std::string LoadFrame() {
        device.sent.clear();
        device.SendResistance();
        return device.sent.empty() ? std::string() : device.sent.back();
    }

    TScopedVirtualClock clock{100000, 5};
    test::TRecordingDevice device;
};

TEST_F(VeloxMeasures, CountsMetresPerRollEventFromDiameterAndTurns) {
    EXPECT_DOUBLE_EQ(static_cast<double>(device.MetresPerRollEvent()), 0.1241);
    device.SetNumberOfRoundPerRollEvent(0.5);
    EXPECT_DOUBLE_EQ(static_cast<double>(device.MetresPerRollEvent()), 0.062);
}

TEST_F(VeloxMeasures, ReachTheFullSpeedOfTenEventsPerShortFrameAfter25Frames) {
    device.SetConnected(true);
    for (int i = 0; i < 24; ++i) Receive(ShortMeasures(0, 10));
    EXPECT_LT(device.Speed(), 44.676L) << "zero entries still pull the mean down";
    Receive(ShortMeasures(0, 10));
    EXPECT_NEAR(static_cast<double>(device.Speed()), 44.676, 1e-9);
    EXPECT_NEAR(static_cast<double>(device.InstantSpeed()), 44.676, 1e-9);
}

TEST_F(VeloxMeasures, ShowAnInstantSpeedOfTheNewestSixShortOrThreeLongFrames) {
    const struct {
        double version;
        std::string moving, still;
        double share;  // of the full speed left after three still frames
    } cases[] = {{4, ShortMeasures(0, 10), ShortMeasures(0, 0), 0.5},
                 {5, LongMeasures(0, 3788, 0xFFFF, 0xFFFF), LongMeasures(0, 0xFFFF, 0xFFFF, 0xFFFF),
                  0}};
    for (const auto& c : cases) {
        test::TRecordingDevice fresh;
        fresh.SetConnectionSurvey(false);
        fresh.SetVersion(c.version);
        fresh.SetConnected(true);
        for (int i = 0; i < 25; ++i) fresh.ComDataPacket().AddData(c.moving);
        const double full = static_cast<double>(fresh.InstantSpeed());
        ASSERT_GT(full, 0) << c.version;
        for (int i = 0; i < 3; ++i) fresh.ComDataPacket().AddData(c.still);
        EXPECT_NEAR(static_cast<double>(fresh.InstantSpeed()), c.share * full, 0.01) << c.version;
    }
}

TEST_F(VeloxMeasures, TakeNoRollFromALongFrameWithoutARollPeriod) {
    device.SetVersion(5);
    device.SetConnected(true);
    device.Start();
    Receive(LongMeasures(0, 0xFFFF, 0xFFFF, 0xFFFF));
    EXPECT_EQ(device.RollEventTotal(), 0);
    Receive(LongMeasures(0, 3788, 0xFFFF, 0xFFFF));
    EXPECT_NEAR(static_cast<double>(device.RollEventTotal()), 1.0, 0.001);
}

TEST_F(VeloxMeasures, AreNotTakenFromALongFrameWhileDisconnected) {
    device.SetVersion(5);
    Receive(LongMeasures(0, 500, 0xFFFF, 0xFFFF));
    EXPECT_EQ(device.Speed(), 0);
}

TEST_F(VeloxMeasures, CountTheRideFromTheTrainersRollTotalAtStart) {
    auto total = [this](unsigned value) {
        Receive(test::Bytes({0xF0, 0x02, value >> 16, value >> 8, value, 0xF7}));
    };
    device.SetConnected(true);
    total(100000);
    device.Start();
    total(100020);
    EXPECT_EQ(device.RollEventTotal(), 0) << "the first total of the ride is its baseline";
    for (int i = 0; i < 3; ++i) Receive(ShortMeasures(0, 10));
    total(100052);
    EXPECT_EQ(device.RollEventTotal(), 32) << "the trainer counted two the frames missed";
    Receive(ShortMeasures(0, 10));
    total(100061);
    EXPECT_EQ(device.RollEventTotal(), 42) << "never back: one counted ahead is carried";
    Receive(ShortMeasures(0, 10));
    total(100072);
    EXPECT_EQ(device.RollEventTotal(), 52);
    total(5);
    EXPECT_EQ(device.RollEventTotal(), 52) << "switched off and on: a new baseline";
    Receive(ShortMeasures(0, 10));
    total(15);
    EXPECT_EQ(device.RollEventTotal(), 62);
    EXPECT_NEAR(static_cast<double>(device.Distance()), 62 * 0.1241 / 1000, 1e-9);
    device.Pause();
    total(500);
    device.Start();
    total(600);
    EXPECT_EQ(device.RollEventTotal(), 62) << "what rolled during the pause is not the ride's";
    total(610);
    EXPECT_EQ(device.RollEventTotal(), 72);
}

TEST_F(VeloxMeasures, OfTheByteProtocolSampleSpeedEveryTenBytes) {
    device.SetVersion(2);
    device.ParseMessage(std::string(1, '\x50'));  // the identification answer
    ASSERT_TRUE(device.Connected());
    device.SetSpeedArrayLength(1);
    device.ParseMessage(std::string(9, '\x40'));
    EXPECT_EQ(device.Speed(), 0);
    device.ParseMessage(std::string(1, '\x40'));
    // 10 turns of 0.1885 m in 100 ms.
    EXPECT_NEAR(static_cast<double>(device.Speed()), 0.1885 * 10 / 0.1 * 3.6, 1e-6);
}

TEST_F(VeloxMeasures, EndTheCourseOnTheNextTickAndStopCounting) {
    int finished = 0;
    device.OnCourseFinished = [&](TComponent*) { ++finished; };
    device.SetCourseDistance(0.01);  // 10 m: 81 events of 0.1241 m
    device.SetConnected(true);
    device.Start();
    for (int i = 0; i < 9; ++i) Receive(ShortMeasures(0, 10));
    EXPECT_GE(device.Distance(), 0.01L);
    const long double distance = device.Distance();
    Receive(ShortMeasures(0, 10));
    EXPECT_EQ(device.Distance(), distance) << "the distance stands once the course is done";
    DelayWithMessages(1100);
    EXPECT_EQ(finished, 1);
    EXPECT_EQ(device.Status(), vdsStopped);
}

TEST_F(VeloxMeasures, EndTheCourseAtADistanceExactlyItsLengthAndNotJustShortOfIt) {
    device.SetConnected(true);
    device.Start();
    for (int i = 0; i < 8; ++i) Receive(ShortMeasures(0, 10));
    const long double distance = device.Distance();
    // The same ride again from zero, to a course of that length and to one a hair longer.
    for (const auto& [course, done] :
         {std::pair{distance, true}, std::pair{std::nextafter(distance, 1.0L), false}}) {
        device.Stop();
        device.SetCourseDistance(course);
        device.Start();
        for (int i = 0; i < 8; ++i) Receive(ShortMeasures(0, 10));
        const long double reached = device.Distance();
        ASSERT_EQ(reached, distance);
        Receive(ShortMeasures(0, 10));
        EXPECT_EQ(device.Distance() == reached, done) << "course done: " << done;
    }
}

TEST_F(VeloxMeasures, InMilesGiveMilesAndMilesAnHourOf1609Metres) {
    device.SetUnitMeasure(umMiles);
    device.SetConnected(true);
    device.Start();
    for (int i = 0; i < 25; ++i) Receive(ShortMeasures(0, 10));
    // 250 events of 0.1241 m, 10 of them in each 100 ms.
    EXPECT_NEAR(static_cast<double>(device.Distance()), 250 * 0.1241 / 1609, 1e-8);
    EXPECT_NEAR(static_cast<double>(device.Speed()), 10 * 0.1241 * 36000 / 1609, 1e-7);
}

TEST_F(VeloxMeasures, RaiseOnStatsEverySecondWithTheLap) {
    std::vector<long double> laps;
    int32_t lapTime = 0;
    device.OnStats = [&](TComponent*, int32_t time, int32_t, long double rolls, long double,
                         long double, bool) {
        laps.push_back(rolls);
        lapTime = time;
    };
    device.SetConnected(true);
    device.Start();
    for (int i = 0; i < 3; ++i) Receive(ShortMeasures(0, 10));
    DelayWithMessages(1050);
    ASSERT_EQ(laps.size(), 1u);
    EXPECT_EQ(laps[0], 30);
    EXPECT_NEAR(lapTime, 1000, 20);
    EXPECT_GT(device.Power(), 0);
    // 30 events of 0.1241 m in about a second.
    EXPECT_NEAR(static_cast<double>(device.AverageSpeed()), 3.723 * 3.6, 0.7);
}

TEST_F(VeloxMeasures, ClampTheResistanceWithSecurityOnAndZeroItWhileStill) {
    device.SetVeloxResistance(120);
    EXPECT_EQ(device.VeloxResistance(), 0) << "the roll stands";
    Moving();
    device.SetVeloxResistance(240);
    EXPECT_EQ(device.VeloxResistance(), 239);
    device.SetVeloxResistance(247);
    EXPECT_EQ(device.VeloxResistance(), 246);
    device.SetVeloxResistance(300);
    EXPECT_EQ(device.VeloxResistance(), 255);
    device.SetVeloxResistance(-5);
    EXPECT_EQ(device.VeloxResistance(), 0);
    device.SetSecurityActive(false);
    device.SetVeloxResistance(300);
    EXPECT_EQ(static_cast<uint8_t>(LoadFrame().at(2)), 300 & 0xFF);
}

TEST_F(VeloxMeasures, SendTheElevationByteFromTheSlopeKeptOffTheFrameBytes) {
    Moving();
    device.SetUseElevation(true);
    device.SetCurrentSlope(22.8);
    EXPECT_EQ(static_cast<uint8_t>(LoadFrame().at(3)), 239);
    device.SetCurrentSlope(-30);
    EXPECT_EQ(static_cast<uint8_t>(LoadFrame().at(3)), 0);
    device.SetCurrentSlope(0);
    EXPECT_EQ(static_cast<uint8_t>(LoadFrame().at(3)), 126);
}

TEST_F(VeloxMeasures, TurnTheElevationInMetresIntoTheElevationByte) {
    device.SetCurrentElevation(9999);
    EXPECT_EQ(device.VeloxElevation(), 255);
    device.SetCurrentElevation(5000);
    EXPECT_EQ(device.VeloxElevation(), 128);
}

TEST_F(VeloxMeasures, ReduceTheLoadBelowTheStartSpeed) {
    device.SetSimulationMode(true);
    device.SetHighPowerReduceEnable(true);
    const std::pair<double, double> cases[] = {{3.5, 0.625}, {0, 0.25}, {7, 1}, {9, 1}};
    for (const auto& [speed, coefficient] : cases) {
        device.Start();
        device.SimulateMeasures(0, 0, speed);
        DelayWithMessages(1050);
        EXPECT_DOUBLE_EQ(device.HighPowerCoefficient(), coefficient) << speed;
        device.Stop();
    }
}

TEST_F(VeloxMeasures, ApplyTheCoefficientToTheResistanceSent) {
    Moving();
    device.SetVeloxResistance(100);
    device.SetHighPowerCoefficient(0.5);
    EXPECT_EQ(static_cast<uint8_t>(LoadFrame().at(2)), 50);
    device.SetHighPowerCoefficient(0.1);
    EXPECT_EQ(device.HighPowerCoefficient(), 0.25) << "never below the minimum";
}

TEST_F(VeloxMeasures, ModelPowerAndCountCalories) {
    EXPECT_EQ(device.PowerModel(0, 0), 0);
    // 0.00145 × 27000 + 0.127 × 900 + 30 × (0.027 × 10 × 2 − 0.37)
    EXPECT_NEAR(static_cast<double>(device.PowerModel(2, 30)), 39.15 + 114.3 + 5.1, 1e-9);
    device.SetVersion(5);
    EXPECT_NEAR(static_cast<double>(device.PowerModel(2, 30)), 39.15 + 114.3 + 30 * (0.378 - 0.37),
                1e-9);
    EXPECT_EQ(device.PowerFromSpeed(-1), 0);
    EXPECT_GT(device.PowerFromSpeed(30), 0);
}

TEST_F(VeloxMeasures, ComeFromSimulateMeasuresInSimulationMode) {
    device.SimulateMeasures(120, 80, 30);
    EXPECT_EQ(device.Speed(), 0) << "ignored outside simulation mode";
    device.SetSimulationMode(true);
    EXPECT_TRUE(device.Connected());
    device.Start();
    device.SimulateMeasures(120, 80, 30);
    EXPECT_EQ(device.Speed(), 30);
    EXPECT_EQ(device.HeartRate(), 120);
    EXPECT_EQ(device.Cadence(), 80);
    // 30 km/h for one second: 8.33 m, 67 events of 0.1241 m.
    EXPECT_EQ(device.RollEventTotal(), 67);
}

TEST_F(VeloxMeasures, AreClearedByResetMeasures) {
    Moving();
    device.SetCurrentSlope(3);
    device.ResetMeasures();
    EXPECT_EQ(device.Speed(), 0);
    EXPECT_EQ(device.Distance(), 0);
    EXPECT_EQ(device.CurrentSlope(), 0);
}

}  // namespace
}  // namespace wct::wired
