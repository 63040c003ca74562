// SPDX-License-Identifier: Apache-2.0
// The wireless rider device on the protocol component, against the dongle simulator over a
// real pseudo-terminal, in virtual time. Statistics steps are run by hand (TickNow) right
// after a measures frame arrived, so that every step sees a known measure.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "common/delay_with_messages.h"
#include "common/tick_count.h"
#include "device/velox_device_w.h"
#include "serial/port_inventory.h"
#include "sim/dongle_simulator.h"
#include "sim/sim_clock.h"
#include "support/resistance_levels.h"

namespace wct {
namespace {

constexpr uint8_t kConsole = 1;

class VeloxDeviceSimTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetPortSource([] { return std::vector<std::string>{}; });
        sim::TDongleOptions options;
        options.joinDelayMs = 100;
        for (uint8_t id = 1; id <= 2; ++id) {
            options.consoles.push_back(sim::DefaultConsole(id));
            options.consoles.back().version = 5;  // a 45 mm roll
        }
        sim::TSimSettings settings;
        settings.clock = &clock;
        simulator = std::make_unique<sim::TDongleSimulator>(options, settings);
        simulator->SetRider(1, {1000, 100, 80});
        simulator->SetRider(2, {1500, 110, 90});
        simulator->Start();
        protocol.SetPortDef(simulator->PortPath());
        ASSERT_TRUE(protocol.FindDongle());
        protocol.OnMeasuresReceived = [this](const TMiraWirelessConsoleMeasures&, uint8_t id) {
            if (id == kConsole) ++measures;
        };
        map.SetText(ShippedResistanceMapText());
        map.LoadMap();
        device.SetWirelessUSB(&protocol);
        device.SetResistanceMap(&map);
        device.SetRiderWeight(70);
        device.SetTimerStatsInterval(3600000);  // no tick of its own: steps are run by hand
    }
    void TearDown() override {
        device.SetTimerStatsEnabled(false);
        protocol.StopResistanceSending();
        SetPortSource(nullptr);
    }

    void ConnectAndStart() {
        ASSERT_TRUE(device.Connect());
        ASSERT_EQ(device.IDConsole(), kConsole);
        ASSERT_TRUE(device.Start());
    }

    template <typename Pred>
    bool PumpUntil(Pred done, uint32_t ms = 20000) {
        return ServeUntil(done, ms, 1);
    }
    // Waits for the console's next measures frame.
    void NextMeasures() {
        const int seen = measures;
        ASSERT_TRUE(PumpUntil([&] { return measures > seen; }, 5000));
    }
    // One statistics step on a fresh measure.
    void Step() {
        NextMeasures();
        device.TimerStats().TickNow();
    }
    TMiraConsoleMeasure& Entry() { return (*protocol.LastMeasure())[kConsole]; }
    // The console's rider changes, seen in the measures table before the next step.
    void Ride(const sim::TScriptedRider& rider) {
        simulator->SetRider(kConsole, rider);
        ASSERT_TRUE(PumpUntil(
            [&] { return Entry().HeartRate == rider.heartRate && Entry().Rpm == rider.rpm; },
            5000));
    }

    sim::TPacedClock clock{100000, 10};
    std::unique_ptr<sim::TDongleSimulator> simulator;
    TMiraWirelessProtocol protocol;
    TResistanceMap map;
    TVeloxDeviceW device;
    int measures = 0;
};

TEST_F(VeloxDeviceSimTest, ConnectBindsTheNextConsoleThatJoinsWithItsTrainerVersion) {
    int connected = 0;
    int versions = 0;
    device.OnConnected = [&](TComponent*) { ++connected; };
    device.OnVersionChange = [&](TComponent*) { ++versions; };
    ASSERT_TRUE(device.Connect());
    EXPECT_TRUE(device.Connected());
    EXPECT_TRUE(device.IsConnected());
    EXPECT_EQ(device.IDConsole(), 1);
    EXPECT_EQ(device.VeloxVersion(), 5);
    EXPECT_EQ(device.RollDiameter(), 45);
    EXPECT_EQ(device.SerialNumber(), 0x100111);
    EXPECT_EQ(connected, 1);
    EXPECT_EQ(versions, 1);
    EXPECT_TRUE(device.Connect()) << "already bound";
    EXPECT_EQ(connected, 1);

    TVeloxDeviceW second;
    second.SetWirelessUSB(&protocol);
    ASSERT_TRUE(second.Connect());
    EXPECT_EQ(second.IDConsole(), 2) << "each console is handed out once";
}

