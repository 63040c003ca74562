// SPDX-License-Identifier: Apache-2.0
// `wct map` and `wct ride`, run as separate processes.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "cli/cli_options.h"
#include "run_process.h"
#include "sim/dongle_simulator.h"

namespace wct {
namespace {

using test::Lines;
using test::RunProcess;
using test::TProcessResult;

std::vector<std::string> Fields(const std::string& line, char separator) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, separator);) fields.push_back(field);
    return fields;
}

// `wct map ARGS` with `input` on its standard input.
TProcessResult Map(const std::string& args, const std::string& input = "") {
    return RunProcess("/bin/sh", {"-c", "printf '" + input + "' | '" WCT_BINARY "' map " + args},
                      10000);
}

TEST(WctMap, OnePointPrintsTheLevelAndThePowerToShow) {
    TProcessResult r = Map("--speed 20 --power 200");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "72 200\n");
    r = Map("--speed 20 --power 500");
    EXPECT_EQ(r.out, "175 481\n");
    r = Map("--speed 12 --power 2000 --version 4 --calibration 2");
    EXPECT_EQ(r.out, "190 234\n") << "capped for a version 4 trainer";
    r = Map("--speed 12.4274 --power 200 --miles --reducer 0.5");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "36 200\n");
}

TEST(WctMap, ASweepFromStandardInputAnswersEveryLineAndReportsTheBadOnes) {
    const TProcessResult r = Map("", "20 200\\n\\n90 2000\\nfast 3\\n3 17\\n0 300\\n20 200 7\\n");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "72 200\n20 808\n40 17\n0 0\n");
    EXPECT_NE(r.err.find("line 4: 'fast 3' is not \"speed power\""), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("line 7:"), std::string::npos) << r.err;
}

TEST(WctMap, AMapFileIsReadInItsStoredFormAndABadOneExitsTwo) {
    char dir[] = "/tmp/wct-map-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string good = std::string(dir) + "/good.map";
    std::ofstream(good) << "0\t10\t20\n0\t50\t100\n40\t80\t160\n\n";
    TProcessResult r = Map("--file " + good + " --speed 20 --power 130");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "20 130\n");

    const std::string bad = std::string(dir) + "/bad.map";
    std::ofstream(bad) << "0\t10\n0\tabc\n\n";
    r = Map("--file " + bad + " --speed 20 --power 130");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("Error while reading the resistance map (Error code: 4)\r\n"
                         "Please, contact the Corvi support\r\n\r\n"
                         "line 2, field 2: 'abc' is not a valid floating point value"),
              std::string::npos)
        << r.err;

    // A blank line between levels once gave wrong levels without a word.
    std::ofstream(bad) << "0\t10\t20\n0\t50\t100\n\n40\t80\t160\n\n";
    r = Map("--file " + bad + " --speed 20 --power 130");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("line 3 is blank"), std::string::npos) << r.err;

    r = Map("--file " + std::string(dir) + "/missing.map --speed 1 --power 1");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("cannot read the map file"), std::string::npos);
    std::remove(good.c_str());
    std::remove(bad.c_str());
    rmdir(dir);
}

TEST(WctMap, ANegativeSpeedOrPowerIsRefusedInOneLine) {
    for (const char* args : {"--speed -5 --power 100", "--speed 20 --power -1"}) {
        const TProcessResult r = Map(args);
        EXPECT_EQ(r.exitCode, 2) << args;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
        EXPECT_NE(r.err.find("below 0"), std::string::npos) << r.err;
    }
}

TEST(WctMap, WrongOptionsExitTwo) {
    for (const char* args : {"--speed 20", "--power 3", "--speed x --power 3", "--colour red",
                             "--speed 20 --power 3.5", "extra"}) {
        const TProcessResult r = Map(args);
        EXPECT_EQ(r.exitCode, 2) << args;
        EXPECT_NE(r.err.find("usage: wct"), std::string::npos) << args;
    }
}

// A dongle whose console 1 joins when registration opens, its rider scripted; console 2
// is registered already and is not the one a ride binds to.
class WctRide : public ::testing::Test {
protected:
    void SetUp() override {
        sim::TDongleOptions options;
        options.joinDelayMs = 50;
        options.consoles = {sim::DefaultConsole(1), sim::DefaultConsole(2)};
        options.consoles[0].version = 5;  // a 45 mm roll
        options.consoles[1].joinedAtStart = true;
        dongle = std::make_unique<sim::TDongleSimulator>(options);
        dongle->SetRider(1, {1000, 120, 80});
        dongle->Start();
    }
    // `wct` on the dongle waiting `waitMs` for a console; the dongle search waits for its
    // answer as long as any command would, however busy the machine.
    std::vector<std::string> Args(const std::string& waitMs, std::vector<std::string> ride) {
        ride.insert(ride.begin(), {"--port", dongle->PortPath(), "--reply-timeout", "15000",
                                   "--wait", waitMs, "ride"});
        return ride;
    }
    TProcessResult Ride(std::vector<std::string> args, int timeoutMs = 60000) {
        return RunProcess(WCT_BINARY, Args("3000", std::move(args)), timeoutMs);
    }
    std::unique_ptr<sim::TDongleSimulator> dongle;
};

