// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>
#include <poll.h>

#include <algorithm>
#include <memory>

#include "common/tick_count.h"
#include "common/virtual_ports.h"
#include "sim/dongle_simulator.h"
#include "sim/slave_port.h"

namespace wct::sim {
namespace {

using test::Bytes;
using test::Hex;
using test::TSlavePort;

constexpr int kReplyMs = 1000;

const std::string kVersionRequest = Bytes({0x3E, 0x0A, 0x00, 0x00, 0x00, 0x21});
const std::string kVersionReply = Bytes({0x3E, 0x0A, 0x00, 0x01, 0x78, 0x00, 0x21});

bool Listed(const std::string& path) {
    const std::vector<std::string> ports = VirtualPorts();
    return std::count(ports.begin(), ports.end(), path) == 1;
}

class DongleFaults : public ::testing::Test {
protected:
    void SetUp() override {
        TDongleOptions options;
        options.joinDelayMs = 0;
        options.consoles = {DefaultConsole(1)};
        TSimSettings settings;
        settings.log = log_.Sink();
        settings.registerPort = true;
        sim_ = std::make_unique<TDongleSimulator>(options, settings);
        sim_->Start();
        port_ = std::make_unique<TSlavePort>(sim_->PortPath());
    }
    // All that comes back for `count` version requests.
    std::string AskVersion(int count) {
        for (int i = 0; i < count; ++i) port_->Write(kVersionRequest);
        asked_ += count;
        EXPECT_TRUE(log_.WaitFor(BytesToHex(kVersionRequest), kReplyMs, asked_));
        // A call runs once the thread has sent what it owed for the bytes it took in.
        sim_->PortPath();
        return port_->ReadFor(10);
    }

    test::TLogLines log_;
    std::unique_ptr<TDongleSimulator> sim_;
    std::unique_ptr<TSlavePort> port_;
    size_t asked_ = 0;
};

TEST_F(DongleFaults, DroppingEveryReplyLeavesRequestsUnanswered) {
    sim_->SetLinkFaults({.dropFraction = 1});
    EXPECT_EQ(AskVersion(5), "");
    EXPECT_TRUE(log_.WaitFor("-- dropped 3E0A0001780021", kReplyMs));
}

TEST_F(DongleFaults, DroppingHalfTheRepliesAnswersSomeRequests) {
    sim_->SetLinkFaults({.dropFraction = 0.5});
    const size_t answered = test::DongleFrames(AskVersion(40)).size();
    EXPECT_GT(answered, 5u);
    EXPECT_LT(answered, 35u);
}

TEST(DongleReplyDelay, HoldsAnswersBackOnTheInjectedClock) {
    TScopedVirtualClock clock;
    test::TLogLines log;
    TSimSettings settings;
    settings.log = log.Sink();
    TDongleSimulator sim(TDongleOptions{}, settings);
    sim.Start();
    sim.SetLinkFaults({.replyDelayMs = 500});
    TSlavePort port(sim.PortPath());
    port.Write(kVersionRequest);
    ASSERT_TRUE(log.WaitFor("<- 3E0A00000021", kReplyMs));
    clock.Advance(499);
    EXPECT_EQ(port.ReadFor(50), "");
    clock.Advance(1);
    EXPECT_EQ(port.ReadUntil([](const std::string& d) { return d.size() >= 7; }, kReplyMs),
              kVersionReply);
}

// On the injected clock, so that a reader slower than the pieces still sees them apart.
TEST(DongleSplitFrames, ArriveInPiecesATickApartThatJoinUpExactly) {
    TScopedVirtualClock clock;
    TDongleSimulator sim(TDongleOptions{}, TSimSettings{});
    sim.Start();
    sim.SetLinkFaults({.splitMaxChunk = 2});
    TSlavePort port(sim.PortPath());
    const auto some = [](const std::string& d) { return !d.empty(); };
    port.Write(kVersionRequest);
    std::string reply = port.ReadUntil(some, kReplyMs);
    EXPECT_LE(reply.size(), 2u) << "the rest waits for the clock";
    for (int tick = 0; tick < 10 && reply.size() < kVersionReply.size(); ++tick) {
        clock.Advance(1);
        const std::string piece = port.ReadUntil(some, kReplyMs);
        EXPECT_LE(piece.size(), 2u);
        reply += piece;
    }
    EXPECT_EQ(reply, kVersionReply);
}

TEST_F(DongleFaults, GarbageBeforeEachFrameNeverHoldsAStartByte) {
    sim_->SetLinkFaults({.garbage = true});
    const std::string bytes = AskVersion(5);
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\x3E'), 5);
    size_t frames = 0;
    size_t at = 0;
    for (size_t found; (found = bytes.find(kVersionReply, at)) != std::string::npos;) {
        EXPECT_GE(found - at, 1u) << "noise before the frame";
        EXPECT_LE(found - at, 4u);
        at = found + kVersionReply.size();
        ++frames;
    }
    EXPECT_EQ(frames, 5u);
    EXPECT_EQ(at, bytes.size());
}

TEST_F(DongleFaults, CorruptedLengthBytesNoLongerMatchThePayload) {
    sim_->SetFaults({.corruptLengthFraction = 1});
    const std::string bytes = AskVersion(1);
    ASSERT_EQ(bytes.size(), 7u) << Hex(bytes);
    EXPECT_EQ(bytes.substr(0, 3), kVersionReply.substr(0, 3));
    EXPECT_GE(static_cast<uint8_t>(bytes[3]), 2);
    EXPECT_LE(static_cast<uint8_t>(bytes[3]), 4);
    EXPECT_EQ(bytes.substr(4), kVersionReply.substr(4));
}

TEST_F(DongleFaults, UnknownReplyCodesFollowTheRealReply) {
    sim_->SetFaults({.unknownCodeFraction = 1});
    const std::vector<std::string> frames = test::DongleFrames(AskVersion(1));
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0], kVersionReply);
    const auto code = static_cast<uint8_t>(frames[1][1]);
    const uint8_t known[] = {0x01, 0x02, 0x04, 0x05, 0x06, 0x09,
                             0x0A, 0x0B, 0x0F, 0x15, 0xFE, 0xFF};
    EXPECT_EQ(std::count(std::begin(known), std::end(known), code), 0) << int{code};
}

