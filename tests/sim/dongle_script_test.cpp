// SPDX-License-Identifier: Apache-2.0
// Scripted consoles of the dongle simulator: fixed figures, keys on demand, silence,
// leaving and coming back, and the script language of wct-sim.
#include <gtest/gtest.h>

#include <memory>

#include "sim/dongle_simulator.h"
#include "sim/slave_port.h"

namespace wct::sim {
namespace {

using test::Bytes;
using test::TSlavePort;

constexpr int kReplyMs = 1000;
const std::string kOpenRegistration = Bytes({0x3E, 0x02, 0x00, 0x00, 0x00, 0x21});
const std::string kStartMeasure = Bytes({0x3E, 0x13, 0x00, 0x01, 0x01, 0x00, 0x21});

TEST(RiderScript, ReadsTheFiguresInAnyOrderAndLeavesOutMissingOnes) {
    auto [id, rider] = ParseRiderScript("3:cad=90,rpm=1000,hr=140");
    EXPECT_EQ(id, 3);
    EXPECT_EQ(rider.rpm, 1000);
    EXPECT_EQ(rider.heartRate, 140);
    EXPECT_EQ(rider.cadence, 90);
    std::tie(id, rider) = ParseRiderScript("254:hr=30");
    EXPECT_EQ(id, 254);
    EXPECT_EQ(rider.rpm, 0);
    EXPECT_EQ(rider.heartRate, 30);
    std::tie(id, rider) = ParseRiderScript("1:");
    EXPECT_EQ(rider.cadence, 0);
}

TEST(RiderScript, RefusesWhatItCannotReadAndSaysWhy) {
    const std::vector<std::pair<std::string, std::string>> wrong = {
        {"rpm=1000", "wanted ID:rpm=R,hr=H,cad=C"},
        {"0:rpm=1", "console IDs start at 1"},
        {"255:rpm=1", "is not a number from 0 to 254"},
        {"1:rpm=65536", "rpm '65536' is not a number from 0 to 65535"},
        {"1:hr=256", "from 0 to 255"},
        {"1:speed=3", "unknown key 'speed'"},
        {"1:rpm=1,rpm=2", "'rpm=2' is not one new"},
        {"1:rpm", "'rpm' is not one new"},
        {"1:cad=-1", "cad '-1'"},
    };
    for (const auto& [text, message] : wrong) {
        try {
            ParseRiderScript(text);
            ADD_FAILURE() << text << " accepted";
        } catch (const std::invalid_argument& e) {
            EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
        }
    }
}

// Two registered consoles measuring at 20 Hz, the first one scripted.
class ScriptedConsoles : public ::testing::Test {
protected:
    void SetUp() override {
        TDongleOptions options;
        options.joinDelayMs = 10;
        options.measureRate = 20;
        for (uint8_t id = 1; id <= 2; ++id) {
            options.consoles.push_back(DefaultConsole(id));
            options.consoles.back().joinedAtStart = true;
        }
        TSimSettings settings;
        settings.log = log.Sink();
        sim = std::make_unique<TDongleSimulator>(options, settings);
        sim->SetRider(1, {1000, 120, 85});
        sim->Start();
        port = std::make_unique<TSlavePort>(sim->PortPath());
        port->Write(kStartMeasure);
    }
    // The next measures frame of console `id`.
    std::string NextMeasures(uint8_t id) {
        for (int i = 0; i < 20; ++i) {
            for (const std::string& frame : port->ReadFrames(1, kReplyMs))
                if (frame[1] == 0x01 && frame[2] == id) return frame;
        }
        return {};
    }
    // The first measures frame of console `id` that differs from `before`: frames sent
    // before a change may still wait on the line.
    std::string ChangedMeasures(uint8_t id, const std::string& before) {
        for (int i = 0; i < 20; ++i) {
            std::string frame = NextMeasures(id);
            if (frame != before) return frame;
        }
        return {};
    }

