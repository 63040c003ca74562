// SPDX-License-Identifier: Apache-2.0
// The check runner on the protocol component against the dongle simulator, in virtual
// time: every idle turn of the main thread moves the clock on, and the simulator keeps in
// step with it.
#include "check/check_runner.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "check/report_schema.h"
#include "common/hex.h"
#include "common/main_thread.h"
#include "common/tick_count.h"
#include "protocol/wireless_frame.h"
#include "protocol/wireless_protocol.h"
#include "serial/port_inventory.h"
#include "sim/dongle_simulator.h"

namespace wct::check {
namespace {

using namespace std::string_literals;

class CheckRunnerTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetPortSource([] { return std::vector<std::string>{}; });
        plan = ParsePlan(R"(
            name = "quick"
            reply_timeout_ms = 300
            [[step]]
            kind = "identity"
            firmware = ["2.3"]
            [[step]]
            kind = "keys"
            [[step]]
            kind = "cardio"
            [[step]]
            kind = "signals"
            [[step]]
            kind = "clock"
            [[step]]
            kind = "memory"
            address = 0x20
            pattern = "A55A"
            [[step]]
            kind = "total_rolls"
            [[step]]
            kind = "radio"
            seconds = 1
        )",
                         "quick.toml");
    }
    void TearDown() override {
        SetPortSource(nullptr);
        std::filesystem::remove_all(journal.Dir());
    }

    // Consoles 1 to `count`, all registered, the last one with `change` applied.
    void Start(int count, void (*change)(sim::TConsoleConfig&) = nullptr) {
        sim::TDongleOptions options;
        for (int id = 1; id <= count; ++id) {
            options.consoles.push_back(sim::DefaultConsole(static_cast<uint8_t>(id)));
            options.consoles.back().joinedAtStart = true;
            options.consoles.back().memory[0x20] = 0x11;
        }
        if (change != nullptr) change(options.consoles.back());
        sim::TSimSettings settings;
        settings.clock = &clock;
        simulator = std::make_unique<sim::TDongleSimulator>(options, settings);
        simulator->Start();
        protocol.SetPortDef(simulator->PortPath());
        ASSERT_TRUE(protocol.FindDongle());
    }

    TCheckRun Run(std::vector<uint8_t> consoles) {
        TCheckRunner runner(protocol, plan, {"bench-1", "anna"});
        runner.OnStep = [&](const TCheckRecord& r, const TStepResult& s) {
            if (onStep) onStep(r, s);
        };
        runner.Interrupted = [&] { return interrupt; };
        runner.Journal = &journal;
        return runner.Run(consoles);
    }

    TMemoryJournal journal{(std::filesystem::temp_directory_path() /
                            ("wct-held-" + std::to_string(getpid()) + "-" +
                             ::testing::UnitTest::GetInstance()->current_test_info()->name()))
                               .string()};

    // "name=OUTCOME" of every step, in order.
    static std::vector<std::string> Outcomes(const TCheckRecord& r) {
        std::vector<std::string> list;
        for (const TStepResult& s : r.steps) list.push_back(s.name + "=" + OutcomeText(s.outcome));
        return list;
    }
    // The console's memory at 0x20, read through the protocol.
    std::string Memory(uint8_t id) {
        EXPECT_TRUE(protocol.ReadValue(id, 0x20, 2));
        const auto& data = protocol.Consoles()[id].Data;
        return std::string{static_cast<char>(data[0]), static_cast<char>(data[1])};
    }

    sim::TPacedClock clock{100000, 2};
    TCheckPlan plan;
    std::unique_ptr<sim::TDongleSimulator> simulator;
    TMiraWirelessProtocol protocol;
    std::function<void(const TCheckRecord&, const TStepResult&)> onStep;
    bool interrupt = false;
};

