// SPDX-License-Identifier: Apache-2.0
#include "sim/wired_trainer_simulator.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
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

std::string Load(unsigned resistance, unsigned elevation) {
    return Bytes({0xF0, 0x01, resistance, elevation, 0x00, 0xF7});
}

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

uint8_t Byte(const std::string& frame, size_t at) {
    return static_cast<uint8_t>(frame.at(at));
}

class WiredTrainer : public ::testing::Test {
protected:
    void Start(double generation, TWiredOptions options = {}, TSimSettings settings = {}) {
        options.generation = generation;
        options.serial = 0xABCDEF;
        options.rotation1 = -1;
        options.rotation2 = 2;
        options.productVersion = 0x33;
        settings.log = log_.Sink();
        port_.reset();
        unread_.clear();
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
        log_.Clear();  // the same bytes told before are no answer
        port_->Write(bytes);
        ASSERT_TRUE(log_.WaitFor("<- " + BytesToHex(bytes), kReplyMs));
    }
    // Moves the clock one measures period at a time and reads what each period brings.
    std::vector<std::string> Periods(int count, int64_t periodMs, size_t frameSize) {
        std::vector<std::string> seen;
        for (int i = 0; i < count; ++i) {
            clock_.Advance(static_cast<uint32_t>(periodMs));
            seen.push_back(Read(frameSize));
        }
        return seen;
    }
    // The measures frame of the next 100 ms. Roll totals and faults around it are skipped;
    // what follows it in the same read waits for the next call, so that a total written
    // just after a measures frame never costs a period.
    std::string NextMeasures(size_t size) {
        clock_.Advance(100);
        const auto measuresAt = [size](const std::string& bytes) {
            for (size_t at = 0; at + size <= bytes.size(); at += size)
                if (bytes[at + 1] == 0x01) return at;
            return std::string::npos;
        };
        if (measuresAt(unread_) == std::string::npos) {
            unread_ += port_->ReadUntil(
                [&](const std::string& d) { return measuresAt(unread_ + d) != std::string::npos; },
                kReplyMs);
        }
        const size_t at = measuresAt(unread_);
        if (at == std::string::npos) {
            ADD_FAILURE() << "no measures frame in " << Hex(unread_);
            unread_.clear();
            return std::string(size, '\0');
        }
        std::string frame = unread_.substr(at, size);
        unread_.erase(0, at + size);
        return frame;
    }

    TScopedVirtualClock clock_;
    test::TLogLines log_;
    std::unique_ptr<TWiredTrainerSimulator> sim_;
    std::unique_ptr<TSlavePort> port_;
    std::string unread_;  // read past the last measures frame
};

// ---- Identification and requests ----------------------------------------------------

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

TEST_F(WiredTrainer, CanAnswerIdentificationWronglyOrNotAtAll) {
    Start(5, {.identification = TIdentification::Wrong});
    port_->Write(kIdentify);
    EXPECT_EQ(Hex(Read(6)), "F0 08 51 00 00 F7");
    sim_->SetIdentification(TIdentification::None);
    Tell(kIdentify);
    EXPECT_EQ(port_->ReadFor(30), "");
    EXPECT_TRUE(log_.WaitFor("-- identification request not answered", kReplyMs));

    Start(2, {.identification = TIdentification::Wrong});
    port_->Write(Bytes({0x28}));
    EXPECT_EQ(Read(1), Bytes({0x51}));
}

TEST_F(WiredTrainer, OfTheByteProtocolTakes0x28AsABrakeLevelOnceIdentifiedUntilKeepAliveLapses) {
    Start(2, {.keepAliveMs = 200});
    Tell(Bytes({0x28}));
    EXPECT_EQ(Read(1), Bytes({0x50}));
    Tell(Bytes({0x28}));  // a resistance of 40 while being driven
    EXPECT_EQ(port_->ReadFor(30), "");
    clock_.Advance(300);
    ASSERT_TRUE(log_.WaitFor("measures stop", kReplyMs));
    EXPECT_EQ(Read(19).size(), 19u) << "the flags of the 200 ms before the lapse";
    port_->Write(Bytes({0x28}));
    EXPECT_EQ(Read(1), Bytes({0x50})) << "after a lapse the trainer wants to be identified again";
}

