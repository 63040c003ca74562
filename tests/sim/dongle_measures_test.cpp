#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "common/tick_count.h"
#include "sim/dongle_simulator.h"
#include "sim/slave_port.h"

namespace wct::sim {
namespace {

using test::Bytes;
using test::TSlavePort;

constexpr int kReplyMs = 1000;

const std::string kOpenRegistration = Bytes({0x3E, 0x02, 0x00, 0x00, 0x00, 0x21});
const std::string kStartMeasure = Bytes({0x3E, 0x13, 0x00, 0x01, 0x01, 0x00, 0x21});
const std::string kStopMeasure = Bytes({0x3E, 0x13, 0x00, 0x01, 0x00, 0x00, 0x21});

unsigned Rpm(const std::string& measures) {
    return static_cast<uint8_t>(measures[4]) * 256u + static_cast<uint8_t>(measures[5]);
}

class DongleMeasures : public ::testing::Test {
protected:
    // A dongle whose `consoles` consoles have joined.
    void Start(int consoles, double rate, TSimClock* clock) {
        TDongleOptions options;
        options.joinDelayMs = 0;
        options.measureRate = rate;
        for (int id = 1; id <= consoles; ++id) options.consoles.push_back(DefaultConsole(id));
        TSimSettings settings;
        settings.clock = clock;
        sim_ = std::make_unique<TDongleSimulator>(options, settings);
        sim_->Start();
        port_ = std::make_unique<TSlavePort>(sim_->PortPath());
        port_->Write(kOpenRegistration);
        ASSERT_EQ(port_->ReadFrames(1 + consoles, kReplyMs).size(), 1u + consoles);
    }

    std::unique_ptr<TDongleSimulator> sim_;
    std::unique_ptr<TSlavePort> port_;
};

TEST_F(DongleMeasures, ArriveAtTheConfiguredRateForEveryJoinedConsole) {
    for (double rate : {4.0, 10.0}) {
        // 10 s of device time in 1 s: the clock runs 10 times faster than real time, slow
        // enough for a sanitizer build on a busy machine to read every frame in time.
        TScaledClock clock(10);
        Start(3, rate, &clock);
        port_->Write(kStartMeasure);
        const uint32_t start = clock.Now();
        std::map<int, int> counts;
        for (;;) {
            const std::vector<std::string> frames = port_->ReadFrames(1, kReplyMs);
            ASSERT_EQ(frames.size(), 1u);
            if (clock.Now() - start >= 10000) break;
            ASSERT_EQ(frames[0][1], 0x01);
            ++counts[frames[0][2]];
        }
        ASSERT_EQ(counts.size(), 3u);
        for (const auto& [id, count] : counts) {
            EXPECT_NEAR(count, rate * 10, rate * 10 * 0.1) << "console " << id << " at " << rate;
        }
        port_.reset();
        sim_.reset();
    }
}

TEST_F(DongleMeasures, AreWholeFramesOfTheReportingConsoleAndStopWithMeasuring) {
    TScopedVirtualClock clock;
    Start(2, 4, nullptr);
    port_->Write(kStartMeasure);
    port_->ReadFor(30);  // let the start be handled before the clock moves
    clock.Advance(250);
    const std::vector<std::string> frames = port_->ReadFrames(2, kReplyMs);
    ASSERT_EQ(frames.size(), 2u);
    for (size_t i = 0; i < frames.size(); ++i) {
        const std::string& f = frames[i];
        ASSERT_EQ(f.size(), 11u);
        EXPECT_EQ(f.substr(0, 4), Bytes({0x3E, 0x01, static_cast<unsigned>(i + 1), 0x05}));
        EXPECT_EQ(f.substr(9), Bytes({0x00, 0x21}));
        EXPECT_GT(Rpm(f), 500u) << "a rider warming up turns the roll";
        EXPECT_GE(static_cast<uint8_t>(f[6]), 60) << "heart rate";
        EXPECT_GE(static_cast<uint8_t>(f[7]), 60) << "cadence";
    }
    port_->Write(kStopMeasure);
    port_->ReadFor(30);
    clock.Advance(1000);
    EXPECT_EQ(port_->ReadFor(50), "");
}

TEST_F(DongleMeasures, AHigherBrakeLevelLowersTheRollRpmForTheSameEffort) {
    TScopedVirtualClock clock;
    Start(2, 4, nullptr);
    port_->Write(kStartMeasure);
    port_->ReadFor(30);
    clock.Advance(250);
    const std::vector<std::string> free = port_->ReadFrames(2, kReplyMs);
    ASSERT_EQ(free.size(), 2u);

    // Console 1 brakes at 200, console 2 stays at 0.
    port_->Write(Bytes({0x3E, 0x10, 0x00, 0x03, 0x00, 200, 0x00, 0x00, 0x21}));
    port_->ReadFor(30);
    clock.Advance(250);
    const std::vector<std::string> braked = port_->ReadFrames(2, kReplyMs);
    ASSERT_EQ(braked.size(), 2u);
    EXPECT_LT(Rpm(braked[0]), Rpm(free[0]) / 2);
    EXPECT_NEAR(Rpm(braked[1]), Rpm(free[1]), Rpm(free[1]) * 0.05);
}

}  // namespace
}  // namespace wct::sim