TEST_F(VeloxDeviceSimTest, WithNoConsoleToJoinConnectFailsAsAnOldTrainer) {
    ASSERT_TRUE(device.Connect());
    TVeloxDeviceW second;
    second.SetWirelessUSB(&protocol);
    ASSERT_TRUE(second.Connect());
    TVeloxDeviceW third;
    third.SetWirelessUSB(&protocol);
    int connected = 0;
    third.OnConnected = [&](TComponent*) { ++connected; };
    protocol.SetTimeToWaitAddNewConsole(2000);
    clock.SetIdleStep(20);
    EXPECT_FALSE(third.Connect());
    EXPECT_FALSE(third.Connected());
    EXPECT_EQ(third.IDConsole(), 0);
    EXPECT_EQ(connected, 1) << "announced before the search";
    EXPECT_EQ(third.VeloxVersion(), 4.5);
    EXPECT_EQ(third.RollDiameter(), 39.5);
    EXPECT_EQ(third.SerialNumber(), -1);
}

TEST_F(VeloxDeviceSimTest, AFillingSpeedWindowShowsTheMeasuredSpeedNotARampFromZero) {
    ConnectAndStart();
    Step();
    EXPECT_DOUBLE_EQ(device.Speed(), 8.478);  // 60000 x 45 x 3.14 / 1000000
    Step();
    Step();
    EXPECT_DOUBLE_EQ(device.Speed(), 8.478);
    EXPECT_DOUBLE_EQ(device.MaxSpeed(), 8.478);
    EXPECT_EQ(device.Cadence(), 80);
    EXPECT_EQ(device.AverageCadence(), 80);
    EXPECT_EQ(device.TimeElapsed(), 3u * 3600000u);
    EXPECT_EQ(device.Power(), std::lround(device.PowerAtSpeed(8.478, 0)));

    Ride({500, 100, 80});
    Step();
    EXPECT_LT(device.Speed(), 8.478);
    EXPECT_DOUBLE_EQ(device.MaxSpeed(), 8.478) << "the top speed stays when the rider slows";
}

TEST_F(VeloxDeviceSimTest, DistanceFollowsTheRollRevolutions) {
    ConnectAndStart();
    Step();
    Step();
    const double revolutions = Entry().Revolutions;
    EXPECT_GT(revolutions, 0) << "the roll turns while started";
    EXPECT_DOUBLE_EQ(device.Distance(), 45 * revolutions * 3.14 / 1000000);

    NextMeasures();
    Entry().Revolutions = 10000;
    device.TimerStats().TickNow();
    EXPECT_DOUBLE_EQ(device.Distance(), 1.413);
    EXPECT_DOUBLE_EQ(device.AverageSpeed(), 1.413 / 3) << "over the three hours of steps";
}

TEST_F(VeloxDeviceSimTest, KeysByteFiveReportsPlusOnceAndIsConsumed) {
    ConnectAndStart();
    std::vector<TConsoleKey> keys;
    device.OnConsoleKeyDown = [&](TComponent*, TConsoleKey key) { keys.push_back(key); };
    simulator->PressKeys(kConsole, 0x05);
    ASSERT_TRUE(PumpUntil([&] { return Entry().Keys == 0x05; }, 5000));
    device.TimerStats().TickNow();
    EXPECT_EQ(keys, std::vector<TConsoleKey>{ckPlus});
    EXPECT_EQ(Entry().Keys, 0);
    device.TimerStats().TickNow();
    EXPECT_EQ(keys.size(), 1u);

    const std::vector<std::pair<uint8_t, TConsoleKey>> singles = {
        {0x01, ckMinus}, {0x08, ckE}, {0x02, ckT}, {0x0A, ckE}};
    for (const auto& [byte, key] : singles) {
        keys.clear();
        Entry().Keys = byte;
        device.TimerStats().TickNow();
        EXPECT_EQ(keys, std::vector<TConsoleKey>{key}) << int(byte);
    }
}