TEST(WiredTrainerGenerations, ThatDoNotExistAreRefused) {
    EXPECT_THROW(TWiredTrainerSimulator(TWiredOptions{.generation = 3.5}), std::invalid_argument);
    EXPECT_THROW(IdentificationAnswer(8), std::invalid_argument);
}

TEST(WiredTrainerGenerations, TurnTheRollAsTheDriverCountsIt) {
    // Roll diameter × π × turns per event, rounded as the driver rounds it.
    const std::pair<double, double> metres[] = {{1, 0.2513},   {2, 0.1885},   {3, 0.1885},
                                                {4, 0.0620},   {4.5, 0.1241}, {5, 0.1414},
                                                {5.5, 0.0471}, {6, 0.1257},   {7, 0.0942}};
    for (const auto& [generation, expected] : metres)
        EXPECT_NEAR(MetresPerRollEvent(generation), expected, 0.00006) << generation;
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

TEST_F(WiredTrainer, IgnoresAndLogsWhatItCannotParse) {
    Start(4);
    port_->Write(Bytes({0x00, 0xF7, 0x13}));                    // noise
    port_->Write(Bytes({0xF0, 0x08, 0x28, 0xF7}));              // truncated
    port_->Write(Bytes({0xF0, 0x42, 0x00, 0x00, 0x00, 0xF7}));  // unknown command
    port_->Write(kIdentify);
    EXPECT_EQ(Hex(Read(6)), "F0 08 50 00 00 F7");
    EXPECT_TRUE(log_.WaitFor("-- ignored", kReplyMs));
}

TEST_F(WiredTrainer, WarnsWhenTheLineIsNotSetTo9600Even) {
    Start(5);
    const int fd = open(sim_->PortPath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    termios tio{};
    ASSERT_EQ(tcgetattr(fd, &tio), 0);
    cfmakeraw(&tio);
    cfsetspeed(&tio, B115200);
    ASSERT_EQ(tcsetattr(fd, TCSANOW, &tio), 0);
    Tell(kAskVersion);
    EXPECT_TRUE(log_.WaitFor(
        "-- warning: the line is set to 115200 8N1, the trainer talks 9600 8E1", kReplyMs));
    cfsetspeed(&tio, B9600);
    tio.c_cflag |= PARENB;
    ASSERT_EQ(tcsetattr(fd, TCSANOW, &tio), 0);
    Tell(kIdentify);
    EXPECT_FALSE(log_.WaitFor("9600 8E1, the trainer", 50));
    close(fd);
}

TEST_F(WiredTrainer, LetsEachNewClientSetEvenParityAgain) {
    Start(5);
    port_.reset();
    for (int client = 0; client < 3; ++client) {
        const int fd = open(sim_->PortPath().c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(fd, 0);
        termios tio{};
        ASSERT_EQ(tcgetattr(fd, &tio), 0);
        cfmakeraw(&tio);
        tio.c_cflag = CREAD | CS8 | CLOCAL | PARENB;
        cfsetspeed(&tio, B9600);
        EXPECT_EQ(tcsetattr(fd, TCSANOW, &tio), 0) << "client " << client;
        ASSERT_EQ(write(fd, kAskVersion.data(), kAskVersion.size()), 6);
        ASSERT_TRUE(log_.WaitFor("<- " + BytesToHex(kAskVersion), kReplyMs));
        close(fd);
    }
}

// ---- Streaming on the clock ----------------------------------------------------------

TEST_F(WiredTrainer, StreamsFromPowerOnBeforeAnyIdentification) {
    Start(5);
    EXPECT_EQ(port_->ReadFor(30), "") << "nothing before the first 100 ms";
    const std::vector<std::string> frames = Frames(Periods(1, 100, 10).at(0), 10);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0][1], 0x01);
}

TEST_F(WiredTrainer, WithLongFramesSendsMeasuresEvery100msAndTheRollTotalEverySecond) {
    Start(5);
    const std::vector<std::string> periods = Periods(10, 100, 10);
    for (size_t i = 0; i < 9; ++i) {
        const std::vector<std::string> frames = Frames(periods[i], 10);
        ASSERT_EQ(frames.size(), 1u) << i;
        const std::string& m = frames[0];
        EXPECT_EQ(m[1], 0x01) << Hex(m);
        // A warm-up rider: a roll event every few hundred 26.4 µs ticks; no pedal or heart
        // period yet, which takes two revolutions or beats to time.
        EXPECT_GT(Word(m, 3), 200u);
        EXPECT_LT(Word(m, 3), 2000u);
        EXPECT_EQ(Word(m, 5), 0xFFFFu);
        EXPECT_EQ(Word(m, 7), 0xFFFFu);
    }
    const std::string last = periods[9] + Read(20 - periods[9].size());
    const std::vector<std::string> frames = Frames(last, 10);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[1][1], 0x02);
    EXPECT_GT(Byte(frames[1], 4), 0) << "roll events in the first second";
}

