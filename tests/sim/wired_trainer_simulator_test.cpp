#include "sim/wired_trainer_simulator.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

#include "common/tick_count.h"
#include "sim/slave_port.h"

namespace wct::sim {
namespace {

using test::Bytes;
using test::Hex;
using test::TSlavePort;

constexpr int kReplyMs = 1000;

const std::string kIdentify = Bytes({0xF0, 0x08, 0x28, 0x00, 0x00, 0xF7});
const std::string kAskSerial = Bytes({0xF0, 0x03, 0x00, 0x00, 0x00, 0xF7});
const std::string kAskVersion = Bytes({0xF0, 0x09, 0x00, 0x00, 0x00, 0xF7});

// Cuts the trainer's output into frames of `size` bytes F0 ... F7.
std::vector<std::string> Frames(const std::string& bytes, size_t size) {
    std::vector<std::string> frames;
    for (size_t at = 0; at + size <= bytes.size(); at += size) {
        frames.push_back(bytes.substr(at, size));
        EXPECT_EQ(static_cast<uint8_t>(frames.back().front()), 0xF0) << Hex(frames.back());
        EXPECT_EQ(static_cast<uint8_t>(frames.back().back()), 0xF7) << Hex(frames.back());
    }
    return frames;
}

unsigned Word(const std::string& frame, size_t at) {
    return static_cast<uint8_t>(frame[at]) * 256u + static_cast<uint8_t>(frame[at + 1]);
}

class WiredTrainer : public ::testing::Test {
protected:
    void Start(double generation) {
        TWiredOptions options;
        options.generation = generation;
        options.serial = 0xABCDEF;
        options.rotation1 = -1;
        options.rotation2 = 2;
        options.productVersion = 0x33;
        TSimSettings settings;
        settings.log = log_.Sink();
        sim_ = std::make_unique<TWiredTrainerSimulator>(options, settings);
        sim_->Start();
        port_ = std::make_unique<TSlavePort>(sim_->PortPath());
    }
    std::string Read(size_t count) {
        return port_->ReadUntil([&](const std::string& d) { return d.size() >= count; }, kReplyMs);
    }
    // Writes `bytes` and waits until the trainer has taken them in, so that the clock
    // moved afterwards moves for them.
    void Tell(const std::string& bytes) {
        port_->Write(bytes);
        ASSERT_TRUE(log_.WaitFor("<- " + sim::ToHex(bytes), kReplyMs));
    }

