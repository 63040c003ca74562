// SPDX-License-Identifier: Apache-2.0
// The paced clock between simulators and a PC in the same process. The PC is the test
// itself: it idles as the main thread of a component does, and reads what came in
// between.
#include "sim/sim_clock.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <string>
#include <utility>
#include <vector>

#include "common/main_thread.h"
#include "sim/dongle_simulator.h"
#include "sim/slave_port.h"
#include "sim/wired_trainer_simulator.h"

namespace wct::sim {
namespace {

using test::Bytes;
using test::TSlavePort;

constexpr int kReplyMs = 1000;
// Bounds a hang: the clock is expected far sooner.
constexpr uint32_t kLongAfter = 60000;

// What the PC read, and the clock's time when it found it.
using TReads = std::vector<std::pair<uint32_t, std::string>>;

// Idles and reads until `done`, or until the clock passes `until`.
TReads IdleAndRead(TPacedClock& clock, TSlavePort& pc, size_t reads, uint32_t until) {
    TReads seen;
    while (seen.size() < reads && clock.Now() < until) {
        MainThread().ProcessMessages();
        if (pc.Poll(0) & POLLIN) {
            const uint32_t at = clock.Now();
            seen.emplace_back(
                at, pc.ReadUntil([](const std::string& d) { return !d.empty(); }, kReplyMs));
        }
    }
    return seen;
}

TEST(PacedClock, StopsAtEachFrameOfItsSimulatorUntilThePcHasReadIt) {
    TPacedClock clock(1000, 50);
    TSimSettings settings;
    settings.clock = &clock;
    TWiredTrainerSimulator trainer({.generation = 4, .keepAliveMs = 0}, settings);
    trainer.Start();
    TSlavePort pc(trainer.PortPath());
    const TReads reads = IdleAndRead(clock, pc, 10, kLongAfter);
    ASSERT_EQ(reads.size(), 10u);
    for (size_t i = 0; i < reads.size(); ++i) {
        EXPECT_EQ(reads[i].first, 1100 + 100 * i) << "frame " << i;
        EXPECT_EQ(reads[i].second.size(), i < 9 ? 6u : 12u) << "the tenth with the roll total";
    }
}

TEST(PacedClock, BringsAnAnswerAtTheTickItWasAskedOrAfterTheReplyDelay) {
    const std::string versionRequest = Bytes({0x3E, 0x0A, 0x00, 0x00, 0x00, 0x21});
    for (uint32_t delay : {0u, 300u}) {
        TPacedClock clock(1000, 50);
        TSimSettings settings;
        settings.clock = &clock;
        TDongleSimulator dongle({}, settings);
        dongle.Start();
        dongle.SetLinkFaults({.replyDelayMs = delay});
        TSlavePort pc(dongle.PortPath());
        // The clock moves on a little before the question.
        IdleAndRead(clock, pc, 1, 1200);
        const uint32_t asked = clock.Now();
        pc.Write(versionRequest);
        const TReads reads = IdleAndRead(clock, pc, 1, kLongAfter);
        ASSERT_EQ(reads.size(), 1u) << delay;
        EXPECT_EQ(reads[0].first, asked + delay);
        EXPECT_EQ(reads[0].second, Bytes({0x3E, 0x0A, 0x00, 0x01, 0x78, 0x00, 0x21}));
    }
}

TEST(PacedClock, MovesOnWhenThePcLeavesWhatCameUnread) {
    TPacedClock clock(1000, 50);
    TSimSettings settings;
    settings.clock = &clock;
    TWiredTrainerSimulator trainer({.generation = 4, .keepAliveMs = 0}, settings);
    trainer.Start();
    TSlavePort pc(trainer.PortPath());  // open, never read
    while (clock.Now() < 1500) MainThread().ProcessMessages();
    const std::string waiting =
        pc.ReadUntil([](const std::string& d) { return d.size() >= 24; }, kReplyMs);
    EXPECT_GE(waiting.size(), 24u) << "what it left unread waits on the line";
}

}  // namespace
}  // namespace wct::sim
