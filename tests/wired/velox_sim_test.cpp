// SPDX-License-Identifier: Apache-2.0
// The driver against the wired trainer simulator over a real pseudo-terminal, in virtual
// time: every idle turn of the main thread moves the clock a few milliseconds, and the
// simulator keeps in step with it (sim::TPacedClock).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "common/delay_with_messages.h"
#include "common/tick_count.h"
#include "sim/wired_trainer_simulator.h"
#include "wired/velox_device.h"

namespace wct::wired {
namespace {

constexpr uint32_t kAnswerWaitMs = 300;

struct TNotice {
    TVxdErrorType type;
    int32_t code;
    int32_t occurence;
    bool operator==(const TNotice&) const = default;
};

class VeloxOnSimulator : public ::testing::Test {
protected:
    VeloxOnSimulator() {
        device.OnVxdErrorInfo = [this](TComponent*, TVxdErrorType type, int32_t code,
                                       int32_t occurence) {
            notices.push_back({type, code, occurence});
        };
        device.OnRepairingConnection = [this](TComponent*) { ++repairs; };
        device.OnConnectionLost = [this](TComponent*) { ++lost; };
    }
    ~VeloxOnSimulator() override {
        device.SetComPortConnected(false);
        if (!link.empty()) std::filesystem::remove_all(std::filesystem::path(link).parent_path());
    }

    void StartTrainer(double generation, sim::TWiredOptions options = {}, bool withLink = false) {
        options.generation = generation;
        options.serial = 0x0A0B0C;
        options.productVersion = 0x21;
        sim::TSimSettings settings;
        settings.clock = &clock;
        if (withLink) {
            const auto dir =
                std::filesystem::temp_directory_path() / ("wct-velox-" + std::to_string(getpid()));
            std::filesystem::create_directories(dir);
            link = (dir / "trainer").string();
            settings.linkPath = link;
        }
        trainer = std::make_unique<sim::TWiredTrainerSimulator>(options, settings);
        trainer->Start();
        device.SetComPortPort(withLink ? link : trainer->PortPath());
        device.SetComPortConnected(true);
    }
    // The driver must know a byte-protocol trainer before it asks.
    bool Connect(double generation, sim::TWiredOptions options = {}) {
        device.SetVersion(generation < 4 ? generation : 4);
        StartTrainer(generation, options);
        return device.Connect(kAnswerWaitMs);
    }
    // A fresh start for the next generation of a loop.
    void Restart() {
        device.SetComPortConnected(false);
        device.Disconnect();
        notices.clear();
        repairs = lost = 0;
    }
    std::string Dump() const {
        std::string text;
        for (const TNotice& n : notices)
            text += std::to_string(n.code) + "/" + std::to_string(n.occurence) + " ";
        return text;
    }
    int Count(int32_t code) const {
        return static_cast<int>(std::count_if(notices.begin(), notices.end(),
                                              [&](const TNotice& n) { return n.code == code; }));
    }
    template <typename Pred>
    bool WaitFor(Pred done, uint32_t ms) {
        return ServeUntil(done, ms, 10);
    }

