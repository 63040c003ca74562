// SPDX-License-Identifier: Apache-2.0
// The replay of a wire recording on a hand-driven clock: what it answers, when, and what
// it leaves unanswered.
#include "sim/replay_simulator.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "sim/slave_port.h"

namespace wct::sim {
namespace {

using test::Bytes;
using test::Hex;
using test::TSlavePort;

constexpr int kQuietMs = 80;  // real time in which nothing more must arrive
constexpr int kReplyMs = 1000;

// Moves only when the test says so.
class THandClock : public TSimClock {
public:
    uint32_t Now() const override { return now_.load(); }
    int RealSleep(uint32_t) const override { return 1; }
    void Advance(uint32_t ms) { now_ += ms; }

private:
    std::atomic<uint32_t> now_{5000};
};

const std::string kVersionRequest = Bytes({0x3E, 0x0A, 0x00, 0x00, 0x00, 0x21});
const std::string kStartMeasure = Bytes({0x3E, 0x13, 0x00, 0x01, 0x01, 0x00, 0x21});
const std::string kStopMeasure = Bytes({0x3E, 0x13, 0x00, 0x01, 0x00, 0x00, 0x21});

std::string Version(unsigned value) {
    return Bytes({0x3E, 0x0A, 0x00, 0x01, value, 0x00, 0x21});
}
std::string Measures(unsigned rpmLow) {
    return Bytes({0x3E, 0x01, 0x01, 0x05, 0x0B, rpmLow, 0x50, 0x5A, 0x00, 0x00, 0x21});
}

TWireChunk ToDevice(uint64_t micros, const std::string& bytes) {
    return {micros, TWireDirection::wdToDevice, bytes};
}
TWireChunk FromDevice(uint64_t micros, const std::string& bytes) {
    return {micros, TWireDirection::wdFromDevice, bytes};
}

class ReplayTest : public ::testing::Test {
protected:
    void Start(const std::vector<TWireChunk>& recording, TReplayOptions options = {}) {
        TSimSettings settings;
        settings.clock = &clock;
        settings.log = log.Sink();
        sim = std::make_unique<TReplaySimulator>(recording, options, settings);
        sim->Start();
        port = std::make_unique<TSlavePort>(sim->PortPath());
    }
    // Writes `frame` and collects what arrives before the clock moves.
    std::string Send(const std::string& frame) {
        log.Clear();
        port->Write(frame);
        EXPECT_TRUE(log.WaitFor("<- " + BytesToHex(frame), kReplyMs));
        return Collect();
    }
    // Advances the clock and collects what arrives.
    std::string After(uint32_t ms) {
        clock.Advance(ms);
        return Collect();
    }
    // What the simulator has sent: a call runs once its thread did what was due by now.
    std::string Collect() {
        sim->PortPath();
        return Hex(port->ReadFor(kQuietMs));
    }