TEST_F(CheckRunnerTest, AnAnsweringConsolePassesEveryStepAndKeepsItsMemory) {
    Start(1);
    const TCheckRun run = Run({1});
    ASSERT_EQ(run.records.size(), 1u);
    const TCheckRecord& r = run.records[0];
    EXPECT_EQ(Outcomes(r), (std::vector<std::string>{"identity=PASS", "keys=PASS", "cardio=PASS",
                                                     "signals=PASS", "clock=PASS", "memory=PASS",
                                                     "total_rolls=PASS", "radio=PASS"}));
    EXPECT_EQ(r.outcome, TOutcome::Pass);
    EXPECT_EQ(r.serial, 0x100111);
    EXPECT_EQ(r.firmware, "2.3");
    EXPECT_EQ(r.steps[0].value, "16/1048849/2.3");
    EXPECT_EQ(r.steps[5].value, "A55A");
    EXPECT_EQ(r.operatorName, "anna");
    EXPECT_EQ(r.runId, run.id);
    EXPECT_EQ(Memory(1), "\x11\x00"s);
    // The plan's reply time-out lasted as long as the run.
    EXPECT_EQ(protocol.ReplyTimeOut(), 15000);
    EXPECT_EQ(test::SchemaErrors(RunToJson(run)), "");
}

// Firmware versions are compared part by part, as numbers: a plan's "2.03" is 2.3.
TEST_F(CheckRunnerTest, AllowedFirmwareIsComparedAsVersionNumbers) {
    struct TCase {
        const char* allowed;
        TOutcome outcome;
        const char* limits;
    };
    const TCase cases[] = {
        {R"(["2.3"])", TOutcome::Pass, "firmware=2.3"},
        {R"(["2.03"])", TOutcome::Pass, "firmware=2.3"},
        {R"(["002.3", "3.0"])", TOutcome::Pass, "firmware=2.3|3.0"},
        {R"(["2.30"])", TOutcome::Fail, "firmware=2.30"},
        {R"(["2.4", "3.3"])", TOutcome::Fail, "firmware=2.4|3.3"},
    };
    Start(1);
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.allowed);
        plan = ParsePlan("[[step]]\nkind = \"identity\"\nfirmware = "s + c.allowed + "\n",
                         "firmware.toml");
        const TStepResult identity = Run({1}).records.at(0).steps.at(0);
        EXPECT_EQ(identity.outcome, c.outcome) << identity.message;
        EXPECT_EQ(identity.limits, c.limits);
    }
}

TEST_F(CheckRunnerTest, ARefusedTestFailsThatStepOnlyAndSilenceIsAnError) {
    Start(1, [](sim::TConsoleConfig& c) {
        c.refused = {mcTestKeys};
        c.testAnswers[mcTestSignals] = sim::TTestAnswer::None;
    });
    int nacksSeenByOwner = 0;
    protocol.OnNAck = [&](uint8_t, uint8_t) { ++nacksSeenByOwner; };
    const TCheckRecord r = Run({1}).records.at(0);
    EXPECT_EQ(Outcomes(r), (std::vector<std::string>{"identity=PASS", "keys=FAIL", "cardio=PASS",
                                                     "signals=ERROR", "clock=PASS", "memory=PASS",
                                                     "total_rolls=PASS", "radio=PASS"}));
    EXPECT_EQ(r.steps[1].value, "NACK");
    EXPECT_EQ(r.steps[3].message, "no answer to the signals test within 300 ms");
    EXPECT_EQ(r.outcome, TOutcome::Error);
    EXPECT_EQ(nacksSeenByOwner, 1);
}

TEST_F(CheckRunnerTest, AWriteThatDoesNotStickFailsMemoryAndAnOtherFirmwareFailsIdentity) {
    Start(1, [](sim::TConsoleConfig& c) {
        c.writesLost = true;
        c.firmwareMinor = 4;
    });
    const TCheckRecord r = Run({1}).records.at(0);
    EXPECT_EQ(r.steps[0].outcome, TOutcome::Fail);
    EXPECT_EQ(r.steps[0].limits, "firmware=2.3");
    EXPECT_EQ(r.steps[5].outcome, TOutcome::Fail);
    EXPECT_EQ(r.steps[5].value, "1100");
    EXPECT_EQ(r.steps[5].limits, "=A55A");
    EXPECT_EQ(r.outcome, TOutcome::Fail);
}

