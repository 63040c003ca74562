// SPDX-License-Identifier: Apache-2.0
#include "sim/dongle_simulator.h"

#include <gtest/gtest.h>

#include <memory>

#include "common/tick_count.h"
#include "sim/slave_port.h"

namespace wct::sim {
namespace {

using test::Bytes;
using test::Hex;
using test::TSlavePort;

constexpr int kReplyMs = 1000;  // generous real-time bound for an answer that must come

TDongleOptions Consoles(int count, uint32_t joinDelayMs = 1) {
    TDongleOptions options;
    options.joinDelayMs = joinDelayMs;
    for (int id = 1; id <= count; ++id) options.consoles.push_back(DefaultConsole(id));
    return options;
}

std::string Frame(unsigned code, unsigned id, std::initializer_list<unsigned> payload = {}) {
    std::string frame = Bytes({0x3E, code, id, static_cast<unsigned>(payload.size())});
    frame += Bytes(payload);
    return frame + Bytes({0x00, 0x21});
}

class DongleRequests : public ::testing::Test {
protected:
    void Start(TDongleOptions options) {
        sim_ = std::make_unique<TDongleSimulator>(std::move(options));
        sim_->Start();
        port_ = std::make_unique<TSlavePort>(sim_->PortPath());
    }
    std::string Ask(const std::string& frame, size_t replies = 1) {
        port_->Write(frame);
        std::string all;
        for (const std::string& reply : port_->ReadFrames(replies, kReplyMs)) all += reply;
        return Hex(all);
    }