    TScopedVirtualClock clock_;
    test::TLogLines log_;
    std::unique_ptr<TWiredTrainerSimulator> sim_;
    std::unique_ptr<TSlavePort> port_;
};

TEST_F(WiredTrainer, OfGeneration5AnswersIdentificationWith0x54) {
    Start(5);
    port_->Write(kIdentify);
    EXPECT_EQ(Hex(Read(6)), "F0 08 54 00 00 F7");
}

TEST_F(WiredTrainer, OfEachFrameGenerationAnswersIdentificationWithItsCode) {
    const std::pair<double, unsigned> codes[] = {{4, 0x50},   {4.5, 0x55}, {5, 0x54},
                                                 {5.5, 0x5A}, {6, 0x58},   {7, 0x5C}};
    for (const auto& [generation, code] : codes) {
        Start(generation);
        port_->Write(kIdentify);
        EXPECT_EQ(Read(6), Bytes({0xF0, 0x08, code, 0x00, 0x00, 0xF7})) << generation;
    }
}

TEST_F(WiredTrainer, OfTheByteProtocolAnswersTheRawByte0x28With0x50) {
    for (double generation : {1.0, 2.0, 3.0}) {
        Start(generation);
        port_->Write(Bytes({0x28}));
        EXPECT_EQ(Read(1), Bytes({0x50})) << generation;
    }
}

TEST(WiredTrainerGenerations, ThatDoNotExistAreRefused) {
    EXPECT_THROW(TWiredTrainerSimulator(TWiredOptions{.generation = 3.5}), std::invalid_argument);
    EXPECT_THROW(IdentificationAnswer(8), std::invalid_argument);
}

TEST_F(WiredTrainer, WithShortFramesSendsSerialNumberAndProductVersionInSixBytes) {
    Start(4);
    port_->Write(kAskSerial);
    EXPECT_EQ(Hex(Read(6)), "F0 03 AB CD EF F7");
    port_->Write(kAskVersion);
    EXPECT_EQ(Hex(Read(6)), "F0 09 33 00 00 F7");
}

TEST_F(WiredTrainer, WithLongFramesAddsTheRotationBytesToTheSerialNumber) {
    Start(6);
    port_->Write(kAskSerial);
    EXPECT_EQ(Hex(Read(10)), "F0 03 AB CD EF FF 02 00 00 F7");
    port_->Write(kAskVersion);
    EXPECT_EQ(Hex(Read(10)), "F0 09 33 00 00 00 00 00 00 F7");
}

TEST_F(WiredTrainer, WithLongFramesSendsMeasuresEvery100msAndTheRollTotalEverySecond) {
    Start(5);
    Tell(kIdentify);
    EXPECT_EQ(Read(6).size(), 6u);
    EXPECT_EQ(port_->ReadFor(30), "") << "nothing before the first 100 ms";
    clock_.Advance(1000);
    const std::vector<std::string> frames = Frames(Read(11 * 10), 10);
    ASSERT_EQ(frames.size(), 11u);
    for (size_t i = 0; i < 10; ++i) {
        const std::string& m = frames[i];
        EXPECT_EQ(m[1], 0x01) << Hex(m);
        // A warm-up rider: a roll event every few hundred 26.4 µs ticks, pedalling about
        // every 0.7 s, a heart beat about every 0.8 s.
        EXPECT_GT(Word(m, 3), 200u);
        EXPECT_LT(Word(m, 3), 2000u);
        EXPECT_GT(Word(m, 5), 500u);
        EXPECT_LT(Word(m, 5), 1000u);
        EXPECT_GT(Word(m, 7), 600u);
        EXPECT_LT(Word(m, 7), 1000u);
    }
    EXPECT_EQ(frames[10][1], 0x02);
    EXPECT_GT(static_cast<uint8_t>(frames[10][4]), 0) << "roll events in the first second";
    EXPECT_EQ(port_->ReadFor(30), "");
}

TEST_F(WiredTrainer, WithShortFramesCountsRollEventsAndTotalsThem) {
    Start(4);
    Tell(kIdentify);
    EXPECT_EQ(Read(6).size(), 6u);
    clock_.Advance(1000);
    const std::vector<std::string> frames = Frames(Read(11 * 6), 6);
    ASSERT_EQ(frames.size(), 11u);
    unsigned events = 0;
    int pedals = 0;
    int beats = 0;
    for (size_t i = 0; i < 10; ++i) {
        EXPECT_EQ(frames[i][1], 0x01);
        events += static_cast<uint8_t>(frames[i][3]);
        pedals += (frames[i][2] & 0x10) != 0;
        beats += (frames[i][2] & 0x20) != 0;
    }
    EXPECT_GT(events, 20u);
    EXPECT_GE(pedals, 1);
    EXPECT_GE(beats, 1);
    EXPECT_EQ(frames[10][1], 0x02);
    EXPECT_NEAR(static_cast<uint8_t>(frames[10][4]), events, 1.0);
}

TEST_F(WiredTrainer, WithTheByteProtocolSendsAFlagsByteEvery10ms) {
    Start(2);
    Tell(Bytes({0x28}));
    EXPECT_EQ(Read(1), Bytes({0x50}));
    clock_.Advance(1000);
    const std::string flags = Read(100);
    ASSERT_EQ(flags.size(), 100u);
    int rolls = 0;
    int pedals = 0;
    for (char f : flags) {
        rolls += (f & 0x40) != 0;
        pedals += (f & 0x10) != 0;
    }
    EXPECT_GT(rolls, 10);
    EXPECT_GE(pedals, 1);
    EXPECT_EQ(port_->ReadFor(30), "");
}

TEST_F(WiredTrainer, AppliesTheLoadItReceivesToTheRoll) {
    Start(5);
    Tell(kIdentify);
    Read(6);
    clock_.Advance(100);
    const unsigned freePeriod = Word(Frames(Read(10), 10).at(0), 3);
    Tell(Bytes({0xF0, 0x01, 200, 126, 0x00, 0xF7}));
    clock_.Advance(100);
    const unsigned brakedPeriod = Word(Frames(Read(10), 10).at(0), 3);
    EXPECT_GT(brakedPeriod, 2 * freePeriod) << "the roll turns slower under load";
}

TEST_F(WiredTrainer, FallsSilentWhenToldAndSpeaksAgainAfterwards) {
    Start(5);
    Tell(kIdentify);
    Read(6);
    sim_->SetSilent(true);
    clock_.Advance(1000);
    Tell(kIdentify);
    EXPECT_EQ(port_->ReadFor(50), "");
    sim_->SetSilent(false);
    port_->Write(kIdentify);
    EXPECT_EQ(Hex(Read(6)), "F0 08 54 00 00 F7");
    clock_.Advance(100);
    EXPECT_EQ(Frames(Read(10), 10).size(), 1u);
}

TEST_F(WiredTrainer, IgnoresAndLogsWhatItCannotParse) {
    Start(4);
    port_->Write(Bytes({0x00, 0xF7, 0x13}));                    // noise
    port_->Write(Bytes({0xF0, 0x08, 0x28, 0xF7}));              // truncated
    port_->Write(Bytes({0xF0, 0x42, 0x00, 0x00, 0x00, 0xF7}));  // unknown command
    port_->Write(kIdentify);
    EXPECT_EQ(Hex(Read(6)), "F0 08 50 00 00 F7");
    EXPECT_TRUE(log_.WaitFor("-- ignored", kReplyMs));
}

}  // namespace
}  // namespace wct::sim
