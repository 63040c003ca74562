// SPDX-License-Identifier: Apache-2.0
// The rider device base: competitor state, tolerance, resets, stored form, the
// statistics timer.
#include "device/nox_custom_device.h"

#include <gtest/gtest.h>

#include "common/stored_form.h"
#include "device/velox_device_w.h"

namespace wct {
namespace {

class NoxCustomDeviceTest : public ::testing::Test {
protected:
    TNoxCustomDevice device;
};

TEST_F(NoxCustomDeviceTest, ANewDeviceStartsUnknownWithTheDocumentedValues) {
    EXPECT_EQ(device.CompetitorState(), csUnknown);
    EXPECT_EQ(device.RiderId(), -1);
    EXPECT_EQ(device.TimeToleranceMs(), 100u);
    EXPECT_EQ(device.BikeWeight(), 10);
    EXPECT_EQ(device.AlarmHeartHighLimit(), 210);
    EXPECT_EQ(device.AlarmHeartLowLimit(), 35);
    EXPECT_EQ(device.AlarmHeartMaxLimit(), 220);
    EXPECT_EQ(device.HeartMaxLimit(), 220);
    EXPECT_EQ(device.UOM(), umKm);
    EXPECT_FALSE(device.IsConnected());
    EXPECT_FALSE(device.DeviceActive());
    EXPECT_FALSE(device.TimerStatsEnabled());
    EXPECT_EQ(device.TimerStatsInterval(), 1000u);
    EXPECT_EQ(device.DeviceType(), 0);
}

TEST_F(NoxCustomDeviceTest, AStateChangeIsAnnouncedOnceWithOldAndNew) {
    std::vector<std::pair<TCompetitorState, TCompetitorState>> changes;
    device.OnCompetitorStateChanged = [&](TComponent* sender, TCompetitorState o,
                                          TCompetitorState n) {
        EXPECT_EQ(sender, &device);
        changes.emplace_back(o, n);
    };
    device.SetCompetitorState(csUnknown);
    EXPECT_TRUE(changes.empty());
    device.SetCompetitorState(csReadyToStart);
    device.SetCompetitorState(csReadyToStart);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0], std::make_pair(csUnknown, csReadyToStart));
}

TEST_F(NoxCustomDeviceTest, ToleranceIsMeasuredForwardsModuloTheTickRange) {
    EXPECT_TRUE(device.IsWithinTolerance(1000, 900));
    EXPECT_FALSE(device.IsWithinTolerance(1000, 899));
    EXPECT_FALSE(device.IsWithinTolerance(5, 10));
    EXPECT_TRUE(device.IsWithinTolerance(20, 0xFFFFFFF0u)) << "across the wrap";
}

TEST_F(NoxCustomDeviceTest, ResettingTheStatisticsKeepsTheMaximaOfSpeedAndPower) {
    device.SetMaxSpeed(41.5);
    device.SetMaxPower(512);
    device.SetSpeed(30);
    device.SetPower(200);
    device.SetDistance(12);
    device.SetCalories(300);
    device.SetHeartRate(150);
    device.SetMaxHeartRate(170);
    device.SetArrived(true);
    device.SetCourseCompleted(true);
    device.SetExtraStat2(4);
    device.ResetStats();
    EXPECT_EQ(device.MaxSpeed(), 41.5);
    EXPECT_EQ(device.MaxPower(), 512);
    EXPECT_EQ(device.Speed(), 0);
    EXPECT_EQ(device.Power(), 0);
    EXPECT_EQ(device.Distance(), 0);
    EXPECT_EQ(device.Calories(), 0);
    EXPECT_EQ(device.HeartRate(), 0);
    EXPECT_EQ(device.MaxHeartRate(), 0);
    EXPECT_FALSE(device.Arrived());
    EXPECT_FALSE(device.CourseCompleted());
    EXPECT_EQ(device.ExtraStat2(), 0);
    EXPECT_EQ(device.StatsMarker(), -1);
}