TEST_F(VeloxDeviceSimTest, AKeyHandlerThatGrowsTheMeasuresTableStillConsumesTheKeys) {
    ConnectAndStart();
    device.OnConsoleKeyDown = [&](TComponent*, TConsoleKey) {
        // Measures of a console far up the table arrive while the handler runs.
        protocol.PacketReceived(nullptr, std::string("\x3E\x01\xFA\x05\0\0\0\0\0\0\x21", 11));
    };
    NextMeasures();
    Entry().Keys = 0x04;
    device.TimerStats().TickNow();
    ASSERT_GE(protocol.LastMeasure()->size(), 251u);
    EXPECT_EQ(Entry().Keys, 0);
}

TEST_F(VeloxDeviceSimTest, WithoutAKeyHandlerTheKeysStayForOthers) {
    ConnectAndStart();
    simulator->PressKeys(kConsole, 0x04);
    ASSERT_TRUE(PumpUntil([&] { return Entry().Keys == 0x04; }, 5000));
    device.TimerStats().TickNow();
    EXPECT_EQ(Entry().Keys, 0x04);
}

TEST_F(VeloxDeviceSimTest, AHeartRateBelowThirtyFiveIsNoSignalAndNoAlarm) {
    simulator->SetRider(kConsole, {1000, 120, 80});
    ConnectAndStart();
    int alarms = 0;
    device.OnAlarmHeart = [&](TComponent*, int, bool, bool, bool&) { ++alarms; };
    for (int i = 0; i < 5; ++i) Step();
    ASSERT_TRUE(device.HeartConnectionActive());
    ASSERT_EQ(device.HeartRate(), 120);
    EXPECT_EQ(device.AverageHeartRate(), 120) << "no ramp up from zero while the window fills";

    // The first reading without a signal shows it: no average of old beats and the 30.
    Ride({1000, 30, 80});
    Step();
    EXPECT_FALSE(device.HeartConnectionActive());
    EXPECT_EQ(device.HeartRate(), 0);
    EXPECT_EQ(device.AverageHeartRate(), 0);
    EXPECT_EQ(alarms, 0);

    Ride({1000, 120, 80});
    Step();
    EXPECT_TRUE(device.HeartConnectionActive());
    EXPECT_EQ(device.HeartRate(), 120) << "the window started afresh";

    const struct {
        uint8_t reading;
        int32_t shown;
    } edges[] = {{34, 0}, {35, 35}};
    for (const auto& e : edges) {
        Ride({1000, e.reading, 80});
        Step();
        EXPECT_EQ(device.HeartRate(), e.shown) << int{e.reading};
    }
}

TEST_F(VeloxDeviceSimTest, TheAverageCadenceIsTheMeanOfEveryStepRoundedHalfToEven) {
    ConnectAndStart();
    // Means 80, 80.5, 81.3, 82, 82.6.
    const struct {
        uint8_t cadence;
        int32_t average;
    } steps[] = {{80, 80}, {81, 80}, {83, 81}, {84, 82}, {85, 83}};
    uint16_t rpm = 1000;
    for (const auto& s : steps) {
        Ride({++rpm, 100, s.cadence});  // a new rpm tells the new cadence's frame apart
        Step();
        EXPECT_EQ(device.AverageCadence(), s.average) << "after " << int{s.cadence};
    }
}

TEST_F(VeloxDeviceSimTest, WithHeartProcessingOffTheHeartRateIsZero) {
    ConnectAndStart();
    device.SetHeartEnabled(false);
    Step();
    EXPECT_EQ(device.HeartRate(), 0);
    EXPECT_EQ(device.AverageHeartRate(), 0);
}

TEST_F(VeloxDeviceSimTest, HighHeartRatesRaiseTheAlarmAndAboveTheMaximumDropTheLoad) {
    simulator->SetRider(kConsole, {1000, 215, 80});
    ConnectAndStart();
    device.SetVeloxResistance(100);
    ASSERT_EQ(device.VeloxResistance(), 100);
    struct TAlarm {
        int percent;
        bool higher;
        int resistance;
    };
    std::vector<TAlarm> alarms;
    device.OnAlarmHeart = [&](TComponent*, int percent, bool higher, bool aborted, bool& doStop) {
        EXPECT_FALSE(aborted);
        EXPECT_TRUE(doStop);
        alarms.push_back({percent, higher, device.VeloxResistance()});
    };
    for (int i = 0; i < 5; ++i) Step();  // the heart window of 5 fills
    EXPECT_EQ(device.HeartRate(), 215);
    ASSERT_EQ(alarms.size(), 5u);
    EXPECT_EQ(alarms[0].percent, 2);
    EXPECT_TRUE(alarms[0].higher);
    EXPECT_EQ(alarms[0].resistance, 100) << "215 is not above the maximum of 220";
    EXPECT_EQ(device.MaxHeartRate(), 215);

    Ride({1000, 225, 80});
    for (int i = 0; i < 5; ++i) Step();
    EXPECT_EQ(device.HeartRate(), 225);
    EXPECT_EQ(alarms.back().percent, 7);
    EXPECT_EQ(alarms.back().resistance, 0) << "the load is gone before the alarm";
    EXPECT_EQ(device.VeloxElevation(), 0);
}