// The memory step on a console holding 11 00 at 0x20: whatever the plan's pattern, what
// is written differs from what was held, and a restore that fails is told.
TEST_F(CheckRunnerTest, TheMemoryStepWritesWhatTheConsoleDidNotHoldAndTellsAFailedRestore) {
    struct TCase {
        const char* name;
        const char* pattern;
        bool writesLost;
        bool silentAfterWrite;  // the dongle sends nothing once the pattern was acknowledged
        bool stopAfterWrite;    // the run is stopped once the pattern was acknowledged
        TOutcome outcome;
        const char* value;
        const char* limits;
        const char* message;  // a part of it; "" for none
        const char* noted;    // what the journal holds for the console afterwards
    };
    const TCase cases[] = {
        {"other pattern", "A55A", false, false, false, TOutcome::Pass, "A55A", "=A55A", "", ""},
        {"held pattern", "1100", false, false, false, TOutcome::Pass, "EEFF", "=EEFF", "", ""},
        {"held pattern, writes lost", "1100", true, false, false, TOutcome::Fail, "1100", "=EEFF",
         "the pattern did not stick at 0020", ""},
        {"other pattern, writes lost", "A55A", true, false, false, TOutcome::Fail, "1100", "=A55A",
         "the pattern did not stick", ""},
        {"stopped after the write", "A55A", false, false, true, TOutcome::Pass, "A55A", "=A55A", "",
         ""},
        {"silent after the write", "A55A", false, true, false, TOutcome::Error, "none", "=A55A",
         "no answer to the read back within 300 ms; no answer to the restoring write within "
         "300 ms; held 1100 at 0020, not restored",
         "1100"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string step = "[[step]]\nkind = \"memory\"\naddress = 0x20\npattern = ";
        plan = ParsePlan("reply_timeout_ms = 300\n" + step + '"' + c.pattern + "\"\n", "m.toml");
        Start(1, c.writesLost ? +[](sim::TConsoleConfig& k) { k.writesLost = true; } : nullptr);
        interrupt = false;
        protocol.OnAck = [&] {
            if (c.silentAfterWrite) simulator->SetLinkFaults({.dropFraction = 1});
            interrupt = interrupt || c.stopAfterWrite;
        };
        const TStepResult memory = Run({1}).records.at(0).steps.at(0);
        EXPECT_EQ(memory.outcome, c.outcome) << memory.message;
        EXPECT_EQ(memory.value, c.value);
        EXPECT_EQ(memory.limits, c.limits);
        EXPECT_NE(memory.message.find(c.message), std::string::npos) << memory.message;
        // The plan has no identity step: the console is known by its ID.
        EXPECT_EQ(BytesToHex(journal.Held("console-1", 0x20).value_or("")), c.noted);
        journal.Release("console-1", 0x20);
        protocol.OnAck = nullptr;
        simulator->SetLinkFaults({});
        if (!c.silentAfterWrite) {
            EXPECT_EQ(Memory(1), "\x11\x00"s);
        }
        protocol.Disconnect();
        simulator.reset();
    }
}

TEST_F(CheckRunnerTest, AConsoleThatLeavesGetsErrorsOnTheStepsItMissedAndTheRunGoesOn) {
    Start(2);
    onStep = [&](const TCheckRecord& r, const TStepResult& s) {
        if (r.console == 1 && s.name == "keys") simulator->Leave(1);
    };
    const TCheckRun run = Run({1, 2});
    ASSERT_EQ(run.records.size(), 2u);
    const TCheckRecord& left = run.records[0];
    EXPECT_EQ(left.outcome, TOutcome::Error);
    EXPECT_EQ(left.message, "console left");
    EXPECT_EQ(left.steps[1].outcome, TOutcome::Pass);
    // The step under way when the console left erred by silence, at worst.
    for (size_t i = 3; i < left.steps.size(); ++i) {
        EXPECT_EQ(left.steps[i].outcome, TOutcome::Error) << left.steps[i].name;
        EXPECT_EQ(left.steps[i].message, "console left") << left.steps[i].name;
    }
    EXPECT_EQ(run.records[1].outcome, TOutcome::Pass);
}

TEST_F(CheckRunnerTest, AnInterruptionEndsTheRunWithTheCurrentRecordInError) {
    Start(2);
    onStep = [&](const TCheckRecord&, const TStepResult& s) {
        if (s.name == "cardio") interrupt = true;
    };
    const TCheckRun run = Run({1, 2});
    EXPECT_TRUE(run.interrupted);
    ASSERT_EQ(run.records.size(), 1u);
    const TCheckRecord& r = run.records[0];
    EXPECT_EQ(r.outcome, TOutcome::Error);
    EXPECT_EQ(r.message, "interrupted");
    ASSERT_EQ(r.steps.size(), 8u);
    EXPECT_EQ(r.steps[2].outcome, TOutcome::Pass);
    EXPECT_EQ(r.steps[3].message, "interrupted");
    EXPECT_EQ(r.steps[7].outcome, TOutcome::Error);
}

// A PC busy elsewhere for a second, twice, reads late and in bursts; consoles 1 and 2
// keep their rate, console 3 loses two frames in five on the radio.
TEST_F(CheckRunnerTest, TheRadioStepJudgesWhatAConsoleSentNotHowLateThePcReadIt) {
    plan = ParsePlan(R"(
        [[step]]
        kind = "radio"
        seconds = 5
    )",
                     "radio.toml");
    Start(3, [](sim::TConsoleConfig& c) { c.radioLoss = 0.4; });
    const uint32_t begun = GetTickCount();
    // Once in the window, once across its end: nothing is read meanwhile.
    std::vector<uint32_t> stalls = {1000, 4500};
    int seenByOwner = 0;
    protocol.OnMeasuresReceived = [&](const TMiraWirelessConsoleMeasures&, uint8_t) {
        ++seenByOwner;
        if (!stalls.empty() && GetTickCount() - begun >= stalls.front()) {
            stalls.erase(stalls.begin());
            clock.Advance(1000);
        }
    };
    const TCheckRun run = Run({1, 2, 3});
    ASSERT_EQ(run.records.size(), 3u);
    EXPECT_TRUE(stalls.empty());
    for (int i = 0; i < 2; ++i) {
        const TStepResult& radio = run.records[i].steps.at(0);
        EXPECT_EQ(radio.outcome, TOutcome::Pass) << radio.value << " " << radio.message;
        EXPECT_NE(radio.value.find(",lost=0.0%"), std::string::npos) << radio.value;
        EXPECT_EQ(radio.limits, "rate>=3.60fps,lost<5.0%");
        ASSERT_EQ(radio.measures.size(), 2u);
        EXPECT_EQ(radio.measures[0].unit, "fps");
        EXPECT_EQ(radio.measures[1].value, 0);
    }
    const TStepResult& lossy = run.records[2].steps.at(0);
    EXPECT_EQ(lossy.outcome, TOutcome::Fail) << lossy.value;
    ASSERT_EQ(lossy.measures.size(), 2u);
    EXPECT_GE(lossy.measures[1].value, 5) << lossy.value;
    EXPECT_GT(seenByOwner, 50) << "the owner's handler kept getting the measures";
}

TEST_F(CheckRunnerTest, ARadioStepWhoseDongleLeavesTheCountUnansweredIsAnError) {
    plan = ParsePlan(R"(
        reply_timeout_ms = 300
        [[step]]
        kind = "radio"
        seconds = 1
    )",
                     "radio.toml");
    Start(1);
    simulator->SetLinkFaults({.dropFraction = 1});
    const TStepResult radio = Run({1}).records.at(0).steps.at(0);
    EXPECT_EQ(radio.outcome, TOutcome::Error);
    EXPECT_EQ(radio.message, "no answer to the console count request within 300 ms");
}

}  // namespace
}  // namespace wct::check
