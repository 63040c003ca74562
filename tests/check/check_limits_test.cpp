// SPDX-License-Identifier: Apache-2.0
// The check runner's limits at their edges: a value exactly at a limit, just inside and
// just outside, on the dongle simulator in virtual time.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "check/check_runner.h"
#include "common/tick_count.h"
#include "protocol/wireless_protocol.h"
#include "serial/port_inventory.h"
#include "sim/dongle_simulator.h"
#include "sim/sim_clock.h"

namespace wct::check {
namespace {

class CheckLimitsTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetPortSource([] { return std::vector<std::string>{}; });
        sim::TDongleOptions options;
        options.consoles.push_back(sim::DefaultConsole(1));
        options.consoles.back().joinedAtStart = true;
        // A whole number of the 32 revolutions the console counts in.
        options.consoles.back().totalRolls = 160000;
        sim::TSimSettings settings;
        settings.clock = &clock;
        simulator = std::make_unique<sim::TDongleSimulator>(options, settings);
        simulator->Start();
        protocol.SetPortDef(simulator->PortPath());
        ASSERT_TRUE(protocol.FindDongle());
    }
    void TearDown() override { SetPortSource(nullptr); }

    // The outcome of each step of `steps` (plan text) on console 1.
    std::vector<std::string> Outcomes(const std::string& steps) {
        TCheckRunner runner(protocol, ParsePlan("reply_timeout_ms = 300\n" + steps, "edges.toml"),
                            {"bench-1", "anna"});
        runner.OnStep = [&](const TCheckRecord&, const TStepResult&) {
            if (betweenSteps) betweenSteps();
        };
        const TCheckRun run = runner.Run({1});
        std::vector<std::string> outcomes;
        for (const TStepResult& s : run.records.at(0).steps)
            outcomes.push_back(OutcomeText(s.outcome));
        return outcomes;
    }

    // A radio step that passes whatever the link, then `count` with `limits`. All share
    // the run's window, over when the second begins: those judge at once, with no frame
    // coming in between, and `betweenSteps` can put the figures where a case wants them.
    static std::string RadioSteps(const std::string& limits, size_t count) {
        std::string steps = "[[step]]\nkind = \"radio\"\nseconds = 2\nmin_rate = 0\nmax_lost = 1\n";
        for (size_t i = 0; i < count; ++i)
            steps += "[[step]]\nkind = \"radio\"\nseconds = 2\n" + limits + "\n";
        return steps;
    }

    // Console 1's link statistics, as the radio step reads them.
    TMiraConsoleLinkStats Link() const {
        for (const TMiraConsoleLinkStats& c : protocol.LinkReport().consoles)
            if (c.console == 1) return c;
        ADD_FAILURE() << "console 1 has no link statistics";
        return {};
    }

    sim::TPacedClock clock{100000, 2};
    std::unique_ptr<sim::TDongleSimulator> simulator;
    TMiraWirelessProtocol protocol;
    std::function<void()> betweenSteps;
};

TEST_F(CheckLimitsTest, TotalRollsAtEitherLimitPassAndOneBeyondFails) {
    struct TCase {
        const char* limits;
        const char* outcome;
    } const cases[] = {
        {"min = 160000", "PASS"},
        {"min = 160001", "FAIL"},
        {"min = 159999", "PASS"},
        {"min = 0\nmax = 160000", "PASS"},
        {"min = 0\nmax = 159999", "FAIL"},
        {"min = 0\nmax = 160001", "PASS"},
        {"min = 160000\nmax = 160000", "PASS"},
        {"min = 160001\nmax = 160001", "FAIL"},
    };
    std::string steps;
    std::vector<std::string> expected;
    for (const TCase& c : cases) {
        steps += "[[step]]\nkind = \"total_rolls\"\n" + std::string(c.limits) + "\n";
        expected.push_back(c.outcome);
    }
    EXPECT_EQ(Outcomes(steps), expected);
}

// A minimum a hair above the rate reads as the rate: judged as shown, it passes.
TEST_F(CheckLimitsTest, AFrameRateAtItsMinimumOrAHairEitherSidePasses) {
    struct TCase {
        int side;  // of the measured rate the minimum is on: at (0), above (1), below (-1)
        const char* outcome;
    } const cases[] = {{0, "PASS"}, {1, "PASS"}, {-1, "PASS"}};
    std::vector<std::string> expected = {"PASS"};
    for (const TCase& c : cases) expected.push_back(c.outcome);
    // The report works the expected rate out through its period, so that not every
    // measured rate can be given back exactly: a run that measured such a one is run again.
    for (int run = 0; run < 10; ++run) {
        size_t next = 0;
        bool placed = true;
        betweenSteps = [&] {
            if (next == std::size(cases)) return;
            const double measured = Link().framesPerSecond;
            const int side = cases[next++].side;
            // The rates next to the measured one, nearest first, until one comes out on
            // the wanted side of it (on it, for 0).
            double up = measured, down = measured;
            for (int i = 0; i < 64; ++i) {
                for (double rate : {up, down}) {
                    protocol.LinkStatistics().SetExpectedRate(rate);
                    const double got = Link().expectedRate;
                    if ((got > measured) - (got < measured) == side) return;
                }
                up = std::nextafter(up, 2 * measured);
                down = std::nextafter(down, 0.0);
            }
            placed = false;
        };
        const std::vector<std::string> outcomes =
            Outcomes(RadioSteps("min_rate = 1", std::size(cases)));
        if (!placed) continue;
        EXPECT_EQ(outcomes, expected);
        return;
    }
    FAIL() << "no run measured a rate that the expected rate can equal";
}

}  // namespace
}  // namespace wct::check