TEST_F(VeloxDeviceSimTest, AHeartRateAtTheHighLimitRaisesTheAlarm) {
    simulator->SetRider(kConsole, {1000, 210, 80});
    ConnectAndStart();
    int alarms = 0;
    device.OnAlarmHeart = [&](TComponent*, int, bool higher, bool, bool&) { alarms += higher; };
    const struct {
        int32_t limit;
        int alarms;
    } cases[] = {{211, 0}, {210, 1}};
    for (const auto& c : cases) {
        device.SetAlarmHeartHighLimit(c.limit);
        Step();
        EXPECT_EQ(alarms, c.alarms) << "heart rate 210, limit " << c.limit;
    }
}

TEST_F(VeloxDeviceSimTest, ALowHeartRateAlarmsBelowItsLimit) {
    simulator->SetRider(kConsole, {1000, 36, 80});
    device.SetAlarmHeartLowLimit(40);
    ConnectAndStart();
    std::vector<int> percents;
    device.OnAlarmHeart = [&](TComponent*, int percent, bool higher, bool, bool&) {
        EXPECT_FALSE(higher);
        percents.push_back(percent);
    };
    for (int i = 0; i < 5; ++i) Step();
    ASSERT_FALSE(percents.empty());
    EXPECT_EQ(percents.back(), 10);  // (40 - 36) / 40
}

TEST_F(VeloxDeviceSimTest, WithoutALowLimitTheAlarmPercentageIsZero) {
    simulator->SetRider(kConsole, {1000, 215, 80});
    device.SetAlarmHeartLowLimit(0);
    ConnectAndStart();
    std::vector<int> percents;
    device.OnAlarmHeart = [&](TComponent*, int percent, bool, bool, bool&) {
        percents.push_back(percent);
    };
    for (int i = 0; i < 5; ++i) Step();
    EXPECT_EQ(percents, std::vector<int>(5, 0));
}

TEST_F(VeloxDeviceSimTest, TheCourseEndsOnceAtItsDistance) {
    ConnectAndStart();
    device.SetDistanceToPerform(45 * 10000.0 * 3.14 / 1000000);  // exactly what 10000 turns make
    int finished = 0;
    device.OnCourseFinished = [&](TComponent*) {
        ++finished;
        EXPECT_EQ(device.CompetitorState(), csStopped);
        EXPECT_TRUE(device.CourseCompleted());
    };
    Step();
    EXPECT_EQ(finished, 0);
    NextMeasures();
    Entry().Revolutions = 10000;
    device.TimerStats().TickNow();
    EXPECT_EQ(finished, 1);
    EXPECT_TRUE(device.Arrived());
    EXPECT_EQ(device.CompetitorState(), csStopped);
    EXPECT_FALSE(device.TimerStatsEnabled());
    device.TimerStats().TickNow();
    EXPECT_EQ(finished, 1);
}

TEST_F(VeloxDeviceSimTest, ALostConsoleIsSoughtForOneStepThenTheRideStops) {
    device.SetRecoverConnection(true);
    device.SetRecoverConnectionTime(-5);  // a negative wait counts as none
    ConnectAndStart();
    int disconnected = 0;
    device.OnDisconnected = [&](TComponent*) { ++disconnected; };
    Step();
    simulator->Leave(kConsole);
    ASSERT_TRUE(PumpUntil([&] { return !protocol.IsConsoleConnected(kConsole); }, 5000));
    device.TimerStats().TickNow();
    EXPECT_TRUE(protocol.Opened()) << "registration opened for the console to come back";
    EXPECT_EQ(device.CompetitorState(), csStarted);
    device.TimerStats().TickNow();
    EXPECT_FALSE(protocol.Opened());
    EXPECT_EQ(device.CompetitorState(), csStopped);
    EXPECT_FALSE(device.Connected());
    EXPECT_EQ(disconnected, 1);
}

