// SPDX-License-Identifier: Apache-2.0
// The protocol component against the dongle simulator: connection, commands, replies.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <set>

#include "common/stored_form.h"
#include "common/tick_count.h"
#include "protocol/progress_bar.h"
#include "protocol/protocol_fixture.h"
#include "protocol/wireless_frame.h"
#include "protocol/wireless_protocol.h"
#include "common/hex.h"
#include "serial/port_inventory.h"
#include "sim/dongle_simulator.h"

namespace wct {
namespace {

using test::CountSentMeasures;
using test::ProtocolSimTest;
using test::ThreeConsoles;
using test::TSimLog;

TEST_F(ProtocolSimTest, FindDongleConnectsOnThePortNamedFirst) {
    std::vector<TMiraConnectionStatus> statuses;
    protocol.OnConnectionStatus = [&](int, int, TMiraConnectionStatus s, const std::string&) {
        statuses.push_back(s);
    };
    Connect();
    EXPECT_TRUE(protocol.Connected());
    EXPECT_EQ(memo.lines.at(0), "->3E0A00000021 Version Req Console 0");
    EXPECT_TRUE(
        Traced("<-3E0A000178"
               "0021 Version Nbr.= 0x78 ID = 0"));
    EXPECT_TRUE(Traced("Connection done " + simulator->PortPath()));
    EXPECT_TRUE(Traced("->3E0900000021 Serial Req Console 0"));
    EXPECT_EQ(protocol.Consoles().at(0).Version, 0x78);
    EXPECT_TRUE(protocol.IsConsoleConnected(0));
    EXPECT_EQ(statuses, (std::vector<TMiraConnectionStatus>{cnsDongleSearch, cnsDongleFound}));
    EXPECT_TRUE(PumpUntil([&] { return protocol.Consoles()[0].Serial != 0; }, 3000))
        << memo.lines.back();
    EXPECT_EQ(protocol.Consoles()[0].Serial, 0x0A0B0C);
}

TEST_F(ProtocolSimTest, ASilentDongleIsReportedNotFoundOnEveryPort) {
    sim::TDongleOptions silent = ThreeConsoles();
    silent.version.reset();
    StartSimulator(silent);
    const std::string path = simulator->PortPath();
    SetPortSource([path] { return std::vector<std::string>{path, "/dev/wct-no-such-port"}; });
    std::vector<std::pair<TMiraConnectionStatus, std::string>> reports;
    protocol.OnConnectionStatus = [&](int, int, TMiraConnectionStatus s, const std::string& port) {
        reports.emplace_back(s, port);
    };
    EXPECT_FALSE(protocol.FindDongle());
    EXPECT_FALSE(protocol.Connected());
    EXPECT_FALSE(protocol.Port()->Connected()) << "no port without a dongle is left open";
    const auto notFound = std::count_if(reports.begin(), reports.end(),
                                        [](const auto& r) { return r.first == cnsDongleNotFound; });
    EXPECT_EQ(notFound, 2);
    EXPECT_TRUE(Traced("Connection Failed " + path));
    EXPECT_TRUE(Traced("Connection Failed /dev/wct-no-such-port"));
}

TEST_F(ProtocolSimTest, WithNoPortsAndNoDongleOnTheFirstTheProgressMaximumIsZero) {
    // Remembers the window's maximum when the search discards it.
    struct TRecordingBar : TPlainProgressBar {
        explicit TRecordingBar(int& max) : max_(max) {}
        ~TRecordingBar() override { max_ = Max(); }
        int& max_;
    };
    int finalMax = -1;
    SetProgressBarFactory([&] { return std::make_unique<TRecordingBar>(finalMax); });
    protocol.SetPortDef("/dev/wct-no-such-port");
    EXPECT_FALSE(protocol.FindDongle());
    SetProgressBarFactory(nullptr);
    EXPECT_EQ(finalMax, 0);

    // The port named first, with a dongle that never answers, and no other port.
    sim::TDongleOptions silent = ThreeConsoles();
    silent.version.reset();
    StartSimulator(silent);
    EXPECT_FALSE(protocol.FindDongle());
    EXPECT_FALSE(protocol.Port()->Connected()) << "left open, and locked for everyone else";
}

TEST_F(ProtocolSimTest, ConsolesJoinAndFindConsoleHandsOutEachOnce) {
    Connect();
    std::vector<int> added;
    protocol.OnConsoleAdd = [&](int id) { added.push_back(id); };
    protocol.OpenRegistration();
    EXPECT_TRUE(protocol.Opened());
    EXPECT_TRUE(Traced("->3E0200000021 Open Console Registration"));
    int version = 0, serial = 0;
    EXPECT_EQ(protocol.FindConsole(version, serial), 1);
    EXPECT_EQ(version, 0x10);
    EXPECT_EQ(serial, 0x100111);
    EXPECT_EQ(protocol.FindConsole(version, serial), 2);
    EXPECT_EQ(protocol.FindConsole(version, serial), 3);
    EXPECT_EQ(added, (std::vector<int>{1, 2, 3}));
    EXPECT_TRUE(protocol.Consoles()[1].Used);
    EXPECT_TRUE(Traced("<-3E020001")) << "registration reply";
    EXPECT_TRUE(Traced(" Open Dongle Cons.Nbr.="));

    protocol.SetTimeToWaitAddNewConsole(3000);
    clock.SetIdleStep(20);
    EXPECT_EQ(protocol.FindConsole(version, serial), 0);
    EXPECT_EQ(version, -1);
    EXPECT_EQ(serial, -1);
    protocol.CloseRegistration();
    EXPECT_FALSE(protocol.Opened());
}

// 400 ms is the usual answer time; a console that answers later within the reply
// time-out is still taken with its own version and serial. One later still is taken
// without its version; its serial came in while the version was awaited.
TEST_F(ProtocolSimTest, FindConsoleWaitsForALateIdentityAnswerUpToTheReplyTimeOut) {
    const struct {
        uint32_t delayMs;
        int version, serial;
        // The search, its 800 ms of "Console Found" included, waits no longer than this:
        // nothing past an answer.
        uint32_t withinMs;
    } cases[] = {{300, 0x10, 0x100111, 1700},
                 {900, 0x10, 0x100222, 2700},
                 {1300, 0, 0x100333, 2900}};
    Connect();
    protocol.SetReplyTimeOut(1000);
    Register(3);
    for (const auto& c : cases) {
        sim::TLinkFaults faults;
        faults.replyDelayMs = c.delayMs;
        simulator->SetLinkFaults(faults);
        int version = -1, serial = -1;
        const uint32_t start = GetTickCount();
        EXPECT_NE(protocol.FindConsole(version, serial), 0) << c.delayMs;
        EXPECT_LE(GetTickCount() - start, c.withinMs) << c.delayMs << " ms";
        EXPECT_EQ(version, c.version) << c.delayMs << " ms";
        EXPECT_EQ(serial, c.serial) << c.delayMs << " ms";
    }
}

TEST_F(ProtocolSimTest, MeasuresArriveForEveryJoinedConsole) {
    Connect();
    Register(3);
    std::set<int> reporting;
    protocol.OnMeasuresReceived = [&](const TMiraWirelessConsoleMeasures&, uint8_t id) {
        reporting.insert(id);
    };
    protocol.SetMeasure(true);
    EXPECT_TRUE(
        Traced("->3E1300010100"
               "21 Start Measure"));
    EXPECT_TRUE(PumpUntil([&] { return reporting.size() == 3; }, 5000));
    EXPECT_EQ(reporting, (std::set<int>{1, 2, 3}));
    EXPECT_GT((*protocol.LastMeasure())[2].Rpm, 0);
    protocol.SetMeasure(false);
    EXPECT_TRUE(
        Traced("->3E1300010000"
               "21 Stop Measure"));
}

TEST_F(ProtocolSimTest, ConsoleTestsAreTrueOnAckAndFalseOnNackOrSilence) {
    Connect();
    Register(3);
    EXPECT_TRUE(protocol.TestKeys(2));
    EXPECT_TRUE(Traced("->3E1802000021 Test Keys ID_Console=2"));
    EXPECT_TRUE(protocol.TriggerClock(1));
    EXPECT_TRUE(Traced(" Trigger Clock ID_Console= 1"));
    EXPECT_FALSE(protocol.TestCardio(2));
    EXPECT_EQ(protocol.Consoles()[2].CardioTestStatus, 2);
    EXPECT_TRUE(Traced("NACK Cmd: 19  IDConsole: 02"));

    protocol.SetReplyTimeOut(2000);
    clock.SetIdleStep(20);
    const uint32_t start = GetTickCount();
    EXPECT_FALSE(protocol.TestSignals(2));
    EXPECT_GT(GetTickCount() - start, 2000u);
    EXPECT_EQ(protocol.Consoles()[2].SignalsTestStatus, 2);
}

TEST_F(ProtocolSimTest, WaitingOperationsReturnFalseAtOnceWhenDisconnected) {
    EXPECT_FALSE(protocol.TestKeys(1));
    uint8_t data[8] = {};
    EXPECT_FALSE(protocol.WriteValue(1, 0, 1, data));
    EXPECT_FALSE(protocol.ReadValue(1, 0, 1));
    EXPECT_TRUE(memo.lines.empty());
    protocol.OpenRegistration();
    EXPECT_TRUE(protocol.Opened());  // set although nothing went out
    EXPECT_TRUE(memo.lines.empty());
}

TEST_F(ProtocolSimTest, MemoryIsReadAndWrittenWithExactFrames) {
    Connect();
    Register(3);
    ASSERT_TRUE(protocol.ReadValue(3, 0x0010, 2));
    EXPECT_TRUE(
        Traced("->3E0F0303001002"
               "0021 Read value ID_Console=3"));
    EXPECT_TRUE(
        Traced("<-3E0F030302AA55"
               "0021 Data ID=3"));
    EXPECT_EQ(protocol.Consoles()[3].DataCount, 2);
    EXPECT_EQ(protocol.Consoles()[3].Data[0], 0xAA);

    const uint8_t data[8] = {0x12, 0x34};
    ASSERT_TRUE(protocol.WriteValue(3, 0x0020, 2, data));
    EXPECT_TRUE(
        Traced("->3E0E0305002002123400"
               "21 Write value ID_Console=3"));
    ASSERT_TRUE(protocol.ReadValue(3, 0x0020, 2));
    EXPECT_EQ(protocol.Consoles()[3].Data[1], 0x34);

    ASSERT_TRUE(protocol.WriteValue(3, 0x0030, 0, data));
    EXPECT_TRUE(
        Traced("->3E0E0303003000"
               "0021"));
}

TEST_F(ProtocolSimTest, EightBytesGoOutAndLargerCountsAreRefusedWithoutSending) {
    Connect();
    Register(3);
    const uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_TRUE(protocol.WriteValue(3, 0x0040, 8, data));
    ASSERT_TRUE(protocol.ReadValue(3, 0x0040, 8));
    EXPECT_EQ(protocol.Consoles()[3].DataCount, 8);
    EXPECT_EQ(protocol.Consoles()[3].Data[7], 8);
    const size_t before = memo.lines.size();
    EXPECT_FALSE(protocol.ReadValue(3, 0, 9));
    EXPECT_FALSE(protocol.WriteValue(3, 0, 9, data));
    ASSERT_EQ(memo.lines.size(), before + 2);
    EXPECT_EQ(memo.lines[before], "## Read value refused: 9 bytes asked, at most 8");
    EXPECT_EQ(memo.lines[before + 1], "## Write value refused: 9 bytes asked, at most 8");
}

TEST_F(ProtocolSimTest, TotalRollsAreAnsweredOrMinusOne) {
    Connect();
    Register(3);
    EXPECT_EQ(protocol.RequestTotalRolls(1), 0);
    EXPECT_TRUE(Traced("->3E0B01000021 Request Total Rol ID Console=1"));
    EXPECT_EQ(protocol.RequestTotalRolls(9), -1);  // no such console: no answer
    EXPECT_EQ(protocol.Consoles().size(), 10u);
}

TEST_F(ProtocolSimTest, TotalRollsWaitForALateAnswerUpToTheReplyTimeOutAndAtLeast350Ms) {
    const struct {
        uint32_t delayMs;
        int replyTimeOut;
        int32_t total;
    } cases[] = {{300, 100, 0}, {900, 1000, 0}, {1300, 1000, -1}};  // the unanswered one last
    Connect();
    Register(3);
    for (const auto& c : cases) {
        sim::TLinkFaults faults;
        faults.replyDelayMs = c.delayMs;
        simulator->SetLinkFaults(faults);
        protocol.SetReplyTimeOut(c.replyTimeOut);
        EXPECT_EQ(protocol.RequestTotalRolls(1), c.total) << c.delayMs << " ms late";
    }
}

TEST_F(ProtocolSimTest, RemovingAllConsolesDisconnectsEveryOne) {
    Connect();
    Register(3);
    protocol.RemoveConsole(255);
    EXPECT_EQ(memo.lines.back(), "->3E06FF000021  Remove All Console");
    EXPECT_TRUE(PumpUntil([&] { return protocol.NumberOfConsole() == 0; }, 3000));
    EXPECT_FALSE(protocol.IsConsoleConnected(1));
    EXPECT_FALSE(protocol.IsConsoleConnected(3));
}

TEST_F(ProtocolSimTest, ResistancesGoOutInOneFrameAndNotAtAllWhenNoneAreStored) {
    Connect();
    Register(3);
    protocol.SendResistances();
    EXPECT_FALSE(Traced("Send resistance"));
    protocol.SetConsoleResistance(1, 0x10, 0, 0);
    protocol.SetConsoleResistance(2, 0x20, 0, 0);
    protocol.SetConsoleResistance(3, 0x30, 0, 0);
    protocol.SendResistances();
    EXPECT_EQ(memo.lines.back(),
              "->3E1000040010203000"
              "21 Send resistance/s for 3console/s");
    EXPECT_TRUE(PumpUntil(
        [&] {
            return simLog.Contains(
                "3E1000040010203000"
                "21");
        },
        2000));
    protocol.SetDebugNoData(true);
    const size_t before = memo.lines.size();
    protocol.SendResistances();
    EXPECT_EQ(memo.lines.size(), before);
}

TEST_F(ProtocolSimTest, RollControlMovesTheStateAndSendsItsFrames) {
    Connect();
    Register(2);
    protocol.SetMeasure(true);
    PumpUntil([&] { return protocol.LastMeasure()->size() >= 3; }, 5000);
    protocol.SetMeasure(false);

    protocol.StartAllRolls();
    EXPECT_EQ(protocol.RollState(), rsStarted);
    EXPECT_TRUE(Traced("->3E0C01000021 Reset Total Rol ID Console=1"));
    EXPECT_TRUE(Traced("->3E0C02000021 Reset Total Rol ID Console=2"));
    EXPECT_TRUE(protocol.ResistanceTimer().Enabled());
    EXPECT_FALSE(protocol.Opened());

    protocol.PauseAllRolls();
    EXPECT_EQ(protocol.RollState(), rsPaused);
    EXPECT_TRUE(Traced("->3E140101000021 Stop Roll ID=1"));
    const size_t before = memo.lines.size();
    protocol.StartAllRolls();  // from pause: state only
    EXPECT_EQ(protocol.RollState(), rsStarted);
    EXPECT_EQ(memo.lines.size(), before);

    protocol.StopAllRolls();
    EXPECT_EQ(protocol.RollState(), rsStopped);
    protocol.PauseAllRolls();  // stopped: nothing
    EXPECT_EQ(protocol.RollState(), rsStopped);
    protocol.StopResistanceSending();
}

TEST_F(ProtocolSimTest, AVanishedDongleIsNoticedWithoutAnyWriteAndTheNextWriteFailsAgain) {
    Connect();
    int disconnections = 0;
    protocol.OnDisconnection = [&] { ++disconnections; };
    memo.lines.clear();
    simulator->Vanish();
    ASSERT_TRUE(PumpUntil([&] { return disconnections == 1; }, 5000));
    EXPECT_EQ(memo.lines, (std::vector<std::string>{"## Port lost"}));
    EXPECT_FALSE(protocol.Port()->Connected());
    // The failure keeps Connected: the next command fails on writing and recovers again.
    EXPECT_TRUE(protocol.Connected());
    protocol.AskNumberOfConsole();
    EXPECT_TRUE(Traced("## Error in port writing"));
    EXPECT_EQ(disconnections, 2);
}

TEST_F(ProtocolSimTest, ALostPortIsTracedAfterTheTimeWhenTimeIsOn) {
    Connect();
    protocol.SetDebugTime(true);
    int disconnections = 0;
    protocol.OnDisconnection = [&] { ++disconnections; };
    memo.lines.clear();
    simulator->Vanish();
    ASSERT_TRUE(PumpUntil([&] { return disconnections == 1; }, 5000));
    ASSERT_EQ(memo.lines.size(), 1u);
    EXPECT_NE(memo.lines[0].find(" ## Port lost"), std::string::npos);
    EXPECT_NE(memo.lines[0].rfind(" ## Port lost"), 0u);
}

TEST_F(ProtocolSimTest, WithAutoConnectionTheLinkComesBackWhenTheDongleDoes) {
    // The port opens a fixed name, pointed at whatever pseudo-terminal the simulator has:
    // a dongle plugged in again under the same device name.
    char dir[] = "/tmp/wct-dongle-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string link = std::string(dir) + "/dongle";
    StartSimulator();
    ASSERT_EQ(symlink(simulator->PortPath().c_str(), link.c_str()), 0);
    protocol.SetPortDef(link);
    ASSERT_TRUE(protocol.FindDongle());
    protocol.SetAutoConnection(true);
    int disconnections = 0;
    protocol.OnDisconnection = [&] { ++disconnections; };

    simulator->Vanish();
    simulator->Return();
    ASSERT_EQ(unlink(link.c_str()), 0);
    ASSERT_EQ(symlink(simulator->PortPath().c_str(), link.c_str()), 0);
    // Noticed without a write, and recovered on the same name.
    ASSERT_TRUE(PumpUntil([&] { return disconnections == 1; }, 5000));
    EXPECT_TRUE(Traced("## Port lost"));
    EXPECT_TRUE(protocol.Connected());
    EXPECT_TRUE(protocol.Port()->Connected());
    EXPECT_EQ(std::count(memo.lines.begin(), memo.lines.end(), "Connection done " + link), 2);
    protocol.AskNumberOfConsole();
    EXPECT_TRUE(PumpUntil([&] { return Traced("Number of Console : "); }, 3000));
    EXPECT_EQ(disconnections, 1);
    protocol.Disconnect();
    unlink(link.c_str());
    rmdir(dir);
}

TEST_F(ProtocolSimTest, MeasuresWhosePayloadHoldsAStopByteAreAllDecoded) {
    Connect();
    Register(2);
    sim::TDongleFaults faults;
    faults.measuresHold0x21 = true;
    simulator->SetFaults(faults);
    std::vector<uint16_t> rpms;
    protocol.OnMeasuresReceived = [&](const TMiraWirelessConsoleMeasures& m, uint8_t id) {
        rpms.push_back((*m)[id].Rpm);
    };
    protocol.SetMeasure(true);
    PumpUntil([] { return false; }, 2000);
    EXPECT_TRUE(protocol.TestKeys(1));  // the replies in between get through too
    protocol.SetMeasure(false);
    PumpUntil([] { return false; }, 500);
    EXPECT_EQ(static_cast<int>(rpms.size()), CountSentMeasures(simLog.Written()));
    ASSERT_FALSE(rpms.empty());
    for (uint16_t rpm : rpms) EXPECT_EQ(rpm & 0xFF, 0x21);
}

TEST_F(ProtocolSimTest, EveryPlainCommandSendsItsFrameWithItsTraceText) {
    Connect();
    memo.lines.clear();
    protocol.AskNumberOfConsole();
    protocol.SelectConsole(5);
    protocol.DeselectConsole(5);
    protocol.RemoveConsole(7);
    protocol.StartRoll(5);
    protocol.StopRoll(5);
    protocol.RequestSerial(5);
    protocol.RequestVersion(5);
    protocol.RequestFirmware(5);
    protocol.ResetTotalRolls(5);
    std::vector<std::string> sent;
    for (const auto& line : memo.lines)
        if (line.rfind("->", 0) == 0) sent.push_back(line);
    EXPECT_EQ(sent, (std::vector<std::string>{
                        "->3E0400000021 Ask Number of Console",
                        "->3E0705000021 Select Console ID=5",
                        "->3E0805000021 Deselect Console ID=5",
                        "->3E0607000021  Remove Console ID=7",
                        "->3E140501010021 Start Roll ID=5",
                        "->3E140501000021 Stop Roll ID=5",
                        "->3E0905000021 Serial Req Console 5",
                        "->3E0A05000021 Version Req Console 5",
                        "->3E1505000021 Req. Ver SW (firmware) ID=5",
                        "->3E0C05000021 Reset Total Rol ID Console=5",
                    }));
}

TEST_F(ProtocolSimTest, WithDebugTimeSentAndReceivedLinesStartWithTheTimeOfDay) {
    Connect();
    memo.lines.clear();
    protocol.SetDebugTime(true);
    protocol.AskNumberOfConsole();
    ASSERT_TRUE(PumpUntil([&] { return memo.lines.size() >= 2; }, 3000));
    // The time of day, then the arrow at once.
    for (const auto& line : memo.lines) {
        const size_t arrow = line.find_first_of("<-");
        ASSERT_NE(arrow, std::string::npos) << line;
        EXPECT_GT(arrow, 0u) << line;
        EXPECT_NE(line.find_first_of("0123456789"), arrow) << line;
    }
}

TEST_F(ProtocolSimTest, ADifferentDongleVersionIsAcceptedAndAnEarlierTableKeepsTheLink) {
    sim::TDongleOptions options = ThreeConsoles();
    options.version = 0x12;
    StartSimulator(options);
    ASSERT_TRUE(protocol.FindDongle());
    EXPECT_EQ(protocol.Consoles()[0].Version, 0x12);

    // The console table is not emptied by a new connection attempt, so a port without a
    // dongle still ends connected.
    sim::TDongleOptions silent;
    silent.version.reset();
    sim::TDongleSimulator quiet(silent);
    quiet.Start();
    protocol.Port()->SetPort(quiet.PortPath());
    EXPECT_TRUE(protocol.ConnectDongle());
    EXPECT_TRUE(protocol.Connected());
}

TEST_F(ProtocolSimTest, WithoutPortDefTheSearchStartsOnCom1) {
    EXPECT_FALSE(protocol.FindDongle());
    ASSERT_NE(protocol.Port(), nullptr);
    EXPECT_EQ(memo.lines.at(0), "Connection Failed COM1");
}

TEST_F(ProtocolSimTest, DisconnectRestoresTheDefaultsAndTracesWithoutTime) {
    Connect();
    protocol.SetDebugTime(true);
    protocol.SetReplyTimeOut(500);
    protocol.SetTimeToWaitAddNewConsole(1000);
    protocol.SetDisconDelayBetweenCloseOpenPort(50);
    protocol.Disconnect();
    EXPECT_FALSE(protocol.Connected());
    EXPECT_FALSE(protocol.Port()->Connected());
    EXPECT_FALSE(protocol.DebugTime());
    EXPECT_EQ(protocol.ReplyTimeOut(), 15000);
    EXPECT_EQ(protocol.TimeToWaitAddNewConsole(), 15000);
    EXPECT_EQ(protocol.DisconDelayBetweenCloseOpenPort(), 300);
    EXPECT_TRUE(protocol.Consoles().empty());
    EXPECT_EQ(memo.lines.back(), "Dongle disconnected!");
}

TEST_F(ProtocolSimTest, TheConsoleSearchWindowCountsWholeSeconds) {
    Connect();
    std::vector<int> positions;
    int max = -1;
    protocol.OnConnectionStatus = [&](int m, int position, TMiraConnectionStatus s,
                                      const std::string&) {
        if (s == cnsConsoleSearch) positions.push_back(position);
        max = m;
    };
    protocol.SetTimeToWaitAddNewConsole(20000);
    clock.SetIdleStep(50);
    int version, serial;
    EXPECT_EQ(protocol.FindConsole(version, serial), 0);  // registration is not open
    EXPECT_EQ(max, 20);
    ASSERT_GE(positions.size(), 2u);
    EXPECT_EQ(positions.front(), 100);  // reported before the search sets a position
    EXPECT_TRUE(std::is_sorted(positions.begin() + 1, positions.end()));
    EXPECT_EQ(positions.back(), 20);
    EXPECT_TRUE(std::count(positions.begin(), positions.end(), 7) >= 1);
}

TEST(ProtocolStoredForm, TheConsoleWaitDefaultIsNotWrittenAndLoadsAsTheConstructorValue) {
    TMiraWirelessProtocol written;
    written.SetName("tmp");
    written.SetTimeToWaitAddNewConsole(30000);
    written.SetReplyTimeOut(4000);
    const std::string form = WriteComponent(written);
    EXPECT_EQ(form.find("TimeToWaitAddNewConsole"), std::string::npos);
    TMiraWirelessProtocol read;
    ReadComponent(form, read);
    EXPECT_EQ(read.TimeToWaitAddNewConsole(), 15000);
    EXPECT_EQ(read.ReplyTimeOut(), 4000);
}

TEST_F(ProtocolSimTest, ValidFramesAmongInjectedFaultsAreAllDecoded) {
    Connect();
    Register(3);
    sim::TLinkFaults faults;
    faults.garbage = true;
    faults.splitMaxChunk = 3;
    faults.dropFraction = 0.2;
    simulator->SetLinkFaults(faults);
    sim::TDongleFaults dongleFaults;
    dongleFaults.unknownCodeFraction = 0.3;
    dongleFaults.corruptLengthFraction = 0.2;
    simulator->SetFaults(dongleFaults);
    int measures = 0;
    protocol.OnMeasuresReceived = [&](const TMiraWirelessConsoleMeasures&, uint8_t) { ++measures; };
    protocol.SetMeasure(true);
    EXPECT_TRUE(PumpUntil([&] { return measures >= 30; }, 20000));
    protocol.SetMeasure(false);
    PumpUntil([] { return false; }, 1000);  // what is still on the line arrives
    EXPECT_TRUE(Traced("??? unknown message"));

    // Each whole measures frame that went over the line must have been decoded.
    const int sent = CountSentMeasures(simLog.Written());
    EXPECT_GE(sent, 30);
    EXPECT_EQ(measures, sent);
}

}  // namespace
}  // namespace wct
