// SPDX-License-Identifier: Apache-2.0
// The real `wct` binary, run as a separate process against the dongle simulator.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <sstream>

#include "cli/cli_options.h"
#include "run_process.h"
#include "sim/dongle_simulator.h"

namespace wct {
namespace {

using test::Lines;
using test::RunProcess;
using test::TProcessResult;

// One simulator for the whole suite, its consoles registered once: the dongle keeps its
// state between the wct processes, as a real one would between runs.
class WctCliTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        sim::TDongleOptions options;
        for (uint8_t id = 1; id <= 3; ++id) options.consoles.push_back(sim::DefaultConsole(id));
        options.consoles[2].memory.resize(2048);
        options.consoles[2].memory[0x10] = 0xAA;
        options.consoles[2].memory[0x11] = 0x55;
        options.consoles[1].memoryReadOnly = true;
        options.consoles[0].testAnswers[0x19] = sim::TTestAnswer::Nack;
        options.consoles[0].testAnswers[0x17] = sim::TTestAnswer::None;
        options.joinDelayMs = 50;
        sim::TSimSettings settings;
        settings.log = [](const std::string& line) {
            {
                std::lock_guard lock(logMutex);
                simLog.push_back(line);
            }
            logged.notify_all();
        };
        simulator = new sim::TDongleSimulator(options, settings);
        simulator->Start();
        JoinConsoles(3);
    }
    static void TearDownTestSuite() {
        delete simulator;
        simulator = nullptr;
    }

    static TProcessResult Wct(std::vector<std::string> args, int timeoutMs = 60000) {
        args.insert(args.begin(), {"--port", simulator->PortPath(), "--reply-timeout", "1500"});
        return RunProcess(WCT_BINARY, args, timeoutMs);
    }
    // Opens registration with a raw frame and waits for `count` joins, much faster than a
    // wct run; the register command has a test of its own.
    static void JoinConsoles(int count) {
        const int fd = open(simulator->PortPath().c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(fd, 0);
        const unsigned char openRegistration[] = {0x3E, 0x02, 0x00, 0x00, 0x00, 0x21};
        ASSERT_EQ(write(fd, openRegistration, sizeof openRegistration), 6);
        std::string received;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        auto joins = [&] {
            int n = 0;
            for (size_t at = 0; (at = received.find("\x3E\x05", at)) != std::string::npos; ++at)
                ++n;
            return n;
        };
        while (joins() < count && std::chrono::steady_clock::now() < deadline) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            char buffer[256];
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n > 0) received.append(buffer, static_cast<size_t>(n));
        }
        const unsigned char closeRegistration[] = {0x3E, 0x03, 0x00, 0x00, 0x00, 0x21};
        EXPECT_EQ(write(fd, closeRegistration, sizeof closeRegistration), 6);
        close(fd);
        ASSERT_EQ(joins(), count);
    }

    // The simulator's thread may read the last frames of a wct run a moment after the
    // process ended: waits up to two seconds for them.
    static bool SimReceived(const std::string& hex) {
        std::unique_lock lock(logMutex);
        return logged.wait_for(lock, std::chrono::seconds(2), [&] {
            return std::any_of(simLog.begin(), simLog.end(),
                               [&](const std::string& l) { return l.find(hex) != l.npos; });
        });
    }

    static inline sim::TDongleSimulator* simulator = nullptr;
    static inline std::mutex logMutex;  // protects simLog
    static inline std::condition_variable logged;
    static inline std::vector<std::string> simLog;
};