TEST_F(WiredTrainer, WithShortFramesCountsRollEventsAndTotalsThem) {
    Start(4);
    std::string data;
    for (const std::string& period : Periods(10, 100, 6)) data += period;
    data += Read(6);
    const std::vector<std::string> frames = Frames(data, 6);
    ASSERT_EQ(frames.size(), 11u);
    unsigned events = 0;
    for (size_t i = 0; i < 10; ++i) {
        EXPECT_EQ(frames[i][1], 0x01);
        events += Byte(frames[i], 3);
    }
    EXPECT_GT(events, 20u);
    EXPECT_EQ(frames[10][1], 0x02);
    EXPECT_NEAR(Byte(frames[10], 4), events, 1.0);
}

TEST_F(WiredTrainer, WithTheByteProtocolSendsAFlagsByteEvery10ms) {
    Start(2);
    std::string flags;
    for (const std::string& period : Periods(100, 10, 1)) flags += period;
    ASSERT_EQ(flags.size(), 100u);
    int rolls = 0;
    for (char f : flags) rolls += (f & 0x40) != 0;
    EXPECT_GT(rolls, 10);
}

TEST_F(WiredTrainer, SendsWhatItOwesWhenItsThreadWakesLateUpToALapseOrTenSeconds) {
    struct TCase {
        const char* what;
        uint32_t keepAliveMs;
        uint32_t lateMs;
        size_t measures;
        size_t totals;
    };
    const TCase cases[] = {
        {"a second late", 0, 1000, 10, 1},
        {"kept alive for one of the 1.5 s", 1000, 1500, 9, 0},
        {"a minute late: only the last ten seconds", 0, 60000, 100, 10},
    };
    for (const TCase& c : cases) {
        Start(4, {.keepAliveMs = c.keepAliveMs});
        clock_.Advance(c.lateMs);
        const std::vector<std::string> frames = Frames(Read(6 * (c.measures + c.totals)), 6);
        EXPECT_EQ(std::count_if(frames.begin(), frames.end(),
                                [](const std::string& f) { return f[1] == 0x01; }),
                  c.measures)
            << c.what;
        EXPECT_EQ(frames.size(), c.measures + c.totals) << c.what;
        EXPECT_EQ(port_->ReadFor(30), "") << c.what << ": nothing more";
    }
}

TEST_F(WiredTrainer, SendsEachOwedFrameAsItWasAtItsOwnTime) {
    Start(4);
    sim_->SetRider(TWiredRider{.speedKmh = 36, .heartPeriodMs = 500});
    clock_.Advance(500);
    // The thread may still be asleep: the rider changes after the frames it owes.
    sim_->SetRider(TWiredRider{.speedKmh = 0, .heartPeriodMs = 500});
    clock_.Advance(500);
    const std::vector<std::string> frames = Frames(Read(66), 6);
    ASSERT_EQ(frames.size(), 11u);
    std::vector<size_t> beats;
    for (size_t i = 0; i < 10; ++i) {
        ASSERT_EQ(frames[i][1], 0x01) << i;
        if (i < 5)
            EXPECT_NEAR(Byte(frames[i], 3), 0.1 * 10 / MetresPerRollEvent(4), 1) << "frame " << i;
        else
            EXPECT_EQ(Byte(frames[i], 3), 0) << "frame " << i;
        if (frames[i][2] & 0x20) beats.push_back(i);
    }
    EXPECT_EQ(beats, (std::vector<size_t>{4, 9})) << "the beats at 500 and 1000 ms";
    EXPECT_EQ(frames[10][1], 0x02);
}