    THandClock clock;
    test::TLogLines log;
    std::unique_ptr<TReplaySimulator> sim;
    std::unique_ptr<TSlavePort> port;
};

TEST_F(ReplayTest, ARecordedRequestIsAnsweredAfterItsRecordedDelayAndOthersNotAtAll) {
    Start({ToDevice(1000, kVersionRequest), FromDevice(31000, Version(0x78))});
    EXPECT_EQ(sim->RecordedRequests(), 1u);
    EXPECT_EQ(Send(Bytes({0x3E, 0x09, 0x00, 0x00, 0x00, 0x21})), "");  // never recorded
    EXPECT_EQ(After(1000), "");
    EXPECT_EQ(Send(kVersionRequest), "");
    EXPECT_EQ(After(29), "");
    EXPECT_EQ(After(1), Hex(Version(0x78)));
    EXPECT_EQ(After(1000), "");
}

TEST_F(ReplayTest, SpeedScalesEveryDelay) {
    Start({ToDevice(0, kVersionRequest), FromDevice(100000, Version(0x78))}, {4, false});
    EXPECT_EQ(Send(kVersionRequest), "");
    EXPECT_EQ(After(24), "");
    EXPECT_EQ(After(1), Hex(Version(0x78)));
}

TEST_F(ReplayTest, ChunksArePlayedByteForByteNoiseAndSplitFramesIncluded) {
    const std::string reply = Version(0x78);
    Start({ToDevice(0, kVersionRequest),
           FromDevice(10000, Bytes({0x00, 0x7F}) + reply.substr(0, 3)),
           FromDevice(20000, reply.substr(3))});
    EXPECT_EQ(Send(kVersionRequest), "");
    EXPECT_EQ(After(10), "00 7F 3E 0A 00");
    EXPECT_EQ(After(10), "01 78 00 21");
}

TEST_F(ReplayTest, RepeatedRequestsMeetTheRecordedAnswersInTurnThenFromTheStart) {
    Start({ToDevice(0, kVersionRequest), FromDevice(1000, Version(1)),
           ToDevice(5000, kVersionRequest), FromDevice(6000, Version(2))});
    EXPECT_EQ(sim->RecordedRequests(), 2u);
    for (unsigned expected : {1u, 2u, 1u}) {
        EXPECT_EQ(Send(kVersionRequest), "");
        EXPECT_EQ(After(1), Hex(Version(expected)));
    }
}

TEST_F(ReplayTest, AStreamPlaysUntilTheNextRecordedRequestCutsIt) {
    Start({ToDevice(0, kStartMeasure), FromDevice(100000, Measures(1)),
           FromDevice(200000, Measures(2)), FromDevice(300000, Measures(3)),
           ToDevice(350000, kStopMeasure)});
    EXPECT_EQ(Send(kStartMeasure), "");
    EXPECT_EQ(After(100), Hex(Measures(1)));
    EXPECT_EQ(Send(Bytes({0x3E, 0x04, 0x00, 0x00, 0x00, 0x21})),
              "");  // unknown: the stream goes on
    EXPECT_EQ(After(100), Hex(Measures(2)));
    EXPECT_EQ(Send(kStopMeasure), "");
    EXPECT_EQ(After(100), "");
    EXPECT_EQ(After(1000), "");
}

TEST_F(ReplayTest, WithLoopAStreamStartsOverAfterItsRecordedLength) {
    Start({ToDevice(0, kStartMeasure), FromDevice(100000, Measures(1)),
           FromDevice(200000, Measures(2)), ToDevice(250000, kStopMeasure)},
          {1, true});
    EXPECT_EQ(Send(kStartMeasure), "");
    EXPECT_EQ(After(100), Hex(Measures(1)));
    EXPECT_EQ(After(100), Hex(Measures(2)));
    EXPECT_EQ(After(100), "");
    EXPECT_EQ(After(50), Hex(Measures(1)));  // 250 + 100
    EXPECT_EQ(After(100), Hex(Measures(2)));
    EXPECT_EQ(Send(kStopMeasure), "");
    EXPECT_EQ(After(500), "");
}

TEST_F(ReplayTest, WithoutLoopAStreamPlaysOnce) {
    Start({ToDevice(0, kStartMeasure), FromDevice(100000, Measures(1)),
           ToDevice(250000, kStopMeasure)});
    EXPECT_EQ(Send(kStartMeasure), "");
    EXPECT_EQ(After(100), Hex(Measures(1)));
    EXPECT_EQ(After(1000), "");
}

TEST_F(ReplayTest, WhatTheDeviceSentBeforeTheFirstRequestPlaysFromTheStart) {
    Start({FromDevice(40000, Measures(7)), ToDevice(90000, kVersionRequest)});
    EXPECT_EQ(After(40), Hex(Measures(7)));
}

TEST(Replay, ASpeedThatIsNotAboveZeroIsRefused) {
    EXPECT_THROW(TReplaySimulator({}, {0, false}), std::invalid_argument);
    EXPECT_THROW(TReplaySimulator({}, {-1, false}), std::invalid_argument);
}

}  // namespace
}  // namespace wct::sim