TEST_F(VeloxDeviceSimTest, WithoutRecoveryALostConsoleStopsTheRideAtOnce) {
    ConnectAndStart();
    int disconnected = 0;
    device.OnDisconnected = [&](TComponent*) { ++disconnected; };
    simulator->Leave(kConsole);
    ASSERT_TRUE(PumpUntil([&] { return !protocol.IsConsoleConnected(kConsole); }, 5000));
    device.TimerStats().TickNow();
    EXPECT_EQ(device.CompetitorState(), csStopped);
    EXPECT_FALSE(device.Connected());
    EXPECT_EQ(disconnected, 1);
}

TEST_F(VeloxDeviceSimTest, AConsoleThatComesBackIsKept) {
    device.SetRecoverConnection(true);
    device.SetRecoverConnectionTime(50);
    ConnectAndStart();
    int disconnected = 0;
    device.OnDisconnected = [&](TComponent*) { ++disconnected; };
    simulator->Leave(kConsole);
    ASSERT_TRUE(PumpUntil([&] { return !protocol.IsConsoleConnected(kConsole); }, 5000));
    device.TimerStats().TickNow();
    ASSERT_TRUE(protocol.Opened());
    device.TimerStats().TickNow();
    EXPECT_TRUE(protocol.Opened()) << "still waiting";
    simulator->ComeBack(kConsole);
    ASSERT_TRUE(PumpUntil([&] { return protocol.IsConsoleConnected(kConsole); }, 5000));
    device.TimerStats().TickNow();
    EXPECT_FALSE(protocol.Opened());
    EXPECT_EQ(device.CompetitorState(), csStarted);
    EXPECT_TRUE(device.Connected());
    EXPECT_EQ(disconnected, 0);
    Step();
    EXPECT_GT(device.Speed(), 0);
}

// The rider's safety and numbers where the resistance loop of the windows and `wct ride`
// runs: its handler asks for the map's level on every step.
class VeloxDeviceRideTest : public VeloxDeviceSimTest {
protected:
    void BindTheResistanceLoop() {
        device.OnStats = [this](TComponent*) {
            device.SetVeloxResistance(
                device.ResistanceForPower(device.Power(), nullptr, device.Speed()));
            device.SetVeloxElevation(7);
        };
    }
};

TEST_F(VeloxDeviceRideTest, AboveTheMaximumHeartRateTheBrakeStaysOffUntilTheHeartFalls) {
    simulator->SetRider(kConsole, {3000, 150, 80});
    device.SetCurrentSlope(5);
    ConnectAndStart();
    BindTheResistanceLoop();
    Step();
    const int loaded = device.VeloxResistance();
    ASSERT_GT(loaded, 0);
    ASSERT_TRUE(PumpUntil([&] { return simulator->Brake(kConsole) == loaded; }, 3000));

    Ride({3000, 250, 80});
    int cutSteps = 0;
    for (int i = 0; i < 8; ++i) {
        Step();
        if (!device.HeartCut()) continue;
        ++cutSteps;
        EXPECT_EQ(device.VeloxResistance(), 0) << "step " << i;
        EXPECT_EQ(device.VeloxElevation(), 0);
        // Two resistance frames later the console still has no load.
        ASSERT_TRUE(PumpUntil([&] { return simulator->Brake(kConsole) == 0; }, 3000));
    }
    EXPECT_GE(cutSteps, 5) << "the cut starts once the heart rate passes 220 and holds";

    Ride({3000, 150, 80});
    for (int i = 0; i < 6 && device.HeartCut(); ++i) Step();
    EXPECT_FALSE(device.HeartCut());
    EXPECT_EQ(device.VeloxResistance(), loaded);
    EXPECT_TRUE(PumpUntil([&] { return simulator->Brake(kConsole) == loaded; }, 3000));
}