TEST_F(WctRide, EveryStatisticsStepPrintsOneLineAndTheLoopSetsTheBrake) {
    const TProcessResult r = Ride({"--seconds", "4", "--slope", "4", "--weight", "70", "--csv"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto lines = Lines(r.out);
    ASSERT_GE(lines.size(), 4u) << r.out;
    EXPECT_EQ(lines[0],
              "time_ms,console,speed_kmh,distance_km,cadence,heart_rate,power_w,calories,"
              "resistance,state");
    const auto third = Fields(lines[3], ',');
    ASSERT_EQ(third.size(), 10u) << lines[3];
    EXPECT_EQ(third[1], "1");
    EXPECT_EQ(third[2], "8.48");
    EXPECT_EQ(third[4], "80");
    EXPECT_EQ(third[9], "csStarted");
    // 0.00145 v^3 + 0.127 v^2 + v (0.0189 x 80 x 4 - 0.37) at 8.478 km/h: 58.15 W.
    EXPECT_EQ(third[6], "58");
    const int level = std::stoi(third[8]);
    EXPECT_GT(level, 0);
    EXPECT_EQ(Fields(lines[1], ',')[2], "8.48") << "no ramp from zero while the window fills";
    EXPECT_EQ(dongle->Brake(1), 0) << "the ride ends at the initial resistance";
}

TEST_F(WctRide, AHeartAboveTheMaximumGetsNoLoadAndTheRiderIsTold) {
    dongle->SetRider(1, {3000, 225, 80});
    const TProcessResult r = Ride({"--seconds", "3", "--slope", "4", "--csv"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto lines = Lines(r.out);
    ASSERT_GE(lines.size(), 3u) << r.out;
    for (size_t i = 1; i < lines.size(); ++i) {
        const auto fields = Fields(lines[i], ',');
        ASSERT_EQ(fields.size(), 10u) << lines[i];
        EXPECT_EQ(fields[5], "225");
        EXPECT_EQ(fields[8], "0") << lines[i];
    }
    EXPECT_NE(r.err.find("wct: heart rate 225 above 220: brake held at 0"), std::string::npos)
        << r.err;
}

TEST_F(WctRide, SigintEndsTheRideCleanly) {
    // Interrupted once the first step is printed.
    const TProcessResult r =
        RunProcess(WCT_BINARY, Args("3000", {"--seconds", "600"}), 60000,
                   [interrupted = false](int pid, const std::string& out) mutable {
                       if (interrupted || out.find("csStarted") == std::string::npos) return;
                       kill(pid, SIGINT);
                       interrupted = true;
                   });
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_LT(r.elapsedMs, 20000);
    EXPECT_NE(r.out.find(" csStarted\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "");
}

TEST_F(WctRide, NoConsoleJoiningExitsOne) {
    dongle->Leave(1);
    const TProcessResult r = RunProcess(WCT_BINARY, Args("1000", {}), 60000);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("no console joined within 1000 ms"), std::string::npos) << r.err;
}

TEST_F(WctRide, AConsoleThatIsLostEndsTheRideWithExitOne) {
    // Leaves once the ride is under way: its first step is out.
    bool left = false;
    const TProcessResult r = RunProcess(WCT_BINARY, Args("3000", {"--seconds", "60"}), 60000,
                                        [&](int, const std::string& out) {
                                            if (left || out.empty()) return;
                                            dongle->Leave(1);
                                            left = true;
                                        });
    ASSERT_TRUE(left);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("console 1 was lost"), std::string::npos) << r.err;
    EXPECT_LT(r.elapsedMs, 20000);
}

TEST(WctRideUsage, WrongOptionsExitTwo) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"ride", "--slope", "steep"},
                                               {"ride", "--slope", "150"},
                                               {"ride", "--weight", "-3"},
                                               {"ride", "--seconds"},
                                               {"ride", "--speed", "3"}}) {
        const TProcessResult r = RunProcess(WCT_BINARY, args, 10000);
        EXPECT_EQ(r.exitCode, 2) << args[1];
        EXPECT_NE(r.err.find("usage: wct"), std::string::npos);
    }
}

}  // namespace
}  // namespace wct
