// SPDX-License-Identifier: Apache-2.0
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
    void Start(int consoles, double rate) {
        TDongleOptions options;
        options.joinDelayMs = 0;
        options.measureRate = rate;
        for (int id = 1; id <= consoles; ++id) options.consoles.push_back(DefaultConsole(id));
        TSimSettings settings;
        settings.log = log_.Sink();
        sim_ = std::make_unique<TDongleSimulator>(options, settings);
        sim_->Start();
        port_ = std::make_unique<TSlavePort>(sim_->PortPath());
        port_->Write(kOpenRegistration);
        ASSERT_EQ(port_->ReadFrames(1 + consoles, kReplyMs).size(), 1u + consoles);
    }

    // Writes `bytes` and waits until the dongle has taken them in, so that the clock
    // moved afterwards moves for them.
    void Tell(const std::string& bytes) {
        log_.Clear();  // the same bytes told before are no answer
        port_->Write(bytes);
        ASSERT_TRUE(log_.WaitFor("<- " + BytesToHex(bytes), kReplyMs));
    }

    // Outlives the simulator, whose thread reads it until it stops.
    TScopedVirtualClock clock_;
    test::TLogLines log_;
    std::unique_ptr<TDongleSimulator> sim_;
    std::unique_ptr<TSlavePort> port_;
};

TEST_F(DongleMeasures, ArriveAtTheConfiguredRateForEveryJoinedConsole) {
    for (double rate : {4.0, 10.0}) {
        Start(3, rate);
        Tell(kStartMeasure);
        std::map<int, int> counts;
        for (int second = 1; second <= 10; ++second) {
            clock_.Advance(1000);
            const auto owed = static_cast<size_t>(rate) * 3;
            const std::vector<std::string> frames = port_->ReadFrames(owed, kReplyMs);
            ASSERT_EQ(frames.size(), owed) << "second " << second << " at " << rate;
            for (const std::string& frame : frames) {
                ASSERT_EQ(frame[1], 0x01);
                ++counts[frame[2]];
            }
        }
        const int each = static_cast<int>(rate) * 10;
        EXPECT_EQ(counts, (std::map<int, int>{{1, each}, {2, each}, {3, each}})) << rate;
        EXPECT_EQ(port_->ReadFor(50), "") << rate;
        port_.reset();
        sim_.reset();
    }
}

TEST_F(DongleMeasures, FiveSecondsHoldTwentyFramesAConsoleThoughTheReaderStallsForOne) {
    Start(2, 4);
    Tell(kStartMeasure);
    std::map<int, int> counts;
    for (int quarter = 1; quarter <= 20; ++quarter) {
        clock_.Advance(250);
        // From 2 s to 3 s the reader is busy elsewhere: what falls due waits on the line.
        if (quarter > 8 && quarter < 12) continue;
        const size_t owed = quarter == 12 ? 8 : 2;
        const std::vector<std::string> frames = port_->ReadFrames(owed, kReplyMs);
        ASSERT_EQ(frames.size(), owed) << "at " << quarter * 250 << " ms";
        for (const std::string& frame : frames) ++counts[frame[2]];
    }
    EXPECT_EQ(counts, (std::map<int, int>{{1, 20}, {2, 20}}));
    EXPECT_EQ(port_->ReadFor(50), "") << "and no more";
}

TEST_F(DongleMeasures, AreWholeFramesOfTheReportingConsoleAndStopWithMeasuring) {
    Start(2, 4);
    Tell(kStartMeasure);
    clock_.Advance(250);
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
    Tell(kStopMeasure);
    clock_.Advance(1000);
    EXPECT_EQ(port_->ReadFor(50), "");
}

TEST_F(DongleMeasures, AHigherBrakeLevelLowersTheRollRpmForTheSameEffort) {
    Start(2, 4);
    Tell(kStartMeasure);
    clock_.Advance(250);
    const std::vector<std::string> free = port_->ReadFrames(2, kReplyMs);
    ASSERT_EQ(free.size(), 2u);

    // Console 1 brakes at 200, console 2 stays at 0.
    Tell(Bytes({0x3E, 0x10, 0x00, 0x03, 0x00, 200, 0x00, 0x00, 0x21}));
    clock_.Advance(250);
    const std::vector<std::string> braked = port_->ReadFrames(2, kReplyMs);
    ASSERT_EQ(braked.size(), 2u);
    EXPECT_LT(Rpm(braked[0]), Rpm(free[0]) / 2);
    EXPECT_NEAR(Rpm(braked[1]), Rpm(free[1]), Rpm(free[1]) * 0.05);
}

}  // namespace
}  // namespace wct::sim