// A rider at 225 whose chest strap is lost: the console reports 0 from then on.
TEST_F(VeloxDeviceRideTest, ALostStrapReadsNoHeartAndKeepsTheBrakeOffUntilRealReadingsEndTheCut) {
    simulator->SetRider(kConsole, {3000, 150, 80});
    device.SetCurrentSlope(5);
    ConnectAndStart();
    BindTheResistanceLoop();
    // The grid of the main window, or any writer that knows nothing of hearts.
    protocol.OnBeforeSendResistance = [this] { protocol.SetConsoleResistance(kConsole, 0x80, 0, 0); };
    test::TResistanceLevels wire(kConsole);
    protocol.SetWireTap(&wire);
    Step();
    ASSERT_GT(device.VeloxResistance(), 0);

    Ride({3000, 225, 80});
    Step();
    ASSERT_TRUE(device.HeartCut());
    const size_t cutFrom = wire.levels.size();
    Ride({3000, 0, 80});
    for (int i = 0; i < 8; ++i) {
        Step();
        EXPECT_EQ(device.HeartRate(), 0) << "step " << i << ": no average of beats and zeros";
        EXPECT_TRUE(device.HeartCut()) << "step " << i;
        EXPECT_EQ(device.VeloxResistance(), 0);
    }
    // The window fills with real readings at or below 215: five steps of it.
    Ride({3000, 150, 80});
    for (int i = 0; i < 4; ++i) {
        Step();
        EXPECT_EQ(device.HeartRate(), 150) << "a returning strap reads what it reads";
        EXPECT_TRUE(device.HeartCut()) << "step " << i;
    }
    const size_t cutTo = wire.levels.size();
    Step();
    EXPECT_FALSE(device.HeartCut());
    EXPECT_GT(device.VeloxResistance(), 0) << "the map's level is back";
    ASSERT_GE(cutTo, cutFrom + 2) << "a resistance frame a second, steps four times as often";
    for (size_t i = cutFrom; i < cutTo; ++i) EXPECT_EQ(wire.levels[i], 0) << "frame " << i;
    EXPECT_TRUE(PumpUntil([&] { return simulator->Brake(kConsole) == 0x80; }, 3000))
        << "the grid's level reaches the console once the cut ended";
    protocol.SetWireTap(nullptr);
}

TEST_F(VeloxDeviceRideTest, TurningHeartProcessingOffKeepsACutUntilARealReadingEndsIt) {
    simulator->SetRider(kConsole, {3000, 230, 80});
    ConnectAndStart();
    Step();
    ASSERT_TRUE(device.HeartCut());
    device.SetHeartEnabled(false);
    Ride({3000, 0, 80});
    for (int i = 0; i < 3; ++i) Step();
    EXPECT_TRUE(device.HeartCut()) << "the heart is unknown, not back";
    EXPECT_EQ(device.HeartRate(), 0);
    Ride({3000, 140, 80});
    for (int i = 0; i < 5; ++i) Step();
    EXPECT_FALSE(device.HeartCut());
    Ride({3000, 240, 80});
    Step();
    EXPECT_FALSE(device.HeartCut()) << "with the processing off no new cut starts";
}

TEST_F(VeloxDeviceRideTest, ANewRideStartsFromZeroAndAResumedOneKeepsItsFigures) {
    simulator->SetRider(kConsole, {3000, 100, 80});
    device.SetCurrentSlope(20);  // about one calorie a step
    ConnectAndStart();
    for (int i = 0; i < 5; ++i) Step();
    ASSERT_GE(device.Calories(), 3);
    ASSERT_TRUE(device.Pause());
    const int calories = device.Calories();
    ASSERT_TRUE(device.Start());
    Step();
    EXPECT_GT(device.Calories(), calories) << "a resumed ride goes on";

    ASSERT_TRUE(device.Stop());
    Ride({3000, 150, 80});
    ASSERT_TRUE(device.Start());
    Step();
    EXPECT_EQ(device.Calories(), 0);
    EXPECT_LT(device.Distance(), 0.01);
    EXPECT_EQ(device.HeartRate(), 150) << "no beats of the last ride in the window";
    EXPECT_EQ(device.AverageHeartRate(), 150);
    EXPECT_EQ(device.MaxHeartRate(), 150);
}