TEST_F(WiredTrainer, ResumesFrames100msApartAfterASilence) {
    Start(4);
    Periods(1, 100, 6);
    sim_->SetSilent(true);
    for (int i = 0; i < 10; ++i) clock_.Advance(100);
    Tell(kIdentify);
    EXPECT_EQ(port_->ReadFor(50), "") << "silent: neither measures nor answers";
    sim_->SetSilent(false);
    EXPECT_EQ(port_->ReadFor(30), "") << "nothing owed for the silent second";
    for (const std::string& period : Periods(5, 100, 6)) {
        const std::vector<std::string> frames = Frames(period, 6);
        ASSERT_EQ(frames.size(), 1u) << Hex(period);
        EXPECT_EQ(frames[0][1], 0x01);
    }
    port_->Write(kIdentify);
    EXPECT_EQ(Hex(Read(6)), "F0 08 50 00 00 F7");
}

TEST_F(WiredTrainer, StopsMeasuringWhenThePcSendsNothingAndResumesWhenItDoes) {
    Start(4, {.keepAliveMs = 1000});
    EXPECT_EQ(Periods(9, 100, 6).back().size(), 6u);
    clock_.Advance(100);
    ASSERT_TRUE(log_.WaitFor("-- nothing from the PC for 1000 ms, measures stop", kReplyMs));
    for (int i = 0; i < 5; ++i) clock_.Advance(100);
    EXPECT_EQ(port_->ReadFor(50), "");
    port_->Write(kAskVersion);
    EXPECT_EQ(Hex(Read(6)), "F0 09 33 00 00 F7") << "it still answers";
    ASSERT_TRUE(log_.WaitFor("-- measures again", kReplyMs));
    EXPECT_EQ(Frames(Periods(1, 100, 6).at(0), 6).at(0)[1], 0x01);
}

TEST_F(WiredTrainer, KeptAliveByLoadFramesMeasuresOn) {
    Start(5, {.keepAliveMs = 300});
    for (int i = 0; i < 10; ++i) {
        Tell(Load(10, 0));
        EXPECT_EQ(Frames(Periods(1, 100, 10).at(0), 10).at(0)[1], 0x01) << i;
    }
}

// ---- The rider ------------------------------------------------------------------------

TEST_F(WiredTrainer, WithLongFramesHoldsAFixedRidersPeriodsFromTheSecondEventOn) {
    Start(7);
    sim_->SetRider(TWiredRider{.speedKmh = 36, .heartPeriodMs = 500, .pedalPeriodMs = 600});
    std::vector<std::string> frames;
    for (int i = 0; i < 14; ++i) frames.push_back(NextMeasures(10));
    // 10 m/s over a 30 mm roll: one turn every 0.0942 m, 357 ticks of 26.4 µs.
    EXPECT_NEAR(Word(frames[0], 3), MetresPerRollEvent(7) / 10 / 26.4e-6, 1);
    EXPECT_EQ(Word(frames[8], 7), 0xFFFFu) << "one beat at 500 ms: nothing timed yet";
    EXPECT_EQ(Word(frames[9], 7), 500u) << "the second beat, at 1000 ms";
    EXPECT_EQ(Word(frames[10], 5), 0xFFFFu);
    EXPECT_EQ(Word(frames[11], 5), 600u);
    for (size_t i = 11; i < frames.size(); ++i) {
        EXPECT_EQ(Word(frames[i], 5), 600u) << "held between revolutions, frame " << i;
        EXPECT_EQ(Word(frames[i], 7), 500u) << "held between beats, frame " << i;
    }
    sim_->SetRider(TWiredRider{.speedKmh = 0, .keys = 0x0F});
    EXPECT_EQ(Word(NextMeasures(10), 7), 500u) << "a beat is not overdue yet";
    for (int i = 0; i < 12; ++i) NextMeasures(10);
    EXPECT_EQ(Hex(NextMeasures(10).substr(2, 7)), "0F FF FF FF FF FF FF")
        << "overdue by a whole period: no roll, pedal or heart";
}