TEST_F(WctCliTest, FindPrintsTheDonglesPort) {
    const TProcessResult r = Wct({"find"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, simulator->PortPath() + "\n");
}

TEST_F(WctCliTest, FindOnASilentPortExitsThreeWithinTheReplyTime) {
    sim::TDongleOptions silent;
    silent.version.reset();
    sim::TDongleSimulator quiet(silent);
    quiet.Start();
    const TProcessResult r = RunProcess(WCT_BINARY, {"--port", quiet.PortPath(), "find"}, 60000);
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_NE(r.err.find("no dongle found"), std::string::npos);
    EXPECT_LT(r.elapsedMs, 15000);
}

// The search waits for the dongle's answer as long as --reply-timeout says, 200 ms when
// it is not given, and no longer than the answer takes.
TEST_F(WctCliTest, FindWaitsForTheDonglesAnswerAsLongAsTheReplyTimeoutSays) {
    struct Case {
        uint32_t answerDelayMs;
        std::vector<std::string> options;
        int exitCode;
    };
    const std::vector<Case> cases = {
        {400, {}, 3},
        {200, {"--reply-timeout", "3000"}, 0},
        {400, {"--reply-timeout", "3000"}, 0},
        {400, {"--reply-timeout", "100"}, 3},
    };
    for (const Case& c : cases) {
        sim::TDongleSimulator slow(sim::TDongleOptions{});
        sim::TLinkFaults faults;
        faults.replyDelayMs = c.answerDelayMs;
        slow.SetLinkFaults(faults);
        slow.Start();
        std::vector<std::string> args = {"--port", slow.PortPath(), "find"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const TProcessResult r = RunProcess(WCT_BINARY, args, 60000);
        const std::string line = ::testing::PrintToString(args) + " answering after " +
                                 std::to_string(c.answerDelayMs) + " ms";
        EXPECT_EQ(r.exitCode, c.exitCode) << line << r.err;
        if (c.exitCode == 0) {
            EXPECT_EQ(r.out, slow.PortPath() + "\n") << line;
        }
    }
}

TEST_F(WctCliTest, ConsolesListsEveryRegisteredConsole) {
    const TProcessResult r = Wct({"--wait", "600", "consoles"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 4u) << r.out;
    EXPECT_EQ(lines[0], "id version serial firmware total_rolls connected used");
    EXPECT_EQ(lines[3].substr(0, 20), "3 16 1049395 2.3 0 y");
}

TEST_F(WctCliTest, ReadPrintsTheBytesAsHex) {
    const TProcessResult r = Wct({"read", "--console", "3", "--address", "0x0010", "--count", "2"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "AA 55\n");
}

TEST_F(WctCliTest, ReadPageGivesTwoHundredFiftySixLinesOfEightBytes) {
    const TProcessResult r = Wct({"read-page", "--console", "3", "--address", "0"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 256u);
    EXPECT_EQ(lines[2], "0010: AA 55 00 00 00 00 00 00");
    size_t bytes = 0;
    for (const auto& line : lines) bytes += (line.size() - 5) / 3;
    EXPECT_EQ(bytes, 2048u);
}

TEST_F(WctCliTest, WriteChangesTheConsolesMemoryAndAReadOnlyOneRefuses) {
    TProcessResult r = Wct({"write", "--console", "3", "--address", "0x40", "C0FFEE"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = Wct({"read", "--console", "3", "--address", "0x40", "--count", "3"});
    EXPECT_EQ(r.out, "C0 FF EE\n");
    r = Wct({"write", "--console", "2", "--address", "0x40", "01"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("refused"), std::string::npos);
}

TEST_F(WctCliTest, TestsExitZeroOnAckAndOneOnNackOrSilence) {
    for (const char* test : {"keys", "clock"})
        EXPECT_EQ(Wct({"test", test, "--console", "2"}).exitCode, 0) << test;
    EXPECT_EQ(Wct({"test", "cardio", "--console", "1"}).exitCode, 1);
    const TProcessResult silent = Wct({"test", "signals", "--console", "1"});
    EXPECT_EQ(silent.exitCode, 1);
    EXPECT_NE(silent.err.find("1500 ms"), std::string::npos);
    EXPECT_EQ(Wct({"test", "signals", "--console", "2"}).exitCode, 0);
}

TEST_F(WctCliTest, RollsPrintsTheTotal) {
    const TProcessResult r = Wct({"rolls", "--console", "2"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.find_first_not_of("0123456789\n"), std::string::npos) << r.out;
    EXPECT_EQ(Wct({"reset-rolls", "--console", "2"}).exitCode, 0);
    EXPECT_EQ(Wct({"rolls", "--console", "2"}).out, "0\n");
}

TEST_F(WctCliTest, MeasureCsvGivesAHeaderAndRowsForEveryConsoleEverySecond) {
    const TProcessResult r = Wct({"measure", "--seconds", "2", "--csv"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto lines = Lines(r.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "time_ms,console,rpm,kmh,heart_rate,cadence,keys");
    for (const char* console : {",1,", ",2,", ",3,"}) {
        const auto rows = std::count_if(lines.begin(), lines.end(), [&](const std::string& l) {
            return l.find(console) != l.npos;
        });
        EXPECT_GE(rows, 2) << console;
    }
    EXPECT_TRUE(SimReceived("3E130001000021"));  // stop measure at the end
}

TEST_F(WctCliTest, ResistanceSendingReachesTheDongle) {
    const TProcessResult r =
        Wct({"resistance", "--set", "1=0x28", "--set", "3=7", "--seconds", "2"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(SimReceived("3E100004002800070021"));
}

TEST_F(WctCliTest, ResistanceHoldsAConsoleAboveMaxHrAtZeroAndSaysWhyOnce) {
    simulator->SetRider(1, {1000, 230, 80});
    const TProcessResult cut = Wct({"--trace", "-", "resistance", "--set", "1=0x80", "--set",
                                    "3=7", "--seconds", "3"});
    EXPECT_EQ(cut.exitCode, 0) << cut.err;
    EXPECT_TRUE(SimReceived("3E100004000000070021"));
    EXPECT_FALSE(SimReceived("3E100004008000070021")) << "console 1 got its level";
    const std::vector<std::string> lines = Lines(cut.out);
    const auto told = std::count_if(lines.begin(), lines.end(), [](const std::string& l) {
        return l.find("Console 1: heart rate 230 above 220: brake held at 0") != l.npos;
    });
    EXPECT_EQ(told, 1) << cut.out;
    simulator->SetRider(1, {1000, 120, 80});
}

// Console 1 stops sending once the measuring is under way, without leaving, and sends
// again after some 4 s of console 2's frames.
TEST_F(WctCliTest, MeasureSaysOnceWhenAConsoleFallsSilentAndWhenItSendsAgain) {
    int silencedAt = -1;
    bool back = false;
    const TProcessResult r = RunProcess(
        WCT_BINARY, {"--port", simulator->PortPath(), "measure", "--seconds", "8"}, 60000,
        [&](int, const std::string& out) {
            const std::vector<std::string> lines = Lines(out);
            const auto fromTwo = std::count_if(lines.begin(), lines.end(), [](const auto& l) {
                return l.find(" 2 ") != l.npos;
            });
            if (silencedAt < 0 && fromTwo > 0) {
                simulator->SetReporting(1, false);
                silencedAt = static_cast<int>(fromTwo);
            } else if (silencedAt >= 0 && !back && fromTwo >= silencedAt + 16) {
                simulator->SetReporting(1, true);
                back = true;
            }
        });
    simulator->SetReporting(1, true);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    ASSERT_TRUE(back) << r.out;
    const std::vector<std::string> err = Lines(r.err);
    EXPECT_EQ(std::count(err.begin(), err.end(), "wct: console 1 is silent: no measures for 2000 ms"),
              1)
        << r.err;
    EXPECT_EQ(std::count(err.begin(), err.end(), "wct: console 1 sends measures again"), 1) << r.err;
}

TEST_F(WctCliTest, AHandTypedResistanceFrameGoesAsTypedAndTheTraceSaysSo) {
    const TProcessResult r = Wct({"--trace", "-", "--wait", "200", "send", "3E10000200900021"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("past the heart-rate interlock"), std::string::npos) << r.out;
}

TEST_F(WctCliTest, SendTracesTheRepliesToAHandTypedFrame) {
    const TProcessResult r = Wct({"--wait", "500", "send", "3E0A00000021"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("<-3E0A0001780021 Version Nbr.= 0x78 ID = 0"), std::string::npos) << r.out;
}

TEST_F(WctCliTest, RemoveAllMakesTheConsolesLeave) {
    ASSERT_EQ(Wct({"remove", "--console", "all"}).exitCode, 0);
    EXPECT_TRUE(SimReceived("3E06FF000021"));
    EXPECT_EQ(Wct({"rolls", "--console", "1"}).exitCode, 1);  // gone: no answer
    JoinConsoles(3);                                          // back for the other tests
}

TEST_F(WctCliTest, FindRunTwiceInARowOnTheSamePortSucceedsBothTimes) {
    // The port is given up for exclusive use on close, so a user without root can reopen.
    for (int run = 0; run < 2; ++run) {
        const TProcessResult r = Wct({"find"});
        EXPECT_EQ(r.exitCode, 0) << "run " << run << ": " << r.err;
    }
}

// A dongle of its own for a test that unplugs it or changes its measures.
class WctCliOwnDongle : public ::testing::Test {
protected:
    void SetUp() override {
        sim::TDongleOptions options;
        for (uint8_t id = 1; id <= 2; ++id) {
            options.consoles.push_back(sim::DefaultConsole(id));
            options.consoles.back().joinedAtStart = true;
        }
        sim::TSimSettings settings;
        settings.log = [this](const std::string& line) {
            std::lock_guard lock(logMutex);
            log.push_back(line);
        };
        simulator = std::make_unique<sim::TDongleSimulator>(options, settings);
        simulator->Start();
    }
    std::string Written() {
        std::lock_guard lock(logMutex);
        std::string hex;
        for (const std::string& line : log)
            if (line.rfind("-> ", 0) == 0) hex += line.substr(3);
        return hex;
    }
    std::mutex logMutex;  // protects log
    std::vector<std::string> log;
    std::unique_ptr<sim::TDongleSimulator> simulator;
};

TEST_F(WctCliOwnDongle, MeasureSaysDongleLostAndExitsThreeSoonAfterTheDongleVanishes) {
    // Vanishes once the first measures line is out.
    const TProcessResult r =
        RunProcess(WCT_BINARY, {"--port", simulator->PortPath(), "measure", "--seconds", "10"},
                   30000, [this, vanished = false](int, const std::string& out) mutable {
                       if (vanished || out.find('\n') == std::string::npos) return;
                       simulator->Vanish();
                       vanished = true;
                   });
    EXPECT_EQ(r.exitCode, 3) << r.err;
    EXPECT_NE(r.err.find("dongle lost"), std::string::npos) << r.err;
    EXPECT_LT(r.elapsedMs, 3000 + 1000);
    EXPECT_FALSE(r.out.empty());  // it measured until then
}

TEST_F(WctCliOwnDongle, MeasurePrintsFramesWhosePayloadHoldsAStopByte) {
    sim::TDongleFaults faults;
    faults.measuresHold0x21 = true;
    simulator->SetFaults(faults);
    const TProcessResult r = RunProcess(
        WCT_BINARY, {"--port", simulator->PortPath(), "measure", "--seconds", "2", "--csv"}, 30000);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto lines = Lines(r.out);
    ASSERT_GE(lines.size(), 5u);
    for (size_t i = 1; i < lines.size(); ++i) {
        std::vector<std::string> fields;
        std::istringstream row(lines[i]);
        for (std::string field; std::getline(row, field, ',');) fields.push_back(field);
        ASSERT_EQ(fields.size(), 7u) << lines[i];
        EXPECT_EQ(std::stoi(fields[2]) & 0xFF, 0x21) << lines[i];
    }
    // Every measures frame sent, but those still on the line when measuring stopped. The
    // simulator logs a frame after writing it: its log is whole once its thread ended.
    simulator->Stop();
    const std::string written = Written();
    size_t sent = 0;
    for (size_t at = 0; (at = written.find("3E0101", at)) != std::string::npos; at += 6) ++sent;
    for (size_t at = 0; (at = written.find("3E0102", at)) != std::string::npos; at += 6) ++sent;
    EXPECT_GE(lines.size() - 1 + 2, sent);
    EXPECT_LE(lines.size() - 1, sent);
}

TEST(WctCliRegister, PrintsEachConsoleThatJoinsAndFailsWhenTooFewDo) {
    sim::TDongleOptions options;
    options.consoles = {sim::DefaultConsole(4), sim::DefaultConsole(9)};
    options.joinDelayMs = 50;
    sim::TDongleSimulator dongle(options);
    dongle.Start();
    const std::string port = dongle.PortPath();
    TProcessResult r = RunProcess(WCT_BINARY, {"--port", port, "register", "--count", "2"}, 60000);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "4 16 1049668\n9 16 1051033\n");
    r = RunProcess(WCT_BINARY, {"--port", port, "--wait", "1000", "register"}, 60000);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("0 of 1 consoles joined within 1000 ms"), std::string::npos) << r.err;
}

TEST(WctCliSimulate, TheBuiltInSimulatorHasRegisteredConsolesAndNewOnesToJoin) {
    TProcessResult r = RunProcess(WCT_BINARY, {"--simulate", "measure", "--seconds", "1"}, 60000);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const char* console : {" 1 ", " 4 "}) EXPECT_NE(r.out.find(console), std::string::npos);
    r = RunProcess(WCT_BINARY, {"--simulate", "register", "--count", "2"}, 60000);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "5 16 1049941\n6 16 1050214\n");
}

TEST(WctCliUsage, BadCommandLinesExitTwoWithAMessage) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"fly"}, "unknown command 'fly'"},
        {{"read", "--console", "256", "--address", "0", "--count", "1"}, "outside 0..255"},
        {{"write", "--console", "1", "--address", "0", "ZZ"}, "is not hex"},
        {{"send", "3E0"}, "caratteri dispari"},
        {{"read", "--console"}, "--console needs a value"},
        {{"read", "--console", "1", "--address", "0"}, "read needs --count"},
        {{"test", "wheels", "--console", "1"}, "unknown test 'wheels'"},
        {{"measure"}, "measure needs --seconds"},
        {{"--port"}, "--port needs a value"},
        {{}, "no command given"},
    };
    for (const Case& c : cases) {
        const TProcessResult r = RunProcess(WCT_BINARY, c.args, 10000);
        EXPECT_EQ(r.exitCode, 2) << c.message;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("usage: wct"), std::string::npos);
    }
}

TEST(WctCliOptions, NumbersAreDecimalOrHexWithinTheirRange) {
    EXPECT_EQ(cli::ParseNumber("0x10", "n", 0, 255), 16);
    EXPECT_EQ(cli::ParseNumber("16", "n", 0, 255), 16);
    EXPECT_THROW(cli::ParseNumber("0x", "n", 0, 255), cli::EUsage);
    EXPECT_THROW(cli::ParseNumber("-1", "n", 0, 255), cli::EUsage);
    EXPECT_THROW(cli::ParseNumber("99999999999999", "n", 0, 255), cli::EUsage);
    EXPECT_EQ(cli::ParseCommandLine({"remove", "--console", "all"}).console, 255);
    EXPECT_THROW(cli::ParseCommandLine({"find", "--console", "1"}), cli::EUsage);
    EXPECT_THROW(
        cli::ParseCommandLine({"write", "--console", "1", "--address", "0", "001122334455667788"}),
        cli::EUsage);
}

}  // namespace
}  // namespace wct