TEST_F(DongleFaults, MeasuresCanCarry0x21InTheirPayload) {
    sim_->SetFaults({.measuresHold0x21 = true});
    port_->Write(Bytes({0x3E, 0x02, 0x00, 0x00, 0x00, 0x21}));
    ASSERT_EQ(port_->ReadFrames(2, kReplyMs).size(), 2u);
    port_->Write(Bytes({0x3E, 0x13, 0x00, 0x01, 0x01, 0x00, 0x21}));
    const std::vector<std::string> measures = port_->ReadFrames(2, kReplyMs);
    ASSERT_EQ(measures.size(), 2u);
    for (const std::string& m : measures) {
        EXPECT_EQ(m[1], 0x01);
        EXPECT_EQ(m[5], 0x21) << "rpm low byte";
    }
}

TEST_F(DongleFaults, VanishingClosesThePortAndReturningServesANewOne) {
    const std::string first = sim_->PortPath();
    EXPECT_TRUE(Listed(first));
    sim_->Vanish();
    EXPECT_EQ(sim_->PortPath(), "");
    EXPECT_NE(port_->Poll(kReplyMs) & (POLLHUP | POLLERR), 0);
    EXPECT_TRUE(port_->LineEnded());
    EXPECT_FALSE(Listed(first));

    sim_->Return();
    const std::string second = sim_->PortPath();
    ASSERT_NE(second, "");
    EXPECT_TRUE(Listed(second));
    port_ = std::make_unique<TSlavePort>(second);
    EXPECT_EQ(AskVersion(1), kVersionReply);
}

TEST_F(DongleFaults, MalformedInputIsLoggedAndIgnored) {
    port_->Write(Bytes({0x00, 0x21, 0x99}));                          // noise
    port_->Write(Bytes({0x3E, 0x0A, 0x00, 0x00, 0x21}));              // one byte short
    port_->Write(Bytes({0x3E, 0x0A, 0x00, 0x05, 0x00, 0x21}));        // wrong length
    port_->Write(Bytes({0x3E, 0x55, 0x00, 0x00, 0x00, 0x21}));        // unknown command
    port_->Write(Bytes({0x3E, 0x0F, 0x01, 0x00, 0x00, 0x21}));        // read without payload
    port_->Write(Bytes({0x3E, 0x13, 0x00, 0x01, 0x07, 0x00, 0x21}));  // no such measure mode
    EXPECT_EQ(AskVersion(1), kVersionReply);
    EXPECT_TRUE(log_.WaitFor("-- ignored", kReplyMs));
}

}  // namespace
}  // namespace wct::sim