TEST_F(WiredTrainer, WithLongFramesChangesTheHeartPeriodOnlyAtABeat) {
    Start(5, {.keepAliveMs = 0, .heartVariationMs = 60});
    sim_->SetRider(TWiredRider{.speedKmh = 20, .heartPeriodMs = 500});
    std::vector<unsigned> periods;
    int changes = 0;
    for (int i = 0; i < 100; ++i) {
        const unsigned period = Word(NextMeasures(10), 7);
        if (period == 0xFFFF) continue;
        EXPECT_NEAR(period, 500, 60);
        if (!periods.empty() && period != periods.back()) ++changes;
        periods.push_back(period);
    }
    // Ten seconds hold about 20 beats: the period changes at most once per beat.
    EXPECT_GE(changes, 10);
    EXPECT_LE(changes, 23);
}

TEST_F(WiredTrainer, CountsItsRollTotalFromTheTotalItHadAtPowerOn) {
    Start(4, {.rollTotal = 100000});
    sim_->SetRider(TWiredRider{.speedKmh = 36});
    std::string total;
    for (int i = 0; i < 20 && total.empty(); ++i) {
        clock_.Advance(100);
        for (const std::string& frame : Frames(Read(6), 6))
            if (frame[1] == 0x02) total = frame;
    }
    ASSERT_FALSE(total.empty());
    const unsigned value = Byte(total, 2) << 16 | Byte(total, 3) << 8 | Byte(total, 4);
    EXPECT_GE(value, 100000u);
    EXPECT_LE(value, 100000u + 10 / MetresPerRollEvent(4) + 1) << "a second at 10 m/s at most";
}

TEST_F(WiredTrainer, TakesScriptLinesThatChangeTheRiderOrSilenceIt) {
    Start(4);
    sim_->RunScriptLine("rider speed=36,hr=120,cad=60");
    unsigned events = 0;
    for (int i = 0; i < 10; ++i) events += Byte(NextMeasures(6), 3);
    EXPECT_NEAR(events, 10 / MetresPerRollEvent(4), 1.5);
    // The second's roll total follows its tenth frame, before the trainer falls silent.
    const std::string total =
        unread_ +
        port_->ReadUntil([&](const std::string& d) { return unread_.size() + d.size() >= 6; },
                         kReplyMs);
    unread_.clear();
    EXPECT_EQ(Frames(total, 6).at(0)[1], 0x02);
    sim_->RunScriptLine("silent");
    clock_.Advance(500);
    EXPECT_EQ(port_->ReadFor(50), "");
    sim_->RunScriptLine("speak");
    EXPECT_EQ(Frames(Periods(1, 100, 6).at(0), 6).size(), 1u);
    for (const char* wrong : {"rider speed=fast", "rider", "silent now", "jump"})
        EXPECT_THROW(sim_->RunScriptLine(wrong), std::invalid_argument) << wrong;
    EXPECT_THROW(ParseWiredRider("speed=20,wind=3"), std::invalid_argument);
}

TEST_F(WiredTrainer, RollGeometryFollowsTheGeneration) {
    for (double generation : {4.5, 5.0, 5.5, 6.0}) {
        Start(generation);
        sim_->SetRider(TWiredRider{.speedKmh = 30});
        const std::string m = NextMeasures(10);
        const double eventsPer100ms = 3787.878787878787879 / Word(m, 3);
        EXPECT_NEAR(eventsPer100ms * MetresPerRollEvent(generation) * 36000 / 1000, 30, 0.3)
            << generation;
    }
}

TEST_F(WiredTrainer, WithShortFramesCountsAFixedRidersRollEventsAndBeats) {
    Start(4);
    sim_->SetRider(TWiredRider{.speedKmh = 36, .heartPeriodMs = 500, .pedalPeriodMs = 1000});
    unsigned events = 0;
    std::vector<int> beats;
    std::vector<int> pedals;
    for (int i = 0; i < 20; ++i) {
        const std::string m = NextMeasures(6);
        events += Byte(m, 3);
        if (m[2] & 0x20) beats.push_back(i);
        if (m[2] & 0x10) pedals.push_back(i);
    }
    EXPECT_NEAR(events, 2 * 10 / MetresPerRollEvent(4), 1.5) << "20 m in 2 s";
    ASSERT_GE(beats.size(), 4u);
    ASSERT_LE(beats.size(), 5u);
    for (size_t i = 1; i < beats.size(); ++i) EXPECT_EQ(beats[i] - beats[i - 1], 5);
    EXPECT_EQ(pedals.size(), 2u);
}