// A device that records what reaches its virtual setters.
class TRecordingDevice : public TNoxCustomDevice {
public:
    std::vector<std::string> calls;
    void SetSpeed(double v) override {
        calls.push_back("Speed " + std::to_string(int(v)));
        TNoxCustomDevice::SetSpeed(v);
    }
    void SetDistance(double v) override {
        calls.push_back("Distance " + std::to_string(int(v)));
        TNoxCustomDevice::SetDistance(v);
    }
    void SetHeartRate(int32_t v) override {
        calls.push_back("HeartRate " + std::to_string(v));
        TNoxCustomDevice::SetHeartRate(v);
    }
    void SetCadence(int32_t v) override {
        calls.push_back("Cadence " + std::to_string(v));
        TNoxCustomDevice::SetCadence(v);
    }
    void StatsTick() override {
        calls.push_back("StatsTick");
        TNoxCustomDevice::StatsTick();
    }
};

TEST(NoxCustomDeviceSimulation, SimulatedMeasuresGoThroughTheSettersInOrder) {
    TRecordingDevice device;
    device.calls.clear();
    device.SetSimulatedMeasures(120, 80, 1000, 3, 25);
    EXPECT_EQ(device.calls,
              (std::vector<std::string>{"Speed 25", "Distance 3", "HeartRate 120", "Cadence 80"}));
    device.SetSimulationMode(true);
    device.calls.clear();
    device.ResetStats();
    ASSERT_GE(device.calls.size(), 4u);
    EXPECT_EQ(device.calls[0], "Speed 0") << "the simulated zero measures come first";
    EXPECT_EQ(device.calls[3], "Cadence 0");
}

TEST(NoxCustomDeviceTimer, TheTimerRunsTheDerivedStepAndItsOnStats) {
    TRecordingDevice device;
    int stats = 0;
    device.OnStats = [&](TComponent*) { ++stats; };
    device.SetTimerStatsInterval(3600000);
    device.SetTimerStatsEnabled(true);
    device.TimerStats().TickNow();
    EXPECT_EQ(device.calls.back(), "StatsTick");
    EXPECT_EQ(stats, 1);
    EXPECT_EQ(device.TimerStats().NominalElapsed(), 3600000u);
    device.SetTimerStatsEnabled(false);
    device.TimerStats().TickNow();
    EXPECT_EQ(stats, 1) << "no step while the timer is off";
}

TEST_F(NoxCustomDeviceTest, ConnectAndDisconnectSetTheFlagAndAnnounceIt) {
    std::vector<std::string> events;
    device.OnConnected = [&](TComponent*) { events.push_back("connected"); };
    device.OnDisconnected = [&](TComponent*) { events.push_back("disconnected"); };
    device.Connect();
    EXPECT_TRUE(device.IsConnected());
    device.Disconnect();
    EXPECT_FALSE(device.IsConnected());
    EXPECT_EQ(events, (std::vector<std::string>{"connected", "disconnected"}));
}

TEST_F(NoxCustomDeviceTest, ClearingTheRiderForgetsWhoRides) {
    device.SetRiderName("Anna");
    device.SetRiderId(7);
    device.SetUOM(umMiles);
    device.SetSpeed(20);
    device.SetDeviceActive(true);
    device.Connect();
    device.ClearRider();
    EXPECT_EQ(device.RiderName(), "");
    EXPECT_EQ(device.RiderId(), -1);
    EXPECT_EQ(device.UOM(), umKm);
    EXPECT_EQ(device.Speed(), 0);
    EXPECT_FALSE(device.DeviceActive());
    EXPECT_FALSE(device.IsConnected());
}

TEST_F(NoxCustomDeviceTest, AssigningCopiesTheRiderNameOnly) {
    TNoxCustomDevice other;
    other.SetRiderName("Bruno");
    other.SetRiderId(4);
    device.Assign(other);
    EXPECT_EQ(device.RiderName(), "Bruno");
    EXPECT_EQ(device.RiderId(), -1);
}