    std::unique_ptr<TDongleSimulator> sim_;
    std::unique_ptr<TSlavePort> port_;
};

TEST_F(DongleRequests, VersionRequestIsAnsweredWithVersion0x78) {
    Start(Consoles(0));
    EXPECT_EQ(Ask(Frame(0x0A, 0)), "3E 0A 00 01 78 00 21");
}

TEST_F(DongleRequests, VersionAnswerIsConfigurable) {
    TDongleOptions options = Consoles(0);
    options.version = 0x12;
    Start(options);
    EXPECT_EQ(Ask(Frame(0x0A, 0)), "3E 0A 00 01 12 00 21");
}

TEST_F(DongleRequests, DongleWithoutVersionLeavesTheRequestUnansweredButStaysAlive) {
    TDongleOptions options = Consoles(0);
    options.version.reset();
    options.serial = 0x123456;
    Start(options);
    port_->Write(Frame(0x0A, 0));
    EXPECT_EQ(port_->ReadFor(100), "");
    EXPECT_EQ(Ask(Frame(0x09, 0)), "3E 09 00 03 12 34 56 00 21");
}

TEST_F(DongleRequests, SerialNumberRequestGetsTheDonglesSerialHighByteFirst) {
    TDongleOptions options = Consoles(0);
    options.serial = 0xABCDEF;
    Start(options);
    EXPECT_EQ(Ask(Frame(0x09, 0)), "3E 09 00 03 AB CD EF 00 21");
}

TEST_F(DongleRequests, OpeningRegistrationRepliesTheCountThenEachConsoleJoinsInTurn) {
    Start(Consoles(3));
    EXPECT_EQ(Ask(Frame(0x02, 0), 4),
              "3E 02 00 01 00 00 21 "
              "3E 05 00 01 01 00 21 3E 05 00 01 02 00 21 3E 05 00 01 03 00 21");
    EXPECT_EQ(Ask(Frame(0x04, 0)), "3E 04 00 01 03 00 21");
    EXPECT_EQ(Ask(Frame(0x02, 0)), "3E 02 00 01 03 00 21");
    EXPECT_EQ(port_->ReadFor(50), "") << "nobody is left to join";
}

TEST_F(DongleRequests, ConsolesRegisteredAtStartAnswerAtOnceAndDoNotJoinAgain) {
    TDongleOptions options = Consoles(3);
    options.consoles[0].joinedAtStart = true;
    options.consoles[1].joinedAtStart = true;
    Start(options);
    EXPECT_EQ(Ask(Frame(0x0A, 2)), "3E 0A 02 01 10 00 21");
    EXPECT_EQ(Ask(Frame(0x04, 0)), "3E 04 00 01 02 00 21");
    EXPECT_EQ(Ask(Frame(0x02, 0), 2), "3E 02 00 01 02 00 21 3E 05 00 01 03 00 21");
    EXPECT_EQ(port_->ReadFor(50), "");
}

TEST_F(DongleRequests, ClosingRegistrationStopsFurtherJoins) {
    Start(Consoles(3, 200));
    port_->Write(Frame(0x02, 0));
    ASSERT_EQ(port_->ReadFrames(2, kReplyMs).size(), 2u);  // 0x02, then console 1
    port_->Write(Frame(0x03, 0));
    EXPECT_EQ(port_->ReadFor(400), "");
    EXPECT_EQ(Ask(Frame(0x04, 0)), "3E 04 00 01 01 00 21");
}

TEST_F(DongleRequests, RemovingOneConsoleRepliesItsIdAndItNoLongerAnswers) {
    Start(Consoles(2));
    Ask(Frame(0x02, 0), 3);
    EXPECT_EQ(Ask(Frame(0x06, 2)), "3E 06 00 01 02 00 21");
    port_->Write(Frame(0x0A, 2));
    EXPECT_EQ(port_->ReadFor(100), "");
    EXPECT_EQ(Ask(Frame(0x04, 0)), "3E 04 00 01 01 00 21");
}

TEST_F(DongleRequests, RemovingAllConsolesRepliesEveryJoinedIdAndTheyCanJoinAgain) {
    Start(Consoles(2));
    Ask(Frame(0x02, 0), 3);
    EXPECT_EQ(Ask(Frame(0x06, 0xFF), 2), "3E 06 00 01 01 00 21 3E 06 00 01 02 00 21");
    EXPECT_EQ(Ask(Frame(0x02, 0), 3),
              "3E 02 00 01 00 00 21 3E 05 00 01 01 00 21 3E 05 00 01 02 00 21");
}

TEST(DongleJoinDelay, ConsolesJoinOneJoinDelayApartOnTheInjectedClock) {
    TScopedVirtualClock clock;
    TDongleOptions options = Consoles(2, 300);
    TDongleSimulator sim(options);
    sim.Start();
    TSlavePort port(sim.PortPath());
    port.Write(Frame(0x02, 0));
    EXPECT_EQ(Hex(port.ReadFrames(1, kReplyMs).at(0)), "3E 02 00 01 00 00 21");
    clock.Advance(299);
    EXPECT_EQ(port.ReadFor(60), "");
    clock.Advance(1);
    EXPECT_EQ(Hex(port.ReadFrames(1, kReplyMs).at(0)), "3E 05 00 01 01 00 21");
    clock.Advance(299);
    EXPECT_EQ(port.ReadFor(60), "");
    clock.Advance(1);
    EXPECT_EQ(Hex(port.ReadFrames(1, kReplyMs).at(0)), "3E 05 00 01 02 00 21");
}

class ConsoleCommands : public DongleRequests {
protected:
    void SetUp() override {
        TDongleOptions options = Consoles(3);
        options.consoles[2].memory[0x10] = 0xAA;
        options.consoles[2].memory[0x11] = 0x55;
        options.consoles[1].memoryReadOnly = true;
        options.consoles[0].testAnswers = {{0x17, TTestAnswer::Nack}, {0x19, TTestAnswer::None}};
        options.consoles[0].serial = 0x123456;
        options.consoles[0].version = 0x42;
        options.consoles[0].firmwareMajor = 3;
        options.consoles[0].firmwareMinor = 14;
        Start(options);
        Ask(Frame(0x02, 0), 4);
    }
};

TEST_F(ConsoleCommands, SerialVersionAndFirmwareAreTheConsolesOwn) {
    EXPECT_EQ(Ask(Frame(0x09, 1)), "3E 09 01 03 12 34 56 00 21");
    EXPECT_EQ(Ask(Frame(0x0A, 1)), "3E 0A 01 01 42 00 21");
    EXPECT_EQ(Ask(Frame(0x15, 1)), "3E 15 01 02 03 0E 00 21");
}

TEST_F(ConsoleCommands, ReadingTwoBytesAt0x0010OfConsole3GivesTheMemoryThere) {
    EXPECT_EQ(Ask(Frame(0x0F, 3, {0x00, 0x10, 0x02})), "3E 0F 03 03 02 AA 55 00 21");
}

TEST_F(ConsoleCommands, ReadingOutsideTheMemoryReadsNothing) {
    EXPECT_EQ(Ask(Frame(0x0F, 3, {0x00, 0xFF, 0x02})), "3E 0F 03 01 00 00 21");
    EXPECT_EQ(Ask(Frame(0x0F, 3, {0x01, 0x00, 0x01})), "3E 0F 03 01 00 00 21");
    EXPECT_EQ(Ask(Frame(0x0F, 3, {0x00, 0x00, 0x09})), "3E 0F 03 01 00 00 21");
}

TEST_F(ConsoleCommands, WritingIsAcknowledgedNaming0x0EAndReadsBack) {
    EXPECT_EQ(Ask(Frame(0x0E, 3, {0x00, 0x20, 0x02, 0x12, 0x34})), "3E FF 03 01 0E 00 21");
    EXPECT_EQ(Ask(Frame(0x0F, 3, {0x00, 0x20, 0x02})), "3E 0F 03 03 02 12 34 00 21");
}

TEST_F(ConsoleCommands, WritingReadOnlyMemoryIsRefusedAndChangesNothing) {
    EXPECT_EQ(Ask(Frame(0x0E, 2, {0x00, 0x20, 0x01, 0x77})), "3E FE 02 01 0E 00 21");
    EXPECT_EQ(Ask(Frame(0x0F, 2, {0x00, 0x20, 0x01})), "3E 0F 02 02 01 00 00 21");
}

TEST_F(ConsoleCommands, TestsAreAcknowledgedUnlessConfiguredPerConsoleAndTest) {
    for (unsigned code = 0x16; code <= 0x19; ++code) {
        EXPECT_EQ(Ask(Frame(code, 2)), Hex(Frame(0xFF, 2, {code})));
    }
    EXPECT_EQ(Ask(Frame(0x16, 1)), "3E FF 01 01 16 00 21");
    EXPECT_EQ(Ask(Frame(0x17, 1)), "3E FE 01 01 17 00 21");
    port_->Write(Frame(0x19, 1));
    EXPECT_EQ(port_->ReadFor(100), "");
}

TEST_F(ConsoleCommands, ConsolesThatHaveNotJoinedDoNotAnswer) {
    port_->Write(Frame(0x0A, 4));
    EXPECT_EQ(port_->ReadFor(100), "");
}

TEST(ConsoleTotalRolls, GrowWhileTheRollIsStartedAndResetClearsThem) {
    TScopedVirtualClock clock;
    TDongleOptions options = Consoles(1);
    options.consoles[0].totalRolls = 3200;
    TDongleSimulator sim(options);
    sim.Start();
    TSlavePort port(sim.PortPath());
    auto total = [&] {
        port.Write(Frame(0x0B, 1));
        const std::string reply = port.ReadFrames(1, kReplyMs).at(0);
        return static_cast<uint8_t>(reply[4]) * 256 + static_cast<uint8_t>(reply[5]);
    };
    port.Write(Frame(0x02, 0));
    ASSERT_EQ(port.ReadFrames(1, kReplyMs).size(), 1u);
    clock.Advance(1);
    ASSERT_EQ(port.ReadFrames(1, kReplyMs).size(), 1u);

    EXPECT_EQ(total(), 100) << "3200 revolutions are 100 × 32";
    clock.Advance(60000);
    EXPECT_EQ(total(), 100) << "the roll is not started at power-on";

    // Each total() is a round trip, so the command before it has been handled when the
    // clock moves on.
    port.Write(Frame(0x14, 1, {0x01}));
    EXPECT_EQ(total(), 100);
    clock.Advance(60000);
    // A warm-up minute turns the roll well over a thousand times.
    EXPECT_GT(total(), 100 + 1000 / 32);

    port.Write(Frame(0x14, 1, {0x00}));
    const int stopped = total();
    clock.Advance(60000);
    EXPECT_EQ(total(), stopped);

    port.Write(Frame(0x0C, 1));
    EXPECT_EQ(total(), 0);
}

}  // namespace
}  // namespace wct::sim