TEST_F(WiredTrainer, WithTheByteProtocolFlagsAFixedRidersRollTurns) {
    Start(2);
    sim_->SetRider(TWiredRider{.speedKmh = 36, .heartPeriodMs = 0, .keys = 0x06});
    int rolls = 0;
    for (const std::string& period : Periods(100, 10, 1)) {
        ASSERT_EQ(period.size(), 1u);
        rolls += (period[0] & 0x40) != 0;
        EXPECT_EQ(period[0] & 0x2F, 0x06) << "keys held, no heart beat";
    }
    EXPECT_NEAR(rolls, 10 / MetresPerRollEvent(2), 1.5);
}

TEST_F(WiredTrainer, TakesLoadFrameZeroZeroAsNoLoadAndTheElevationAsASlope) {
    Start(5);
    const double free = Word(NextMeasures(10), 3);
    Tell(Load(0, 0));
    EXPECT_NEAR(Word(NextMeasures(10), 3), free, free * 0.03) << "0/0 changes nothing";
    Tell(Load(0, 126));
    EXPECT_NEAR(Word(NextMeasures(10), 3), free, free * 0.03) << "126 is the flat";
    Tell(Load(0, 176));
    EXPECT_GT(Word(NextMeasures(10), 3), free * 1.3) << "10 % up: the roll turns slower";
    Tell(Load(200, 0));
    EXPECT_GT(Word(NextMeasures(10), 3), free * 2) << "more brake: slower still";
}

// ---- Faults on demand -----------------------------------------------------------------

TEST_F(WiredTrainer, SendsUnknownCommandsCommand5AndGarbageWithF0OnDemand) {
    Start(5);
    sim_->SetFaults({.unknownCommandFraction = 1, .command5Fraction = 1, .garbageF0Fraction = 1});
    clock_.Advance(100);
    const std::string data =
        port_->ReadUntil([](const std::string& d) { return d.size() >= 31; }, kReplyMs);
    ASSERT_GE(data.size(), 31u);
    const std::vector<std::string> frames = Frames(data.substr(0, 30), 10);
    EXPECT_EQ(frames[0][1], 0x01);
    EXPECT_EQ(std::string("\x01\x02\x03\x05\x08\x09").find(frames[1][1]), std::string::npos)
        << "an unknown command: " << Hex(frames[1]);
    EXPECT_EQ(frames[2][1], 0x05);
    const std::string garbage = data.substr(30);
    EXPECT_EQ(Byte(garbage, 0), 0xF0);
    EXPECT_LE(garbage.size(), 4u);
    EXPECT_EQ(garbage.find('\xF7'), std::string::npos);
}

// ---- The link that follows the device --------------------------------------------------

TEST_F(WiredTrainer, KeepsItsLinkPointedAtTheCurrentPortAcrossVanishAndReturn) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("wct-link-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string link = (dir / "trainer").string();
    TSimSettings settings;
    settings.linkPath = link;
    Start(4, {}, settings);
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), sim_->PortPath());
    port_.reset();
    sim_->Vanish();
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
    sim_->Return();
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), sim_->PortPath());
    TSlavePort again(link);
    again.Write(kIdentify);
    EXPECT_EQ(Hex(again.ReadUntil([](const std::string& d) { return d.size() >= 6; }, kReplyMs)),
              "F0 08 50 00 00 F7");
    sim_.reset();
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
    std::filesystem::remove_all(dir);
}

TEST_F(WiredTrainer, RefusesToReplaceAFileThatIsNoLink) {
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() / ("wct-file-" + std::to_string(getpid()));
    { std::ofstream(file) << "keep me"; }
    TSimSettings settings;
    settings.linkPath = file.string();
    TWiredTrainerSimulator sim({.generation = 4}, settings);
    EXPECT_THROW(sim.Start(), std::system_error);
    EXPECT_EQ(std::filesystem::file_size(file), 7u);
    std::filesystem::remove(file);
}

}  // namespace
}  // namespace wct::sim