TEST(NoxCustomDeviceStoredForm, DefaultsAreOmittedAndToleranceHundredIsWritten) {
    TComponent form;
    auto* device = new TNoxCustomDevice(&form);
    device->SetName("Rider1");
    std::string text = WriteComponent(form);
    EXPECT_EQ(text.find("RiderId"), std::string::npos) << text;
    EXPECT_NE(text.find("TimeToleranceMs = 100"), std::string::npos) << text;
    device->SetTimeToleranceMs(50);
    EXPECT_EQ(WriteComponent(form).find("TimeToleranceMs"), std::string::npos);

    device->SetRiderName("Carla");
    device->SetRiderWeight(64);
    device->SetUOM(umMiles);
    device->SetAlarmHeartHighLimit(190);
    device->SetTimerStatsInterval(500);
    device->SetPhoto(std::string("\x89PNG\0\x01", 6));
    text = WriteComponent(form);
    TComponent copy;
    auto* loaded = new TNoxCustomDevice(&copy);
    loaded->SetName("Rider1");
    ReadComponent(text, copy);
    EXPECT_EQ(loaded->RiderName(), "Carla");
    EXPECT_EQ(loaded->RiderWeight(), 64);
    EXPECT_EQ(loaded->UOM(), umMiles);
    EXPECT_EQ(loaded->AlarmHeartHighLimit(), 190);
    EXPECT_EQ(loaded->TimerStatsInterval(), 500u);
    EXPECT_EQ(loaded->Photo(), std::string("\x89PNG\0\x01", 6));
    EXPECT_EQ(loaded->TimeToleranceMs(), 100u) << "50 was not stored";
}

TEST(VeloxDeviceStoredForm, ValuesDifferentFromTheirDeclaredDefaultsAreWritten) {
    TComponent form;
    auto* device = new TVeloxDeviceW(&form);
    device->SetName("VeloxDeviceW1");
    const std::string text = WriteComponent(form);
    EXPECT_NE(text.find("SecurityActive = False"), std::string::npos) << text;
    EXPECT_NE(text.find("PrecisionSpeed = 8"), std::string::npos) << text;
    EXPECT_NE(text.find("RecoverConnectionTime = 0"), std::string::npos) << text;
    EXPECT_EQ(text.find("HrArrayLength"), std::string::npos) << text;
    EXPECT_EQ(text.find("Version ="), std::string::npos) << "the version is not stored";

    device->SetHrArrayLength(0);
    device->SetCadenceArrayLength(5);
    device->SetSpeedArrayLength(5);
    device->SetResistanceLatency(-4);
    TComponent copy;
    auto* loaded = new TVeloxDeviceW(&copy);
    loaded->SetName("VeloxDeviceW1");
    ReadComponent(WriteComponent(form), copy);
    EXPECT_EQ(loaded->HrArrayLength(), 0);
    EXPECT_EQ(loaded->SpeedArrayLength(), 5);
    EXPECT_EQ(loaded->ResistanceLatency(), 0) << "negative latencies are stored as 0";
    EXPECT_FALSE(loaded->SecurityActive());
    EXPECT_EQ(loaded->CompetitorState(), csStopped);
    EXPECT_EQ(loaded->Version(), "1.0.0.3");
    EXPECT_TRUE(loaded->DeviceActive());
}

TEST(NoxCustomDeviceStateName, EveryStateHasItsNameAndTheUnusedOrdinalNone) {
    EXPECT_STREQ(CompetitorStateName(csUnknown), "csUnknown");
    EXPECT_STREQ(CompetitorStateName(csConnected), "csConnected");
    EXPECT_STREQ(CompetitorStateName(csReadyToStart), "csReadyToStart");
    EXPECT_STREQ(CompetitorStateName(csStarted), "csStarted");
    EXPECT_STREQ(CompetitorStateName(csPaused), "csPaused");
    EXPECT_STREQ(CompetitorStateName(csStopped), "csStopped");
    EXPECT_EQ(CompetitorStateName(static_cast<TCompetitorState>(1)), nullptr);
    EXPECT_EQ(CompetitorStateName(static_cast<TCompetitorState>(7)), nullptr);
}

}  // namespace
}  // namespace wct