    sim::TPacedClock clock{100000, 2};
    std::unique_ptr<sim::TWiredTrainerSimulator> trainer;
    TVeloxDevice device;
    std::vector<TNotice> notices;
    int repairs = 0;
    int lost = 0;
    std::string link;
};

// ---- Identification ------------------------------------------------------------------

TEST_F(VeloxOnSimulator, IdentifiesTrainersOfEveryGeneration) {
    for (double generation : {2.0, 4.0, 4.5, 5.0, 5.5, 6.0, 7.0}) {
        device.SetComPortConnected(false);
        device.Disconnect();
        ASSERT_TRUE(Connect(generation)) << generation;
        EXPECT_EQ(device.Version(), generation);
        EXPECT_EQ(device.Status(), vdsConnected);
        if (generation >= 4) {
            EXPECT_TRUE(WaitFor([&] { return device.ProductVersion() != 0; }, 500)) << generation;
            EXPECT_EQ(device.SerialNumber(), 0x0A0B0Cu) << generation;
            EXPECT_EQ(device.ProductVersion(), 0x21);
        }
    }
}

TEST_F(VeloxOnSimulator, TakesAnswer0x54AsGeneration5With45mmRollsAndLongFrames) {
    ASSERT_TRUE(Connect(5));
    EXPECT_EQ(device.RollDiameter(), 45);
    EXPECT_EQ(device.NumberOfRoundPerRollEvent(), 1);
    EXPECT_EQ(device.ComDataPacketSize(), 10);
    EXPECT_TRUE(device.ComDataPacketStartString().empty());
}

TEST_F(VeloxOnSimulator, StaysUnconnectedOnAWrongAnswerOrNone) {
    EXPECT_FALSE(Connect(5, {.identification = sim::TIdentification::Wrong}));
    EXPECT_FALSE(device.Connected());
    EXPECT_EQ(device.Version(), 4) << "the generation is not guessed";
    EXPECT_FALSE(Connect(6, {.identification = sim::TIdentification::None}));
    // Any byte is the answer of a byte-protocol trainer: one that stands still sends 0.
    device.SetVersion(2);
    StartTrainer(2, {.identification = sim::TIdentification::Wrong});
    trainer->SetRider(sim::TWiredRider{});
    EXPECT_FALSE(device.Connect(kAnswerWaitMs));
    EXPECT_EQ(device.Status(), vdsDisconnected);
}

TEST_F(VeloxOnSimulator, PicksTheAnswerOutOfATrainerThatIsAlreadyStreaming) {
    for (double generation : {4.0, 5.0, 7.0}) {
        device.SetComPortConnected(false);
        device.Disconnect();
        device.SetVersion(4);
        StartTrainer(generation);
        DelayWithMessages(1000);  // ten measures frames already on the line
        ASSERT_TRUE(device.Connect(kAnswerWaitMs)) << generation;
        EXPECT_EQ(device.Version(), generation);
    }
}

// ---- Riding --------------------------------------------------------------------------

TEST_F(VeloxOnSimulator, ReadsTheRidersSpeedWithin1PercentInEveryGeneration) {
    for (double generation : {2.0, 4.0, 4.5, 5.0, 5.5, 6.0, 7.0}) {
        device.SetComPortConnected(false);
        device.Disconnect();
        ASSERT_TRUE(Connect(generation)) << generation;
        trainer->SetRider(sim::TWiredRider{.speedKmh = 30, .pedalPeriodMs = 600});
        device.Start();
        DelayWithMessages(4000);
        EXPECT_NEAR(static_cast<double>(device.Speed()), 30, 0.3) << generation;
        EXPECT_NEAR(static_cast<double>(device.Distance()), 30.0 * 4 / 3600, 30.0 * 4 / 3600 * 0.1)
            << generation;
        if (generation > 4) {
            EXPECT_EQ(device.Cadence(), 100) << generation;
        }
        EXPECT_EQ(device.Status(), vdsRunning);
    }
}

TEST_F(VeloxOnSimulator, KeepsALongFrameTrainerMeasuringWhileRiding) {
    ASSERT_TRUE(Connect(5, {.keepAliveMs = 2000}));
    trainer->SetRider(sim::TWiredRider{.speedKmh = 20});
    device.Start();
    DelayWithMessages(8000);
    EXPECT_NEAR(static_cast<double>(device.Speed()), 20, 0.2);
    EXPECT_EQ(repairs, 0) << "the load frame of every statistics tick keeps it alive";
}

TEST_F(VeloxOnSimulator, PassesCommand5OnAndSurvivesUnknownCommandsAndGarbage) {
    ASSERT_TRUE(Connect(7));
    int unparsed = 0;
    device.OnVeloxMessage = [&](TComponent*, TVeloxDeviceMessageType type, long double, long double,
                                long double,
                                const std::string&) { unparsed += type == mtUnparsed; };
    trainer->SetRider(sim::TWiredRider{.speedKmh = 25});
    trainer->SetFaults(
        {.unknownCommandFraction = 0.5, .command5Fraction = 0.5, .garbageF0Fraction = 0.5});
    device.Start();
    DelayWithMessages(4000);
    EXPECT_GT(unparsed, 5);
    EXPECT_NEAR(static_cast<double>(device.Speed()), 25, 0.25);
}

// ---- Link repair ---------------------------------------------------------------------

TEST_F(VeloxOnSimulator, RepairsASilentLongFrameTrainerOnlyOnceItSpeaksAgain) {
    ASSERT_TRUE(Connect(5));
    trainer->SetSilent(true);
    ASSERT_TRUE(WaitFor([&] { return Count(vxeConnectionLost) > 0; }, 7000));
    EXPECT_EQ(repairs, 1);
    EXPECT_EQ(notices.front(), (TNotice{etNotice, vxeConnectionLost, 1}));
    ASSERT_TRUE(WaitFor([&] { return Count(vxeConnectionLost) == 2; }, 3500)) << Dump();
    EXPECT_EQ(Count(vxeRestored), 0) << "a port that opens is no trainer that speaks";
    trainer->SetSilent(false);
    ASSERT_TRUE(WaitFor([&] { return Count(vxeRestored) == 1; }, 1000)) << Dump();
    const size_t before = notices.size();
    DelayWithMessages(7000);
    EXPECT_TRUE(device.Connected());
    EXPECT_EQ(notices.size(), before) << Dump();
    EXPECT_EQ(repairs, 1);
}

TEST_F(VeloxOnSimulator, ReopensThePortOfASilentShortFrameTrainer) {
    ASSERT_TRUE(Connect(4));
    trainer->SetSilent(true);
    ASSERT_TRUE(WaitFor([&] { return Count(vxeIdentificationSent) > 0; }, 3000)) << Dump();
    EXPECT_EQ(notices.at(0), (TNotice{etNotice, vxeConnectionLost, 1}));
    EXPECT_EQ(notices.at(1), (TNotice{etNotice, vxeIdentificationSent, -1}));
    EXPECT_TRUE(device.ComPortConnected());
    EXPECT_EQ(Count(vxeRestored), 0);
    trainer->SetSilent(false);
    ASSERT_TRUE(WaitFor([&] { return Count(vxeRestored) == 1; }, 2000)) << Dump();
    DelayWithMessages(2000);
    EXPECT_TRUE(device.Connected());
    EXPECT_EQ(Count(vxeRestored), 1);
}

TEST_F(VeloxOnSimulator, AsksAConnectedTrainerOnceAndLetsACallersReopenDisconnect) {
    ASSERT_TRUE(Connect(4));
    int identifications = 0;
    device.OnVeloxMessage = [&](TComponent*, TVeloxDeviceMessageType type, long double, long double,
                                long double, const std::string&) {
        identifications += type == mtIdentification;
    };
    EXPECT_TRUE(device.Connect(kAnswerWaitMs));
    EXPECT_EQ(identifications, 1);
    int disconnected = 0;
    device.OnDisconnected = [&](TComponent*) { ++disconnected; };
    device.QuickConnectDevice(true);
    EXPECT_EQ(disconnected, 1) << "the port closed outside a repair";
    EXPECT_TRUE(WaitFor([&] { return device.Connected(); }, 2000)) << "answered again";
    device.OnVeloxMessage = nullptr;
    device.OnDisconnected = nullptr;
}

// The vanishing trainers are reached through their link: a pseudo-terminal's own path may
// be handed to another process's terminal as soon as it is gone.
TEST_F(VeloxOnSimulator, GivesUpAfterDisconMaxTryWhenTheTrainerVanished) {
    StartTrainer(5, {}, true);
    ASSERT_TRUE(device.Connect(kAnswerWaitMs));
    device.SetDisconMaxTry(2);
    trainer->Vanish();
    ASSERT_TRUE(WaitFor([&] { return lost > 0; }, 30000)) << Dump();
    EXPECT_EQ(repairs, 1);
    EXPECT_EQ(Count(vxeCannotOpenPort), 2);
    EXPECT_EQ(notices.back(), (TNotice{etNotice, vxeRepairAborted, 2}));
    EXPECT_FALSE(device.Connected());
    EXPECT_EQ(device.Status(), vdsDisconnected);
}

TEST_F(VeloxOnSimulator, GivesUpAtOnceWhenAShortFrameTrainersPortCannotBeReopened) {
    StartTrainer(4, {}, true);
    ASSERT_TRUE(device.Connect(kAnswerWaitMs));
    trainer->Vanish();
    ASSERT_TRUE(WaitFor([&] { return lost > 0; }, 5000)) << Dump();
    EXPECT_EQ(notices.back(), (TNotice{etNotice, vxeRepairAborted, 1}));
    EXPECT_EQ(Count(vxeCannotOpenPort), 1);
}

TEST_F(VeloxOnSimulator, FindsTheTrainerAgainUnderItsLinkAfterItReturned) {
    StartTrainer(6, {}, true);
    ASSERT_TRUE(device.Connect(kAnswerWaitMs));
    device.Start();
    trainer->Vanish();
    ASSERT_TRUE(WaitFor([&] { return Count(vxeCannotOpenPort) > 0; }, 7000)) << Dump();
    trainer->Return();
    ASSERT_TRUE(WaitFor([&] { return Count(vxeRestored) > 0; }, 7000)) << Dump();
    EXPECT_EQ(lost, 0) << Dump();
    const int32_t before = device.ReceivedMessages();
    DelayWithMessages(1000);
    EXPECT_GT(device.ReceivedMessages(), before) << "measures come again";
    EXPECT_TRUE(device.Connected());
}

// ---- A ride as the rider sees it, on a long-frame and a short-frame trainer ------------

constexpr double kFrameGenerations[] = {5.0, 4.0};

TEST_F(VeloxOnSimulator, StartsTheRideNearZeroOnATrainerThatRolledSincePowerOn) {
    for (double generation : kFrameGenerations) {
        Restart();
        ASSERT_TRUE(Connect(generation, {.rollTotal = 100000})) << generation;
        trainer->SetRider(sim::TWiredRider{.speedKmh = 36});
        DelayWithMessages(2000);  // rolling before the ride
        device.Start();
        DelayWithMessages(1500);
        EXPECT_LT(device.Distance(), 0.02L) << generation;
        DelayWithMessages(3000);
        EXPECT_NEAR(static_cast<double>(device.Distance()), 0.045, 0.004)
            << "4.5 s at 10 m/s, generation " << generation;
    }
}

TEST_F(VeloxOnSimulator, ReadsASteadyHeartWithin20Seconds) {
    for (double generation : kFrameGenerations) {
        Restart();
        ASSERT_TRUE(Connect(generation)) << generation;
        int heartLost = 0;
        device.OnHeartConnectionLost = [&](TComponent*) { ++heartLost; };
        device.SetHeartEnabled(true);
        trainer->SetRider(sim::TWiredRider{.speedKmh = 30, .heartPeriodMs = 500});
        device.Start();
        EXPECT_TRUE(WaitFor([&] { return std::abs(device.HeartRate() - 120) <= 1; }, 20000))
            << generation;
        DelayWithMessages(3000);
        EXPECT_NEAR(device.HeartRate(), 120, 1) << generation;
        EXPECT_EQ(heartLost, 0) << generation;
        device.SetHeartEnabled(false);
        device.OnHeartConnectionLost = nullptr;
    }
}

TEST_F(VeloxOnSimulator, DropsTheCadenceToZeroWithinTheDelayWhenPedallingStops) {
    for (double generation : kFrameGenerations) {
        Restart();
        ASSERT_TRUE(Connect(generation)) << generation;
        trainer->SetRider(sim::TWiredRider{.speedKmh = 30, .pedalPeriodMs = 600});
        device.Start();
        ASSERT_TRUE(WaitFor([&] { return std::abs(device.Cadence() - 100) <= 3; }, 10000))
            << generation;
        trainer->SetRider(sim::TWiredRider{.speedKmh = 30});
        const uint32_t stopped = GetTickCount();
        ASSERT_TRUE(WaitFor([&] { return device.Cadence() == 0; }, 10000)) << generation;
        // The delay runs from the last revolution the trainer reported; a long-frame
        // trainer holds its period until a revolution is overdue by a whole period.
        EXPECT_LE(GetTickCount() - stopped, static_cast<uint32_t>(device.CadenceCalcDelay()) + 1500)
            << generation;
        EXPECT_NEAR(static_cast<double>(device.Speed()), 30, 0.5) << "the roll turns on";
    }
}

TEST_F(VeloxOnSimulator, GivesUpASilentTrainerAfterItsTriesShowingNothingMeanwhile) {
    for (double generation : kFrameGenerations) {
        Restart();
        ASSERT_TRUE(Connect(generation)) << generation;
        device.SetDisconMaxTry(5);
        device.SetHeartEnabled(true);
        trainer->SetRider(
            sim::TWiredRider{.speedKmh = 30, .heartPeriodMs = 500, .pedalPeriodMs = 600});
        device.Start();
        DelayWithMessages(3000);
        ASSERT_GT(device.Speed(), 25) << generation;
        std::vector<long double> atFirstNotice;
        device.OnVxdErrorInfo = [&](TComponent*, TVxdErrorType type, int32_t code,
                                    int32_t occurence) {
            notices.push_back({type, code, occurence});
            if (notices.size() == 1)
                atFirstNotice = {device.Speed(), static_cast<long double>(device.Cadence()),
                                 static_cast<long double>(device.Power()),
                                 static_cast<long double>(device.HeartRate())};
        };
        std::optional<int32_t> calories;
        long double distance = 0;
        device.OnStats = [&](TComponent*, int32_t, int32_t, long double, long double, long double,
                             bool) {
            if (notices.empty()) return;
            EXPECT_EQ(device.Speed(), 0) << generation;
            EXPECT_EQ(device.Power(), 0) << generation;
            if (!calories) {
                calories = device.Calories();
                distance = device.Distance();
            }
            EXPECT_EQ(device.Calories(), calories) << "nothing accrues, generation " << generation;
            EXPECT_EQ(device.Distance(), distance) << generation;
        };
        trainer->SetSilent(true);
        ASSERT_TRUE(WaitFor([&] { return lost > 0; }, 30000)) << generation << ": " << Dump();
        EXPECT_EQ(atFirstNotice, (std::vector<long double>{0, 0, 0, 0})) << generation;
        EXPECT_EQ(Count(vxeConnectionLost), 5) << Dump();
        EXPECT_EQ(Count(vxeRestored), 0) << Dump();
        EXPECT_EQ(notices.back(), (TNotice{etNotice, vxeRepairAborted, 5}));
        EXPECT_EQ(repairs, 1);
        EXPECT_FALSE(device.Connected());
        device.OnStats = nullptr;
        device.OnVxdErrorInfo = [this](TComponent*, TVxdErrorType type, int32_t code,
                                       int32_t occurence) {
            notices.push_back({type, code, occurence});
        };
    }
}

TEST_F(VeloxOnSimulator, KeepsAnIdleOrPausedLongFrameTrainerStreamingWithoutRepairs) {
    ASSERT_TRUE(Connect(5, {.keepAliveMs = 2000}));
    const int32_t before = device.ReceivedMessages();
    DelayWithMessages(12000);
    EXPECT_TRUE(notices.empty()) << Dump();
    EXPECT_GT(device.ReceivedMessages(), before + 110) << "ten measures and a total a second";
    device.Start();
    DelayWithMessages(1000);
    device.Pause();
    DelayWithMessages(8000);
    EXPECT_TRUE(notices.empty()) << Dump();
}

}  // namespace
}  // namespace wct::wired