    test::TLogLines log;
    std::unique_ptr<TDongleSimulator> sim;
    std::unique_ptr<TSlavePort> port;
};

TEST_F(ScriptedConsoles, AScriptedRiderReportsExactlyItsFigures) {
    const std::string first = NextMeasures(1);
    EXPECT_EQ(first, Bytes({0x3E, 0x01, 0x01, 0x05, 0x03, 0xE8, 120, 85, 0, 0x00, 0x21}));
    sim->SetRider(1, {300, 0, 0});
    const std::string changed = Bytes({0x3E, 0x01, 0x01, 0x05, 0x01, 0x2C, 0, 0, 0, 0x00, 0x21});
    EXPECT_EQ(ChangedMeasures(1, first), changed);
    EXPECT_EQ(NextMeasures(1), changed);
}

TEST_F(ScriptedConsoles, KeysPressedOnDemandGoOutOnceInTheNextMeasures) {
    const std::string before = NextMeasures(1);
    sim->PressKeys(1, 0x05);
    EXPECT_EQ(ChangedMeasures(1, before)[8], 0x05);
    EXPECT_EQ(NextMeasures(1)[8], 0x00);
}

TEST_F(ScriptedConsoles, ASilentConsoleStaysJoinedButSendsNothing) {
    sim->SetReporting(2, false);
    port->ReadFor(100);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(NextMeasures(1)[2], 1);
    const std::string quiet = port->ReadFor(300);
    for (const std::string& frame : test::DongleFrames(quiet)) EXPECT_NE(frame[2], 2);
    sim->SetReporting(2, true);
    EXPECT_FALSE(NextMeasures(2).empty());
}

TEST_F(ScriptedConsoles, AConsoleThatLeavesIsReportedRemovedAndJoinsOnlyWhenBack) {
    sim->Leave(2);
    EXPECT_NE(port->ReadUntil(
                      [](const std::string& d) {
                          return d.find(Bytes({0x3E, 0x06, 0x00, 0x01, 0x02})) != d.npos;
                      },
                      kReplyMs)
                  .find(Bytes({0x3E, 0x06, 0x00, 0x01, 0x02, 0x00, 0x21})),
              std::string::npos);
    port->Write(kOpenRegistration);
    const std::string away = port->ReadFor(300);
    EXPECT_EQ(away.find(Bytes({0x3E, 0x05})), std::string::npos) << "out of reach: no join";
    for (const std::string& frame : test::DongleFrames(away)) EXPECT_NE(frame[2], 2);

    sim->ComeBack(2);
    const std::string back = port->ReadUntil(
        [](const std::string& d) {
            return d.find(Bytes({0x3E, 0x05})) != d.npos;
        },
        kReplyMs);
    EXPECT_NE(back.find(Bytes({0x3E, 0x05, 0x00, 0x01, 0x02, 0x00, 0x21})), std::string::npos);
    EXPECT_FALSE(NextMeasures(2).empty());
}

TEST_F(ScriptedConsoles, TheBrakeLevelIsTheLastResistanceFrames) {
    EXPECT_EQ(sim->Brake(2), 0);
    const std::string resistances = Bytes({0x3E, 0x10, 0x00, 0x03, 0x00, 0x11, 0x72, 0x00, 0x21});
    port->Write(resistances);
    ASSERT_TRUE(log.WaitFor("<- " + BytesToHex(resistances), kReplyMs));
    EXPECT_EQ(sim->Brake(1), 0x11);
    EXPECT_EQ(sim->Brake(2), 0x72);
}

TEST_F(ScriptedConsoles, ConsolesThatDoNotExistAreRefused) {
    EXPECT_THROW(sim->SetRider(3, {}), std::invalid_argument);
    EXPECT_THROW(sim->PressKeys(9, 1), std::invalid_argument);
    EXPECT_THROW(sim->Brake(0), std::invalid_argument);
}

TEST_F(ScriptedConsoles, ScriptLinesDriveTheSameOperations) {
    sim->RunScriptLine("rider 2:rpm=2000,hr=99,cad=70");
    const std::string scripted = Bytes({0x3E, 0x01, 0x02, 0x05, 0x07, 0xD0, 99, 70, 0, 0x00, 0x21});
    std::string frame;
    for (int i = 0; i < 20 && frame != scripted; ++i) frame = NextMeasures(2);
    EXPECT_EQ(frame, scripted);
    EXPECT_EQ(NextMeasures(2), scripted);
    const std::string before = NextMeasures(2);
    sim->RunScriptLine("keys 2 0x0C");
    EXPECT_EQ(ChangedMeasures(2, before)[8], 0x0C);
    sim->RunScriptLine("silent 1");
    sim->RunScriptLine("report 1");
    EXPECT_FALSE(NextMeasures(1).empty());
    for (const char* wrong : {"keys 2", "keys 2 256", "keys x 1", "leave 0", "back", "jump 1",
                              "report 1 2", "rider 1:rpm=x", "keys 3 1"}) {
        EXPECT_THROW(sim->RunScriptLine(wrong), std::invalid_argument) << wrong;
    }
}

}  // namespace
}  // namespace wct::sim