TEST_F(VeloxDeviceRideTest, AConsoleAwayAddsNothingAndKeepsItsBrake) {
    simulator->SetRider(kConsole, {3000, 120, 80});
    device.SetCurrentSlope(20);
    device.SetRecoverConnection(true);
    device.SetRecoverConnectionTime(50);
    ConnectAndStart();
    BindTheResistanceLoop();
    for (int i = 0; i < 3; ++i) Step();
    const int level = device.VeloxResistance();
    ASSERT_GT(level, 0);

    simulator->Leave(kConsole);
    ASSERT_TRUE(PumpUntil([&] { return !protocol.IsConsoleConnected(kConsole); }, 5000));
    const int calories = device.Calories();
    const double distance = device.Distance();
    for (int i = 0; i < 10; ++i) {
        clock.Advance(1000);
        device.TimerStats().TickNow();
        EXPECT_EQ(device.Speed(), 0);
        EXPECT_EQ(device.Power(), 0);
        EXPECT_EQ(device.HeartRate(), 0);
        EXPECT_EQ(device.VeloxResistance(), level);
    }
    EXPECT_EQ(device.Calories(), calories);
    EXPECT_EQ(device.Distance(), distance);

    simulator->ComeBack(kConsole);
    ASSERT_TRUE(PumpUntil([&] { return protocol.IsConsoleConnected(kConsole); }, 5000));
    device.TimerStats().TickNow();
    Step();
    Step();
    EXPECT_DOUBLE_EQ(device.Speed(), 25.434);
    // Two steps of riding after the return, not the ten seconds away.
    EXPECT_LT(device.Distance() - distance, 12 * 25.434 / 3600 / 2) << device.Distance();
    EXPECT_EQ(device.CompetitorState(), csStarted);
}

// A console out of reach without the dongle reporting it removed: it simply stops sending.
TEST_F(VeloxDeviceRideTest, ASilentConsoleReadsZeroAddsNothingAndComesBackWithoutAJump) {
    simulator->SetRider(kConsole, {3000, 120, 80});
    device.SetCurrentSlope(20);
    ConnectAndStart();
    BindTheResistanceLoop();
    for (int i = 0; i < 3; ++i) Step();
    const int level = device.VeloxResistance();
    ASSERT_GT(level, 0);

    simulator->SetReporting(kConsole, false);
    clock.Advance(SilenceAfterMs(Entry()) + 1);
    const int calories = device.Calories();
    const double distance = device.Distance();
    for (int i = 0; i < 8; ++i) {
        device.TimerStats().TickNow();
        EXPECT_EQ(device.Speed(), 0) << "step " << i;
        EXPECT_EQ(device.Power(), 0);
        EXPECT_EQ(device.HeartRate(), 0);
        EXPECT_EQ(device.VeloxResistance(), level) << "the brake keeps its level";
        clock.Advance(1000);
    }
    EXPECT_EQ(device.Calories(), calories);
    EXPECT_EQ(device.Distance(), distance);
    EXPECT_EQ(device.CompetitorState(), csStarted) << "silent is not lost";

    simulator->SetReporting(kConsole, true);
    Step();
    Step();
    EXPECT_DOUBLE_EQ(device.Speed(), 25.434);
    // The bound's worth at the returning speed and two steps of riding, not the 10 s away.
    EXPECT_LT(device.Distance() - distance, 3 * 25.434 / 3600) << device.Distance();
}

// A loop that cannot answer: the device is told once, and the brake keeps its level.
TEST_F(VeloxDeviceRideTest, ALookupThatFailsDuringARideIsToldOnceAndTheBrakeKeepsItsLevel) {
    simulator->SetRider(kConsole, {3000, 120, 80});
    device.SetCurrentSlope(5);
    ConnectAndStart();
    BindTheResistanceLoop();
    Step();
    const int level = device.VeloxResistance();
    ASSERT_GT(level, 0);
    std::vector<std::string> told;
    device.TimerStats().OnTickError = [&](const std::string& what) { told.push_back(what); };
    TResistanceMap broken;  // never loaded
    device.SetResistanceMap(&broken);
    for (int i = 0; i < 4; ++i) Step();
    EXPECT_EQ(told.size(), 1u);
    EXPECT_EQ(device.VeloxResistance(), level);
    EXPECT_EQ(device.CompetitorState(), csStarted);
    device.SetResistanceMap(&map);
}

