// SPDX-License-Identifier: Apache-2.0
// Heart rate and cadence from beat and pedal flags and from long-frame periods, the two
// filters, the heart survey and the heart-rate alarm.
#include <gtest/gtest.h>

#include "common/delay_with_messages.h"
#include "common/tick_count.h"
#include "velox_test_support.h"
#include "wired/velox_frame.h"

namespace wct::wired {
namespace {

using test::LongMeasures;
using test::ShortMeasures;

constexpr unsigned kBeat = 0x20;
constexpr unsigned kPedal = 0x10;

class VeloxHeart : public ::testing::Test {
protected:
    VeloxHeart() {
        device.SetConnectionSurvey(false);  // no port behind this device
        device.SetConnected(true);
    }
    void Receive(const std::string& bytes) { device.ComDataPacket().AddData(bytes); }
    // Flags `count` times, `ms` apart on the clock.
    void Flags(unsigned flags, int count, uint32_t ms) {
        for (int i = 0; i < count; ++i) {
            clock.Advance(ms);
            Receive(ShortMeasures(flags, 0));
        }
    }
    void LongHeart(unsigned periodMs) { Receive(LongMeasures(0, 0xFFFF, 0xFFFF, periodMs)); }

    TScopedVirtualClock clock{100000};
    test::TRecordingDevice device;
};

TEST_F(VeloxHeart, ReadsBeatsHalfASecondApartAs119OnceTheWindowIsFull) {
    Flags(kBeat, 25, 500);  // the first beat only starts the clock
    EXPECT_EQ(device.BeatPeriod(), 500);
    EXPECT_EQ(device.HeartRate(), 0) << "24 samples of 25";
    Flags(kBeat, 1, 500);
    EXPECT_EQ(device.HeartRate(), 119);
}

TEST_F(VeloxHeart, TimesBeatsCloserThan240msAs240AndCapsTheRateAt230) {
    device.SetHeartArrayLength(1);
    Flags(kBeat, 2, 200);
    EXPECT_EQ(device.BeatPeriod(), 0) << "reset after the capped rate";
    EXPECT_EQ(device.HeartRate(), 230);
    std::string text;
    device.OnInstantHeart = [&](TComponent*, const std::string& t) { text = t; };
    Flags(kBeat, 2, 200);
    EXPECT_EQ(text, "0\t0\t") << "reset again: the period restarts";
    device.SetHeartArrayLength(25);
    Flags(kBeat, 2, 200);
    EXPECT_EQ(device.BeatPeriod(), 240);
    EXPECT_EQ(text, "240\t0\t");
}

TEST_F(VeloxHeart, Filter2RejectsASingleJumpAndAcceptsAModerateChange) {
    device.SetHrFilter2Active(true);
    device.SetHeartArrayLength(1);
    Flags(kBeat, 6, 600);  // one to start, three to prime, two accepted at 100
    EXPECT_EQ(device.HeartRate(), 100);
    Flags(kBeat, 1, 353);  // 170: a jump of 70
    EXPECT_EQ(device.HeartRate(), 100) << "rejected: the rate in force when last accepted";
    Flags(kBeat, 1, 400);  // 150
    EXPECT_EQ(device.HeartRate(), 150);
}

TEST_F(VeloxHeart, Filter2BelievesTheThirdJumpInARow) {
    device.SetVersion(5);
    device.SetConnected(true);
    device.SetHrFilter2Active(true);
    device.SetHeartArrayLength(1);
    for (unsigned period : {600u, 353u, 250u}) LongHeart(period);  // 100, 170, 240
    LongHeart(194);                                                // 309
    EXPECT_EQ(device.HeartRate(), 309);
}

TEST_F(VeloxHeart, OfLongFramesSamplesAHeldPeriodOnceForEachPeriodThatPasses) {
    device.SetVersion(5);
    for (int i = 0; i < 120; ++i) {  // 12 s of frames holding 500 ms: a sample every 5th
        clock.Advance(100);
        LongHeart(500);
    }
    EXPECT_EQ(device.HeartRate(), 0) << "24 samples of 25";
    clock.Advance(100);
    LongHeart(500);
    EXPECT_EQ(device.HeartRate(), 120) << "a steady heart reads what it beats";
    LongHeart(600);
    EXPECT_EQ(device.HeartRate(), 119) << "a new period is a sample at once";
    LongHeart(0xFFFF);
    EXPECT_EQ(device.HeartRate(), 119) << "no beat keeps the rate";
}

TEST_F(VeloxHeart, OfLongFramesTakesAPeriodFrozenLongerThanAHeartCouldHoldItAsALostStrap) {
    clock.SetIdleStep(5);
    device.SetVersion(5);
    device.SetHeartEnabled(true);
    for (int i = 0; i < 250; ++i) {  // 25 s of frames holding 500 ms
        DelayWithMessages(100);
        LongHeart(500);
    }
    EXPECT_TRUE(device.HeartConnectionActive());
    EXPECT_EQ(device.HeartRate(), 120);
    // To 40 s: the same period for 30 s and more, and a whole survey period after that.
    for (int i = 0; i < 150; ++i) {
        DelayWithMessages(100);
        LongHeart(500);
    }
    EXPECT_FALSE(device.HeartConnectionActive());
    EXPECT_EQ(device.HeartRate(), 0);
    LongHeart(505);
    DelayWithMessages(3000);
    EXPECT_TRUE(device.HeartConnectionActive()) << "a period that moves is a heart again";
}

TEST_F(VeloxHeart, DropsAPedalFlagCloserThan300msAndTurnsASecondInto60Rpm) {
    device.SetCadenceArrayLength(1);
    Flags(kPedal, 2, 1000);
    EXPECT_EQ(device.Cadence(), 60);
    Flags(kPedal, 1, 250);
    EXPECT_EQ(device.Cadence(), 60) << "the second flag is ignored completely";
    Flags(kPedal, 1, 750);
    EXPECT_EQ(device.Cadence(), 60) << "timed from the flag before the ignored one";
    Flags(kPedal, 1, 500);
    EXPECT_EQ(device.Cadence(), 120);
}

TEST_F(VeloxHeart, FallsToZeroCadenceWhenNoRevolutionCameForTheDelay) {
    device.SetCadenceArrayLength(1);
    Flags(kPedal, 2, 1000);
    Flags(0, 49, 100);
    EXPECT_EQ(device.Cadence(), 60) << "4.9 s without a pedal flag";
    Flags(0, 1, 100);
    EXPECT_EQ(device.Cadence(), 0) << "CadenceCalcDelay, 5 s, without one";
    device.SetVersion(5);
    Receive(LongMeasures(0, 0xFFFF, 600, 0xFFFF));
    EXPECT_EQ(device.Cadence(), 100);
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(device.Cadence(), 100) << i;
        clock.Advance(100);
        Receive(LongMeasures(0, 0xFFFF, 0xFFFF, 0xFFFF));
    }
    EXPECT_EQ(device.Cadence(), 0) << "5 s of frames without a pedal period";
}

TEST_F(VeloxHeart, OfLongFramesTakesPedalPeriodsAbove200ms) {
    device.SetVersion(5);
    device.SetConnected(true);
    device.SetCadenceArrayLength(1);
    Receive(LongMeasures(0, 0xFFFF, 150, 0xFFFF));
    EXPECT_EQ(device.Cadence(), 0);
    Receive(LongMeasures(0, 0xFFFF, 600, 0xFFFF));
    EXPECT_EQ(device.Cadence(), 100);
}

TEST_F(VeloxHeart, ReportsALostSignalOnASilentSurveyTick) {
    clock.SetIdleStep(5);
    int lost = 0;
    device.OnHeartConnectionLost = [&](TComponent*) { ++lost; };
    device.SetSimulationMode(true);
    device.SetHeartEnabled(true);
    EXPECT_TRUE(device.HeartConnectionActive());
    device.SimulateMeasures(90, 0, 20);
    DelayWithMessages(3100);
    EXPECT_EQ(lost, 0) << "a beat in the period";
    EXPECT_EQ(device.HeartRate(), 90);
    DelayWithMessages(3000);
    EXPECT_EQ(lost, 1);
    EXPECT_FALSE(device.HeartConnectionActive());
    EXPECT_EQ(device.HeartRate(), 0);
}

class VeloxAlarm : public VeloxHeart {
protected:
    VeloxAlarm() {
        clock.SetIdleStep(5);
        device.OnAlarmHeart = [this](TComponent*, int32_t percent, bool isHigher, bool byComponent,
                                     bool&) {
            alarms.push_back(percent);
            higher = isHigher;
            aborted = byComponent;
            resistanceAtAlarm = device.VeloxResistance();
            for (auto f = device.sent.rbegin(); f != device.sent.rend() && loadAtAlarm < 0; ++f)
                if (IsLoad(*f)) loadAtAlarm = static_cast<uint8_t>((*f)[2]);
        };
        device.SetSimulationMode(true);
        device.SetHeartEnabled(true);
        device.SetAlarmHeartHighLimit(160);
        device.SetAlarmHeartLowLimit(50);
        device.SetAlarmHeartAbsoluteLimit(220);
        device.Start();
        device.SimulateMeasures(0, 0, 25);
        device.SetVeloxResistance(80);
    }
    std::vector<int32_t> alarms;
    bool higher = false;
    bool aborted = true;
    int32_t resistanceAtAlarm = -1;
    int loadAtAlarm = -1;  // in the last load frame sent before the alarm
    static bool IsLoad(const std::string& frame) {
        return frame.size() == kShortFrameSize && frame[1] == vcLoad;
    }
};

TEST_F(VeloxAlarm, AboveTheHighLimitCutsTheLoadAndStopsTheRide) {
    device.SimulateMeasures(170, 0, 25);
    DelayWithMessages(1050);
    EXPECT_EQ(alarms, std::vector<int32_t>{6});
    EXPECT_TRUE(higher);
    EXPECT_FALSE(aborted);
    EXPECT_EQ(resistanceAtAlarm, 80) << "the load goes after the handler let it stop";
    EXPECT_EQ(device.Status(), vdsStopped);
    EXPECT_EQ(device.VeloxResistance(), 0);
}

TEST_F(VeloxAlarm, AboveTheAbsoluteLimitCutsTheLoadFirstAndRidesOn) {
    device.SimulateMeasures(230, 0, 25);
    DelayWithMessages(1050);
    EXPECT_EQ(alarms, std::vector<int32_t>{44}) << "rounded 70 / 160 × 100";
    EXPECT_EQ(loadAtAlarm, 0) << "the trainer had the cut before the alarm";
    EXPECT_EQ(resistanceAtAlarm, 80) << "the level asked for is kept for after the cut";
    EXPECT_TRUE(device.HeartCut());
    EXPECT_EQ(device.Status(), vdsRunning);
}

// As `wct trainer ride --max-hr 180` rides: no alarm limits, a load asked for every step.
TEST_F(VeloxAlarm, AHeartCutHoldsEveryLoadAtZeroThroughALostSignalUntilRealRatesAreBack) {
    device.SetVersion(5);  // a load frame every statistics step
    device.SetAlarmHeartHighLimit(1000);
    device.SetAlarmHeartLowLimit(0);
    device.SetAlarmHeartAbsoluteLimit(180);
    device.OnStats = [this](TComponent*, int32_t, int32_t, long double, long double, long double,
                            bool) { device.SetVeloxResistance(120); };
    device.SimulateMeasures(200, 0, 25);
    DelayWithMessages(1050);
    ASSERT_TRUE(device.HeartCut());
    const size_t cutFrom = device.sent.size();
    for (int i = 0; i < 3; ++i) {
        device.SimulateMeasures(200, 0, 25);
        DelayWithMessages(1000);
    }
    DelayWithMessages(7000);  // no beat for two survey periods: the signal is lost
    EXPECT_FALSE(device.HeartConnectionActive());
    EXPECT_TRUE(device.HeartCut());
    int steps = 0;
    for (; steps < 15 && device.HeartCut(); ++steps) {
        device.SimulateMeasures(120, 0, 25);
        DelayWithMessages(1000);
    }
    EXPECT_FALSE(device.HeartCut());
    EXPECT_GE(steps, 5) << "five real rates at or below 175 end it, not one";
    int loads = 0;
    for (size_t i = cutFrom; i + 1 < device.sent.size(); ++i) {
        if (!IsLoad(device.sent[i])) continue;
        ++loads;
        EXPECT_EQ(device.sent[i][2], 0) << "load frame " << i;
        EXPECT_EQ(device.sent[i][3], 0) << "elevation of frame " << i;
    }
    EXPECT_GT(loads, 10);
    ASSERT_TRUE(IsLoad(device.sent.back()));
    EXPECT_EQ(static_cast<uint8_t>(device.sent.back()[2]), 120) << "the load is back";
    EXPECT_EQ(device.Status(), vdsRunning);
}

TEST_F(VeloxAlarm, BelowTheLowLimitMeasuresAgainstIt) {
    device.SimulateMeasures(40, 0, 25);
    DelayWithMessages(1050);
    EXPECT_EQ(alarms, std::vector<int32_t>{20});
    EXPECT_FALSE(higher);
}

TEST_F(VeloxAlarm, WithoutALowLimitReportsNoPercentage) {
    device.SetAlarmHeartLowLimit(0);
    device.SimulateMeasures(170, 0, 25);
    DelayWithMessages(1050);
    EXPECT_EQ(alarms, std::vector<int32_t>{0});
}

TEST_F(VeloxAlarm, AveragesTheHeartRateOfTheRide) {
    device.SetAlarmHeartHighLimit(200);
    device.SimulateMeasures(100, 0, 25);
    device.SimulateMeasures(120, 0, 25);
    DelayWithMessages(1050);
    EXPECT_EQ(device.AverageHeartRate(), 110);
    EXPECT_TRUE(alarms.empty());
}

}  // namespace
}  // namespace wct::wired