TEST_F(VeloxDeviceSimTest, StartAfterPauseKeepsTheDistanceAndAfterStopClearsIt) {
    ConnectAndStart();
    for (int i = 0; i < 3; ++i) Step();
    const double distance = device.Distance();
    ASSERT_GT(distance, 0);
    std::vector<std::pair<TCompetitorState, TCompetitorState>> changes;
    device.OnCompetitorStateChanged = [&](TComponent*, TCompetitorState o, TCompetitorState n) {
        changes.emplace_back(o, n);
    };
    ASSERT_TRUE(device.Pause());
    EXPECT_EQ(device.CompetitorState(), csPaused);
    EXPECT_FALSE(device.TimerStatsEnabled());
    ASSERT_TRUE(device.Start());
    EXPECT_EQ(device.Distance(), distance);
    EXPECT_EQ(device.CompetitorState(), csStarted);
    EXPECT_FALSE(device.Start()) << "already started";
    ASSERT_TRUE(device.Stop());
    ASSERT_TRUE(device.Start());
    EXPECT_EQ(device.Distance(), 0);
    EXPECT_EQ(device.Speed(), 0);
    const std::vector<std::pair<TCompetitorState, TCompetitorState>> expected = {
        {csStarted, csPaused},  {csStarted, csPaused},  // the change, then once more
        {csPaused, csStarted},  {csPaused, csStarted},  {csStarted, csStopped},
        {csStarted, csStopped}, {csStopped, csStarted}, {csStopped, csStarted}};
    EXPECT_EQ(changes, expected);
}

TEST_F(VeloxDeviceSimTest, AStopVetoedByItsHandlerChangesNothing) {
    ConnectAndStart();
    device.OnBeforeStop = [](TComponent*, bool& canContinue) { canContinue = false; };
    EXPECT_FALSE(device.Stop());
    EXPECT_EQ(device.CompetitorState(), csStarted);
    EXPECT_TRUE(device.TimerStatsEnabled());
}

TEST_F(VeloxDeviceSimTest, TheLookedUpLevelReachesTheConsoleInTheNextResistanceFrame) {
    simulator->SetRider(kConsole, {2000, 120, 80});
    device.SetCurrentSlope(3);
    ConnectAndStart();
    int level = -1;
    device.OnStats = [&](TComponent*) {
        level = device.ResistanceForPower(device.Power(), nullptr, device.Speed());
        device.SetVeloxResistance(level);
    };
    for (int i = 0; i < 3; ++i) Step();
    ASSERT_GT(level, 0);
    EXPECT_EQ(device.VeloxResistance(), level);
    EXPECT_EQ(device.PowerToShow(), device.Power());
    EXPECT_TRUE(PumpUntil([&] { return simulator->Brake(kConsole) == level; }, 3000));
}

TEST_F(VeloxDeviceSimTest, ALookupThatRaisesInsideTheStepLeavesNoStepBlocked) {
    ConnectAndStart();
    TResistanceMap bad;  // never loaded: every lookup raises
    device.SetResistanceMap(&bad);
    int steps = 0;
    device.OnStats = [&](TComponent*) {
        ++steps;
        device.ResistanceForPower(115, nullptr, 15);
    };
    device.TimerStats().TickNow();  // the timer drops the exception
    EXPECT_EQ(steps, 1);

    TVeloxDeviceW other;
    int otherSteps = 0;
    other.OnStats = [&](TComponent*) { ++otherSteps; };
    other.SetTimerStatsInterval(3600000);
    other.SetTimerStatsEnabled(true);
    other.TimerStats().TickNow();
    EXPECT_EQ(otherSteps, 1) << "the shared guard was cleared";
    device.TimerStats().TickNow();
    EXPECT_EQ(steps, 2);
}

TEST_F(VeloxDeviceSimTest, AStepInsideAnotherDevicesStepIsSkipped) {
    ConnectAndStart();
    TVeloxDeviceW other;
    int otherSteps = 0;
    other.OnStats = [&](TComponent*) { ++otherSteps; };
    other.SetTimerStatsInterval(3600000);
    other.SetTimerStatsEnabled(true);
    device.OnStats = [&](TComponent*) { other.TimerStats().TickNow(); };
    device.TimerStats().TickNow();
    EXPECT_EQ(otherSteps, 0);
    other.TimerStats().TickNow();
    EXPECT_EQ(otherSteps, 1);
}

TEST_F(VeloxDeviceSimTest, DisconnectRemovesTheConsoleFromTheDongle) {
    ConnectAndStart();
    ASSERT_TRUE(device.Stop());
    int disconnected = 0;
    device.OnDisconnected = [&](TComponent*) { ++disconnected; };
    EXPECT_FALSE(device.Disconnect());
    EXPECT_FALSE(device.Connected());
    EXPECT_FALSE(device.IsConnected());
    EXPECT_EQ(disconnected, 1);
    EXPECT_TRUE(PumpUntil([&] { return !protocol.IsConsoleConnected(kConsole); }, 3000));
}

}  // namespace
}  // namespace wct
